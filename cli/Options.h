#pragma once
// What the command line asked for, for one panel.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/Reporter.h"
#include "loader/Road.h"
#include "records/server/RecordsServer.h"

// What --records and --no-records chose.
struct RecordsChoice
{
    std::string file; // empty: the default file
    bool none = false;
};

struct CliOptions
{
    std::string command; // program, status, version, erase, blank, read, verify
    std::string file;    // program, verify: the upgrade file
    std::vector<std::string> ports;
    std::optional<uint32_t> baud;
    bool verify = true;                // program: read the area back afterwards (--no-verify: not)
    bool allPages = false;             // program: send every page, also those the file leaves at 0xFF
    std::optional<uint32_t> pagePause; // program: ms between a page and its status read
    bool ifDifferent = false;          // program: leave a flash that already holds the file
    std::string backup;                // program --backup
    bool overwriteBackup = false;      // program: --backup may replace a file already there
    std::string output;                // read -o
    std::optional<uint32_t> rangeStart, rangeEnd; // inclusive
    std::string recordsServer; // program, verify, erase, station (or its job): where records also go
    IngestAccess recordsAccess; // the line server's: --station-token, --server-cert
    OutputMode mode = OutputMode::Text;
    RecordsChoice records;                // program, verify, erase, station
    std::string expectSha256;             // program, station: refuse a file whose digest differs
    std::optional<uint32_t> serialAt;     // program, station: where the panel keeps its serial...
    uint32_t serialLength = 0;            // ...and how many bytes it has
    std::vector<loader::KeptRange> keep;  // program, station: bytes programmed back after the erase
    std::string scannedSerial;            // station --scan: this panel's serial as typed
    std::string tag;                      // station: stored with every record
    std::string stationRun;               // station: the id shared by its attempts
    std::string attemptId;                // station: the record's id, chosen before the attempt
    std::optional<uint32_t> base;         // program, station: the upgrade is raw binary from here
    std::vector<std::string> trustedKeys; // program, station: FILE.sig must be by one of these
    std::string preCheck;                 // program, station: asked before each erase
    std::string onResult;                 // program, station: told each attempt's record
    uint32_t hookTimeoutSeconds = 10;     // each hook's time limit

    // What the erase must not take: the kept ranges and the serial's.
    std::vector<loader::KeptRange> KeptRanges() const
    {
        std::vector<loader::KeptRange> ranges = keep;
        if (serialAt) ranges.push_back({*serialAt, serialLength});
        return ranges;
    }
};
