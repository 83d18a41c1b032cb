#include "image/IntelHexReader.h"

#include <array>
#include <string_view>

namespace {

constexpr uint8_t kData = 0x00;
constexpr uint8_t kEnd = 0x01;
constexpr uint8_t kSegmentBase = 0x02;
constexpr uint8_t kSegmentStart = 0x03;
constexpr uint8_t kLinearBase = 0x04;
constexpr uint8_t kLinearStart = 0x05;
constexpr size_t kHeaderBytes = 4; // count, address (two), type
constexpr uint32_t kWindow = 0x10000;

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

} // namespace

std::optional<ImageRefusal> LoadIntelHex(std::span<const uint8_t> bytes, CMotFile& image)
{
    image.BeginLoad();
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::array<uint8_t, 260> work{};
    uint32_t base = 0;
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
            if (address + length > CMotFile::kAddressLimit)
                return ImageRefusal{number, "address beyond the 16 MiB address space"};
            image.PutData(static_cast<uint32_t>(address), record.data.data(), static_cast<uint32_t>(length));
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
            base = record.type == kSegmentBase ? value << 4 : value << 16;
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
