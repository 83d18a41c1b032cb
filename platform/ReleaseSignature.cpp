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

// Half the order n of the P-256 group, rounded down.
constexpr uint8_t kHalfOrder[32] = {0x7F, 0xFF, 0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00, 0x7F, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xDE, 0x73, 0x7D, 0x56, 0xD3, 0x8B,
                                    0xCF, 0x42, 0x79, 0xDC, 0xE5, 0x61, 0x7E, 0x31, 0x92, 0xA8};

} // namespace

bool IsLowS(std::span<const uint8_t> s)
{
    while (!s.empty() && s.front() == 0)
        s = s.subspan(1);
    if (s.size() != sizeof kHalfOrder) return s.size() < sizeof kHalfOrder;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != kHalfOrder[i]) return s[i] < kHalfOrder[i];
    }
    return true;
}

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
                                         const std::vector<TrustedKey>& keys, SForm form)
{
    const std::string name = upgradePath + ".sig";
    const std::optional<std::string> signature = ReadSmall(name, kLargestSignature);
    if (!signature) return {std::nullopt, "missing signature " + name};
    if (signature->size() > kLargestSignature) return {std::nullopt, name + ": " + kMalformedSignature};
    SignatureVerdict verdict = VerifySignature(
        data, {reinterpret_cast<const uint8_t*>(signature->data()), signature->size()}, keys, form);
    if (!verdict.Accepted()) verdict.refusal = name + ": " + verdict.refusal;
    return verdict;
}

} // namespace platform
