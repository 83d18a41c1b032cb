#include "platform/Sha256.h"

#include <cstdio>
#include <vector>

#include "platform/Paths.h"
#include "platform/TextFile.h"

namespace platform {
namespace {

std::string Hex(const Sha256Digest& digest)
{
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

} // namespace

std::optional<std::string> Sha256OfFile(const CPath& path)
{
    try {
        uint64_t size = 0;
        const UniqueFile file = OpenRegularFile(path, size);
        if (!file) return std::nullopt;
        CSha256 hash;
        std::vector<char> chunk(64 * 1024);
        for (;;) {
            const size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
            hash.Update({chunk.data(), got});
            if (got < chunk.size()) break;
        }
        if (std::ferror(file.get())) return std::nullopt;
        const std::optional<Sha256Digest> digest = hash.Finish();
        if (!digest) return std::nullopt;
        return Hex(*digest);
    } catch (const CFileException&) {
        return std::nullopt;
    }
}

std::string Sha256Of(std::string_view bytes)
{
    CSha256 hash;
    hash.Update(bytes);
    const std::optional<Sha256Digest> digest = hash.Finish();
    return digest ? Hex(*digest) : std::string();
}

} // namespace platform
