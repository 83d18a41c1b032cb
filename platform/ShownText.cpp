#include "platform/ShownText.h"

#include <cstdint>
#include <cstdio>

namespace platform {

namespace {

// The length of the valid UTF-8 sequence at text[at], 0 when the byte there starts none
// (overlong forms, surrogates and values above U+10FFFF included).
size_t SequenceLength(std::string_view text, size_t at, uint32_t& code)
{
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t first = byte(at);
    size_t length;
    uint32_t least;
    if (first < 0x80) {
        code = first;
        return 1;
    } else if ((first & 0xE0) == 0xC0) {
        length = 2, least = 0x80, code = first & 0x1F;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3, least = 0x800, code = first & 0x0F;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4, least = 0x10000, code = first & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

void AppendEscaped(std::string& out, uint8_t byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02x", byte);
    out += text;
}

std::string Cleaned(std::string_view text, bool controls)
{
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        uint32_t code = 0;
        const size_t length = SequenceLength(text, at, code);
        if (length == 0) {
            AppendEscaped(out, static_cast<uint8_t>(text[at++]));
            continue;
        }
        if (controls && (code < 0x20 || code == 0x7F || (code >= 0x80 && code <= 0x9F))) {
            for (size_t i = 0; i < length; ++i)
                AppendEscaped(out, static_cast<uint8_t>(text[at + i]));
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out;
}

bool IsNumber(const std::string& cell)
{
    size_t at = cell[0] == '-' ? 1 : 0;
    bool digits = false, point = false;
    for (; at < cell.size(); ++at) {
        if (cell[at] >= '0' && cell[at] <= '9')
            digits = true;
        else if (cell[at] == '.' && !point)
            point = true;
        else
            return false;
    }
    return digits;
}

} // namespace

std::string ValidUtf8(std::string_view text)
{
    return Cleaned(text, false);
}

std::string ShownText(std::string_view text)
{
    return Cleaned(text, true);
}

std::string SpreadsheetText(const std::string& cell)
{
    if (cell.empty() || cell.find_first_of("=+-@\t\r") != 0 || IsNumber(cell)) return cell;
    return "'" + cell;
}

} // namespace platform
