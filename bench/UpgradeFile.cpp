#include "bench/UpgradeFile.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace bench {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

struct FileCloser
{
    void operator()(FILE* file) const { std::fclose(file); }
};

char* PutByte(char* out, uint8_t value)
{
    out[0] = kDigits[value >> 4];
    out[1] = kDigits[value & 0x0F];
    return out + 2;
}

} // namespace

uint8_t ContentAt(uint32_t address)
{
    // A hash rather than a counter: no page repeats another, no page is all 0xFF.
    uint32_t x = address * 0x9E3779B1u;
    x ^= x >> 15;
    x *= 0x85EBCA77u;
    x ^= x >> 13;
    return static_cast<uint8_t>(x >> 8);
}

bool WriteS2File(const std::string& path, uint32_t start, uint32_t length)
{
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    std::string text = "S00600004844521B\n";
    text.reserve(1 << 20);
    char line[2 + 2 + 6 + 2 * 256 + 2 + 1];
    const uint32_t end = start + length;
    for (uint32_t address = start; address < end; address += kBytesPerRecord) {
        const uint32_t count = std::min(kBytesPerRecord, end - address);
        const uint8_t recordLength = static_cast<uint8_t>(count + 4);
        unsigned sum = recordLength + (address >> 16 & 0xFF) + (address >> 8 & 0xFF) + (address & 0xFF);
        char* out = line;
        *out++ = 'S';
        *out++ = '2';
        out = PutByte(out, recordLength);
        out = PutByte(out, static_cast<uint8_t>(address >> 16));
        out = PutByte(out, static_cast<uint8_t>(address >> 8));
        out = PutByte(out, static_cast<uint8_t>(address));
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t value = ContentAt(address + i);
            sum += value;
            out = PutByte(out, value);
        }
        out = PutByte(out, static_cast<uint8_t>(~sum));
        *out++ = '\n';
        text.append(line, out);
        if (text.size() > (1u << 20) - sizeof line) {
            if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size()) return false;
            text.clear();
        }
    }
    text += "S804000000FB\n";
    if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size()) return false;
    return std::fflush(file.get()) == 0;
}

} // namespace bench
