#include "image/UpgradeFormats.h"

#include <algorithm>
#include <cctype>

extern const UpgradeFormat kSRecordFormat;
extern const UpgradeFormat kIntelHexFormat;
extern const UpgradeFormat kBinaryFormat;

const std::vector<const UpgradeFormat*>& UpgradeFormats()
{
    static const std::vector<const UpgradeFormat*> formats = {&kSRecordFormat, &kIntelHexFormat,
                                                              &kBinaryFormat};
    return formats;
}

const UpgradeFormat& SRecordFormat()
{
    return kSRecordFormat;
}

const UpgradeFormat& ReaderFor(std::span<const uint8_t> bytes, std::optional<uint32_t> base)
{
    for (const UpgradeFormat* format : UpgradeFormats()) {
        if (base ? format->needsBase : !format->needsBase && format->tells(bytes)) return *format;
    }
    return kSRecordFormat;
}

const UpgradeFormat& WriterFor(std::string_view path)
{
    const auto endsWith = [&](std::string_view extension) {
        return path.size() >= extension.size() &&
               std::equal(extension.begin(), extension.end(),
                          path.end() - static_cast<long>(extension.size()),
                          [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
    };
    for (const UpgradeFormat* format : UpgradeFormats()) {
        if (std::any_of(format->extensions.begin(), format->extensions.end(), endsWith)) return *format;
    }
    return kSRecordFormat;
}

std::optional<uint8_t> FirstMark(std::span<const uint8_t> bytes)
{
    for (const uint8_t byte : bytes) {
        if (byte != '\r' && byte != '\n') return byte;
    }
    return std::nullopt;
}
