#include "image/UpgradeFormat.h"

UpgradeFormat JudgeUpgradeFormat(std::span<const uint8_t> bytes, std::optional<uint32_t> base)
{
    if (base) return UpgradeFormat::Binary;
    // Both readers pass over empty lines, so a file may start with line ends.
    for (const uint8_t byte : bytes) {
        if (byte == '\r' || byte == '\n') continue;
        if (byte == 'S') return UpgradeFormat::SRecords;
        if (byte == ':') return UpgradeFormat::IntelHex;
        break;
    }
    return UpgradeFormat::Unknown;
}
