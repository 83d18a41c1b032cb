#pragma once
// A station's job file: the settings of one line's job in a [station] section, read whole
// or refused in one line. What the command line gives wins; the caller merges.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "loader/Protocol.h"
#include "loader/Road.h"

namespace station {

// The page pauses the "Set baudrate" dialog offers, as `program` takes them.
inline const std::vector<uint32_t> kPagePauses(std::begin(linktime::kPagePauses),
                                               std::end(linktime::kPagePauses));

struct SerialArea
{
    uint32_t address = 0, length = 0;
};

// "0F0000" or "0x0F0000": an address below 0x1000000.
std::optional<uint32_t> ParseHexAddress(const std::string& text);
// "E0000:16": up to `longest` bytes below the area that is programmed.
std::optional<SerialArea> ParseSerialArea(const std::string& text, uint32_t longest = 256);
// The most a kept range may hold: the pages kept in all.
inline constexpr uint32_t kLongestKeptArea = loader::kMostKeptPages * kPageSize;

// Every setting a job may hold; unset where the job says nothing. Names of files are
// the job file's neighbours when relative.
struct StationJob
{
    std::string file, sha256;
    std::vector<std::string> ports;
    std::optional<uint32_t> baud, pagePause;
    std::optional<bool> verify;
    std::string tag, backupDir, records;
    std::optional<uint32_t> base;
    std::vector<std::string> trustedKeys;
    std::string preCheck, onResult;
    std::optional<uint32_t> hookTimeoutSeconds;
    std::optional<SerialArea> serialAt;
    std::vector<SerialArea> keep;
    std::string recordsServer; // as written: the front end judges it
    std::string stationToken;  // the line server's token file
    std::string serverCert;    // the line server's certificate (PEM), pinned
};

// False with the line in error when the file cannot be read or holds a key or a value
// that is not understood.
bool ReadStationJob(const std::string& jobFile, StationJob& job, std::string& error);

} // namespace station
