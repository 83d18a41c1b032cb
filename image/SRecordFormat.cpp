#include "image/SRecordFormat.h"

#include <algorithm>
#include <cstdio>

#include "image/MotFile.h"
#include "image/UpgradeFormats.h"

namespace {

std::string Record(char type, uint32_t address, int addressBytes, const uint8_t* data, size_t length)
{
    const unsigned count = static_cast<unsigned>(addressBytes + length + 1);
    unsigned sum = count;
    char hex[3];
    std::string line = "S";
    line += type;
    std::snprintf(hex, sizeof hex, "%02X", count);
    line += hex;
    for (int i = addressBytes - 1; i >= 0; --i) {
        const unsigned byte = (address >> (8 * i)) & 0xFF;
        sum += byte;
        std::snprintf(hex, sizeof hex, "%02X", byte);
        line += hex;
    }
    for (size_t i = 0; i < length; ++i) {
        sum += data[i];
        std::snprintf(hex, sizeof hex, "%02X", data[i]);
        line += hex;
    }
    std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFF);
    line += hex;
    return line + "\r\n";
}

} // namespace

std::string SRecordText(uint32_t start, const std::vector<uint8_t>& bytes)
{
    const uint8_t header[] = {'t', 'o', 'r', 'v', 'a', 'n', 'e'};
    std::string text = Record('0', 0, 2, header, sizeof header);
    constexpr size_t kLine = 16;
    for (size_t offset = 0; offset < bytes.size(); offset += kLine) {
        const size_t n = std::min(kLine, bytes.size() - offset);
        const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(offset);
        if (std::all_of(first, first + static_cast<std::ptrdiff_t>(n), [](uint8_t b) { return b == 0xFF; }))
            continue;
        text += Record('2', start + static_cast<uint32_t>(offset), 3, bytes.data() + offset, n);
    }
    return text + Record('8', 0, 3, nullptr, 0);
}

namespace {

bool TellsSRecords(std::span<const uint8_t> bytes)
{
    return FirstMark(bytes) == uint8_t{'S'};
}

std::optional<ImageRefusal> ReadSRecords(std::span<const uint8_t> bytes, std::optional<uint32_t>,
                                         CMotFile& image)
{
    if (image.LoadBytes({reinterpret_cast<const char*>(bytes.data()), bytes.size()})) return std::nullopt;
    return image.Refusal().value_or(ImageRefusal{0, "not an S-record file"});
}

} // namespace

extern const UpgradeFormat kSRecordFormat;
const UpgradeFormat kSRecordFormat{
    "S-records", TellsSRecords, ReadSRecords, SRecordText, {".mot", ".s", ".btp", ".srec"}};
