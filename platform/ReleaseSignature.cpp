#include "platform/ReleaseSignature.h"

#include <iterator>

#include "platform/SmallFile.h"

namespace platform {
namespace {

// A PEM public key or a DER signature is a few hundred bytes: anything far larger is
// the wrong file, not read whole.
constexpr size_t kLargestKey = kSmallFileLimit;
constexpr size_t kLargestSignature = 1024;
constexpr const char* kMalformedSignature = "malformed signature";

// The file's bytes, or nothing when it cannot be read; one larger than the small-file
// limit comes back as limit + 1 bytes, for the caller's "too large".
std::optional<std::string> ReadSmall(const std::string& path, size_t limit)
{
    const CPath name = CPath::FromUtf8(path);
    std::string text, error;
    if (ReadSmallFile(name, text, error) == SmallFileStatus::Ok) return text;
    if (const auto size = FileSize(name); size && *size > kSmallFileLimit)
        return std::string(limit + 1, '\0');
    return std::nullopt;
}

} // namespace

std::optional<std::string> ReadTrustedKeys(const std::vector<std::string>& paths,
                                           std::vector<TrustedKey>& keys)
{
    for (const std::string& path : paths) {
        const std::optional<std::string> pem = ReadSmall(path, kLargestKey);
        if (!pem) return "cannot read the trusted key " + path;
        if (pem->size() > kLargestKey) return "the trusted key " + path + " is too large";
        if (const auto why = CheckTrustedKey(*pem)) return "the trusted key " + path + ": " + *why;
        keys.push_back({path, *pem});
    }
    return std::nullopt;
}

SignatureVerdict VerifyDetachedSignature(std::span<const uint8_t> data, const std::string& upgradePath,
                                         const std::vector<TrustedKey>& keys)
{
    const std::string name = upgradePath + ".sig";
    const std::optional<std::string> signature = ReadSmall(name, kLargestSignature);
    if (!signature) return {std::nullopt, "missing signature " + name};
    if (signature->size() > kLargestSignature) return {std::nullopt, name + ": " + kMalformedSignature};
    SignatureVerdict verdict =
        VerifySignature(data, {reinterpret_cast<const uint8_t*>(signature->data()), signature->size()}, keys);
    if (!verdict.Accepted()) verdict.refusal = name + ": " + verdict.refusal;
    return verdict;
}

} // namespace platform
