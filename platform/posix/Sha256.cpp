#include "platform/Sha256.h"

#include <fstream>
#include <vector>

#include <nettle/sha2.h>

namespace platform {
namespace {

std::string HexDigest(sha256_ctx& context)
{
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

} // namespace

std::optional<std::string> Sha256OfFile(const CPath& pathGiven)
{
    const std::filesystem::path& path = pathGiven.Native();
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    sha256_ctx context;
    sha256_init(&context);
    std::vector<char> chunk(64 * 1024);
    while (file) {
        file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        sha256_update(&context, static_cast<size_t>(file.gcount()), reinterpret_cast<uint8_t*>(chunk.data()));
    }
    if (file.bad()) return std::nullopt;
    return HexDigest(context);
}

std::string Sha256Of(std::string_view bytes)
{
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
    return HexDigest(context);
}

} // namespace platform
