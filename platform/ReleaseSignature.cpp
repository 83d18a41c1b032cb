#include "platform/ReleaseSignature.h"

#include <fstream>
#include <iterator>

#include "platform/Paths.h"

namespace platform {
namespace {

// A PEM public key or a DER signature is a few hundred bytes: anything far larger is
// the wrong file, not read whole.
constexpr std::streamsize kLargestKey = 64 * 1024;
constexpr std::streamsize kLargestSignature = 1024;
constexpr const char* kMalformedSignature = "malformed signature";

std::optional<std::string> ReadSmall(const std::string& path, std::streamsize limit)
{
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(static_cast<size_t>(limit) + 1, '\0');
    in.read(text.data(), limit + 1);
    if (in.bad()) return std::nullopt;
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

} // namespace

std::optional<std::string> ReadTrustedKeys(const std::vector<std::string>& paths,
                                           std::vector<TrustedKey>& keys)
{
    for (const std::string& path : paths) {
        const std::optional<std::string> pem = ReadSmall(path, kLargestKey);
        if (!pem) return "cannot read the trusted key " + path;
        if (pem->size() > static_cast<size_t>(kLargestKey))
            return "the trusted key " + path + " is too large";
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
    if (signature->size() > static_cast<size_t>(kLargestSignature))
        return {std::nullopt, name + ": " + kMalformedSignature};
    SignatureVerdict verdict =
        VerifySignature(data, {reinterpret_cast<const uint8_t*>(signature->data()), signature->size()}, keys);
    if (!verdict.Accepted()) verdict.refusal = name + ": " + verdict.refusal;
    return verdict;
}

} // namespace platform
