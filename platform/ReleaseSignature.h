#pragma once
// Whether an upgrade was signed by a key the line trusts: a detached ECDSA P-256
// signature over SHA-256 in DER, as `openssl dgst -sha256 -sign KEY -out FILE.sig FILE`
// writes it, checked against public keys as `openssl pkey -pubout` writes them. Where the
// caller asks, of the two valid forms of a signature (s and n - s) only the low one is
// taken, so a release has one signature. OpenSSL on POSIX, the system's CryptoAPI and
// CNG on Windows; both refuse the same signatures.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

struct TrustedKey
{
    std::string name; // as the user named the file: what the record keeps
    std::string pem;
};

struct SignatureVerdict
{
    std::optional<std::string> signer; // the trusted key's name
    std::string refusal;               // one line when refused
    bool Accepted() const { return signer.has_value(); }
};

// Reads each public key file and checks it is a P-256 key; nothing when all are, else the
// first one's trouble on one line (keys holds those read before it).
std::optional<std::string> ReadTrustedKeys(const std::vector<std::string>& paths,
                                           std::vector<TrustedKey>& keys);

// Nothing when pem is a P-256 public key, else why not.
std::optional<std::string> CheckTrustedKey(const std::string& pem);

enum class SForm { Either, LowOnly };

// Accepted with the first key the signature (DER, in its one minimal encoding) matches.
SignatureVerdict VerifySignature(std::span<const uint8_t> data, std::span<const uint8_t> signature,
                                 const std::vector<TrustedKey>& keys, SForm form = SForm::LowOnly);

// The same with the signature read from upgradePath + ".sig"; a missing one is refused.
SignatureVerdict VerifyDetachedSignature(std::span<const uint8_t> data, const std::string& upgradePath,
                                         const std::vector<TrustedKey>& keys, SForm form = SForm::LowOnly);

constexpr const char* kHighSRefusal = "a signature in its high-s form (sign it again with torvane-cli sign)";

// True when s (big-endian, at most 32 bytes) is at most half the P-256 group order.
bool IsLowS(std::span<const uint8_t> s);

// Signs data with a PEM private P-256 key into signature (DER, low s). Nothing, or why
// not in one line. Only the Linux build signs; the Windows build says so.
std::optional<std::string> SignLowS(std::span<const uint8_t> data, const std::string& privatePem,
                                    std::string& signature);

} // namespace platform
