#pragma once
// The upgrade file, read and judged before any port is touched.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/SmallFile.h"

class CMotFile;

// No S-record file for the 16 MiB address space comes near it; more is no upgrade.
constexpr size_t kUpgradeFileLimit = 64 * 1024 * 1024;

// The upgrade and the .id beside it, each read once: the digest, the image, the record
// and the backup's .id all come from these bytes, so a file replaced on the disk while
// it is used changes nothing.
struct PinnedUpgrade
{
    std::string path; // as given
    bool read = false;
    std::string bytes;
    std::string sha256;  // of bytes; empty when they could not be read
    std::string problem; // why not read, one line for the user
    platform::SmallFileStatus idStatus = platform::SmallFileStatus::Missing;
    std::string idBytes, idProblem;
};
PinnedUpgrade ReadUpgradeFile(const std::string& path);

// Loads the pinned bytes into the image: raw binary from base when one is given, else
// S-records or Intel HEX as their content says. False when they could not be read or the
// reader refused them; `lines` then holds what the user is told (the reader's line and
// reason).
bool LoadUpgradeFile(const PinnedUpgrade& upgrade, std::optional<uint32_t> base, CMotFile& image,
                     std::vector<std::string>& lines);

// Writes the pinned .id to `to` (the backup's), as it was read; false with the line in error.
bool WritePinnedIdFile(const PinnedUpgrade& upgrade, const std::string& to, std::string& error);

// Where the image holds data bytes: inside the area that is programmed (0F0000-0FFFFF)
// and outside it.
struct AreaCoverage
{
    bool inside = false;
    bool outside = false;
};
AreaCoverage CoverageOf(const CMotFile& image);

// The upgrade's ID file beside it ("panel.mot" -> "panel.id"), or "" for another name.
std::string IdFileName(const std::string& path);
