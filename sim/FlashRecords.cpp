#include "sim/FlashRecords.h"

#include <cstdio>
#include <vector>

namespace sim {

namespace {

constexpr uint32_t kBytesPerRecord = 32;

std::string Record(char type, uint32_t address, int addressBytes, const uint8_t* data, uint32_t length)
{
    std::vector<uint8_t> body;
    body.push_back(static_cast<uint8_t>(addressBytes + length + 1));
    for (int shift = (addressBytes - 1) * 8; shift >= 0; shift -= 8)
        body.push_back(static_cast<uint8_t>(address >> shift));
    body.insert(body.end(), data, data + length);
    uint8_t sum = 0;
    for (uint8_t b : body)
        sum = static_cast<uint8_t>(sum + b);
    body.push_back(static_cast<uint8_t>(~sum));

    std::string line{'S', type};
    char hex[3];
    for (uint8_t b : body) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    return line + "\n";
}

} // namespace

std::string FormatFlashAsSRecords(const CBootLoader& device)
{
    static const uint8_t kHeader[] = {'t', 'o', 'r', 'v', 'a', 'n', 'e', '-', 's', 'i', 'm'};
    std::string text = Record('0', 0, 2, kHeader, sizeof kHeader);
    for (uint32_t page : device.NonBlankPages()) {
        const std::vector<uint8_t> data = device.ReadFlashRange(page, CBootLoader::kPageSize);
        for (uint32_t offset = 0; offset < data.size(); offset += kBytesPerRecord)
            text += Record('2', page + offset, 3, data.data() + offset, kBytesPerRecord);
    }
    return text + Record('8', 0, 3, nullptr, 0);
}

} // namespace sim
