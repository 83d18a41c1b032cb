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

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

bool LoadSRecordsIntoFlash(CBootLoader& device, const std::string& text, std::string& error)
{
    size_t number = 0;
    for (size_t begin = 0; begin < text.size();) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        if (line.size() < 4 || line[0] != 'S') {
            error = where + "not an S-record";
            return false;
        }
        const int type = line[1] - '0';
        if (type < 1 || type > 3) continue;
        std::vector<uint8_t> bytes;
        for (size_t i = 2; i + 1 < line.size(); i += 2) {
            const int high = HexValue(line[i]);
            const int low = HexValue(line[i + 1]);
            if (high < 0 || low < 0) {
                error = where + "not hexadecimal";
                return false;
            }
            bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        }
        const size_t addressBytes = static_cast<size_t>(type) + 1;
        if (bytes.empty() || bytes[0] + 1u != bytes.size() || bytes[0] < addressBytes + 1) {
            error = where + "count does not fit the line";
            return false;
        }
        uint8_t sum = 0;
        for (size_t i = 0; i + 1 < bytes.size(); ++i)
            sum = static_cast<uint8_t>(sum + bytes[i]);
        if (static_cast<uint8_t>(~sum) != bytes.back()) {
            error = where + "checksum";
            return false;
        }
        uint32_t address = 0;
        for (size_t i = 1; i <= addressBytes; ++i)
            address = address * 256 + bytes[i];
        for (size_t i = addressBytes + 1; i + 1 < bytes.size(); ++i)
            device.WriteFlash((address + static_cast<uint32_t>(i - addressBytes - 1)) & 0xFFFFFF, bytes[i]);
    }
    return true;
}

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
