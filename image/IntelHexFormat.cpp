#include "image/IntelHexFormat.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "image/UpgradeFormats.h"

namespace {

constexpr uint8_t kData = 0x00;
constexpr uint8_t kEnd = 0x01;
constexpr uint8_t kSegmentBase = 0x02;
constexpr uint8_t kSegmentStart = 0x03;
constexpr uint8_t kLinearBase = 0x04;
constexpr uint8_t kLinearStart = 0x05;
constexpr size_t kHeaderBytes = 4; // count, address (two), type
constexpr uint32_t kWindow = 0x10000;
// A segment address (type 02) reaches at most 1 MiB; a real-mode reader would wrap there.
constexpr uint64_t kSegmentReach = 0x100000;
constexpr size_t kLine = 16;

// A record's bytes after the colon, or why the line is not one.
struct Record
{
    uint8_t type = 0;
    uint16_t offset = 0;
    std::span<const uint8_t> data;
};

std::optional<std::string> DecodeLine(std::string_view line, std::array<uint8_t, 260>& bytes, Record& record)
{
    if (line.empty() || line[0] != ':') return "not an Intel HEX record";
    line.remove_prefix(1);
    if (line.size() % 2 != 0 || line.size() < 2 * (kHeaderBytes + 1) || line.size() > 2 * bytes.size())
        return "record length does not match its count";
    const size_t count = line.size() / 2;
    unsigned sum = 0;
    for (size_t i = 0; i < count; ++i) {
        uint8_t byte = 0xFF;
        if (!CMotFile::HexPairToByte(byte, line[2 * i], line[2 * i + 1])) return "not a hexadecimal digit";
        bytes[i] = byte;
        sum += byte;
    }
    if (count != kHeaderBytes + 1 + size_t{bytes[0]}) return "record length does not match its count";
    if (sum % 256 != 0) return "checksum does not match";
    record.offset = static_cast<uint16_t>(bytes[1] << 8 | bytes[2]);
    record.type = bytes[3];
    record.data = std::span<const uint8_t>(bytes.data() + kHeaderBytes, bytes[0]);
    return std::nullopt;
}

std::string RecordLine(uint8_t type, uint16_t offset, const uint8_t* data, size_t length)
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

std::optional<ImageRefusal> LoadIntelHex(std::span<const uint8_t> bytes, CMotFile& image)
{
    image.BeginLoad();
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::array<uint8_t, 260> work{};
    uint32_t base = 0;
    bool segmented = false;
    bool ended = false;
    size_t number = 0;
    for (size_t begin = 0; begin < text.size();) {
        size_t end = text.find('\n', begin);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(begin, end - begin);
        begin = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        // Anything after the end record is a second file pasted on, or damage.
        if (ended) return ImageRefusal{number, "text after the end record"};
        Record record;
        if (auto why = DecodeLine(line, work, record)) return ImageRefusal{number, *why};
        const size_t length = record.data.size();
        switch (record.type) {
        case kData: {
            // A record that runs past its window would wrap to its start in one reading and
            // carry on into the next window in another: refused rather than guessed.
            if (record.offset + length > kWindow)
                return ImageRefusal{number, "record crosses a 64 KiB boundary"};
            const uint64_t address = uint64_t{base} + record.offset;
            if (segmented && address + length > kSegmentReach)
                return ImageRefusal{number, "record reaches past the 1 MiB of a segment address"};
            if (address + length > CMotFile::kAddressLimit)
                return ImageRefusal{number, "address beyond the 16 MiB address space"};
            if (!image.PutData(static_cast<uint32_t>(address), record.data.data(),
                               static_cast<uint32_t>(length)))
                return ImageRefusal{number, CMotFile::kOverlapReason};
            break;
        }
        case kEnd:
            if (length != 0 || record.offset != 0) return ImageRefusal{number, "malformed end record"};
            ended = true;
            break;
        case kSegmentBase:
        case kLinearBase: {
            if (length != 2 || record.offset != 0) return ImageRefusal{number, "malformed address record"};
            const uint32_t value = static_cast<uint32_t>(record.data[0] << 8 | record.data[1]);
            segmented = record.type == kSegmentBase;
            base = segmented ? value << 4 : value << 16;
            break;
        }
        case kSegmentStart:
        case kLinearStart:
            if (length != 4 || record.offset != 0)
                return ImageRefusal{number, "malformed start address record"};
            break; // where a program would start: nothing to flash
        default:
            return ImageRefusal{number, "unknown record type"};
        }
    }
    if (!ended) return ImageRefusal{number + 1, "the file ends without its end record"};
    image.EndLoadWhole();
    return std::nullopt;
}

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
            text += RecordLine(kLinearBase, 0, upper, sizeof upper);
        }
        text += RecordLine(kData, static_cast<uint16_t>(address % kWindow), data, n);
    }
    return text + RecordLine(kEnd, 0, nullptr, 0);
}

namespace {

bool TellsIntelHex(std::span<const uint8_t> bytes)
{
    return FirstMark(bytes) == uint8_t{':'};
}

std::optional<ImageRefusal> ReadIntelHex(std::span<const uint8_t> bytes, std::optional<uint32_t>,
                                         CMotFile& image)
{
    return LoadIntelHex(bytes, image);
}

} // namespace

extern const UpgradeFormat kIntelHexFormat;
const UpgradeFormat kIntelHexFormat{
    "Intel HEX", TellsIntelHex, ReadIntelHex, IntelHexText, {".hex", ".ihex"}};
