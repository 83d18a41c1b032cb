#pragma once
// Whether an upgrade was signed by a key the line trusts: a detached ECDSA P-256
// signature over SHA-256, as `openssl dgst -sha256 -sign KEY -out FILE.sig FILE` writes
// it, checked against public keys as `openssl pkey -pubout` writes them. OpenSSL on
// POSIX, the system's CryptoAPI and CNG on Windows; both refuse the same signatures.
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

// Accepted with the first key the signature (DER, in its one minimal encoding) matches.
SignatureVerdict VerifySignature(std::span<const uint8_t> data, std::span<const uint8_t> signature,
                                 const std::vector<TrustedKey>& keys);

// The same with the signature read from upgradePath + ".sig"; a missing one is refused.
SignatureVerdict VerifyDetachedSignature(std::span<const uint8_t> data, const std::string& upgradePath,
                                         const std::vector<TrustedKey>& keys);

} // namespace platform
