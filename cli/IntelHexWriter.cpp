#include "cli/IntelHexWriter.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr uint8_t kData = 0x00;
constexpr uint8_t kEnd = 0x01;
constexpr uint8_t kLinearBase = 0x04;
constexpr size_t kLine = 16;
constexpr uint32_t kWindow = 0x10000;

std::string Record(uint8_t type, uint16_t offset, const uint8_t* data, size_t length)
{
    unsigned sum = static_cast<unsigned>(length) + (offset >> 8) + (offset & 0xFF) + type;
    char hex[16];
    std::snprintf(hex, sizeof hex, ":%02X%04X%02X", static_cast<unsigned>(length), offset, type);
    std::string line = hex;
    for (size_t i = 0; i < length; ++i) {
        sum += data[i];
        std::snprintf(hex, sizeof hex, "%02X", data[i]);
        line += hex;
    }
    std::snprintf(hex, sizeof hex, "%02X", -sum & 0xFF);
    return line + hex + "\r\n";
}

} // namespace

std::string IntelHexText(uint32_t start, const std::vector<uint8_t>& bytes)
{
    std::string text;
    bool haveWindow = false;
    uint32_t window = 0;
    for (size_t offset = 0; offset < bytes.size();) {
        const uint32_t address = start + static_cast<uint32_t>(offset);
        // A record never runs past its 64 KiB window: the readers refuse one that does.
        const size_t n = std::min({kLine, bytes.size() - offset, size_t{kWindow - address % kWindow}});
        const uint8_t* data = bytes.data() + offset;
        offset += n;
        if (std::all_of(data, data + n, [](uint8_t b) { return b == 0xFF; })) continue;
        if (!haveWindow || address / kWindow != window) {
            window = address / kWindow;
            haveWindow = true;
            const uint8_t upper[] = {static_cast<uint8_t>(window >> 8), static_cast<uint8_t>(window)};
            text += Record(kLinearBase, 0, upper, sizeof upper);
        }
        text += Record(kData, static_cast<uint16_t>(address % kWindow), data, n);
    }
    return text + Record(kEnd, 0, nullptr, 0);
}
