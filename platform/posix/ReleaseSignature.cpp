#include "platform/ReleaseSignature.h"

#include <cstring>
#include <memory>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>

namespace platform {
namespace {

constexpr int kP256Bytes = 32;

struct OpenSslFree
{
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
    void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(unsigned char* p) const { OPENSSL_free(p); }
    void operator()(EC_GROUP* p) const { EC_GROUP_free(p); }
};
template <class T> using COwned = std::unique_ptr<T, OpenSslFree>;

// OpenSSL's error queue is per thread and shared with libpq's TLS: what a
// refused key or signature leaves there must not be read later as that code's error.
struct CErrorQueueScope
{
    ~CErrorQueueScope() { ERR_clear_error(); }
};

COwned<EVP_PKEY> ReadP256Key(const std::string& pem, std::string& why)
{
    COwned<BIO> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    COwned<EVP_PKEY> key(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key) {
        why = "not a PEM public key";
        return nullptr;
    }
    char group[80] = {};
    size_t length = 0;
    if (!EVP_PKEY_is_a(key.get(), "EC") ||
        EVP_PKEY_get_group_name(key.get(), group, sizeof group, &length) != 1 ||
        std::strcmp(group, SN_X9_62_prime256v1) != 0) {
        why = "not a P-256 key";
        return nullptr;
    }
    return key;
}

// OpenSSL's verification takes a signature with bytes after it, which CryptoAPI does
// not: both builds take only the one minimal encoding, with r and s of curve size.
bool IsMinimalSignature(std::span<const uint8_t> signature, bool& lowS)
{
    const unsigned char* at = signature.data();
    COwned<ECDSA_SIG> parsed(d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(signature.size())));
    if (!parsed || at != signature.data() + signature.size()) return false;
    unsigned char* encoded = nullptr;
    const int length = i2d_ECDSA_SIG(parsed.get(), &encoded);
    COwned<unsigned char> owner(encoded);
    if (length <= 0 || static_cast<size_t>(length) != signature.size() ||
        std::memcmp(encoded, signature.data(), signature.size()) != 0)
        return false;
    const BIGNUM* s = ECDSA_SIG_get0_s(parsed.get());
    if (BN_num_bytes(ECDSA_SIG_get0_r(parsed.get())) > kP256Bytes || BN_num_bytes(s) > kP256Bytes)
        return false;
    uint8_t sBytes[kP256Bytes];
    lowS = BN_bn2binpad(s, sBytes, kP256Bytes) == kP256Bytes && IsLowS(sBytes);
    return true;
}

COwned<EVP_PKEY> ReadP256PrivateKey(const std::string& pem, std::string& why)
{
    COwned<BIO> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    COwned<EVP_PKEY> key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    char group[80] = {};
    size_t length = 0;
    if (!key) {
        why = "not a PEM private key (or one with a passphrase)";
    } else if (!EVP_PKEY_is_a(key.get(), "EC") ||
               EVP_PKEY_get_group_name(key.get(), group, sizeof group, &length) != 1 ||
               std::strcmp(group, SN_X9_62_prime256v1) != 0) {
        why = "not a P-256 key";
        key.reset();
    }
    return key;
}

} // namespace

std::optional<std::string> CheckTrustedKey(const std::string& pem)
{
    CErrorQueueScope scope;
    std::string why;
    if (!ReadP256Key(pem, why)) return why;
    return std::nullopt;
}

SignatureVerdict VerifySignature(std::span<const uint8_t> data, std::span<const uint8_t> signature,
                                 const std::vector<TrustedKey>& keys, SForm form)
{
    CErrorQueueScope scope;
    if (keys.empty()) return {std::nullopt, "no trusted key"};
    bool lowS = false;
    if (!IsMinimalSignature(signature, lowS)) return {std::nullopt, "malformed signature"};
    if (form == SForm::LowOnly && !lowS) return {std::nullopt, kHighSRefusal};
    for (const TrustedKey& trusted : keys) {
        std::string why;
        COwned<EVP_PKEY> key = ReadP256Key(trusted.pem, why);
        if (!key) return {std::nullopt, "the trusted key " + trusted.name + ": " + why};
        COwned<EVP_MD_CTX> context(EVP_MD_CTX_new());
        if (context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
            EVP_DigestVerify(context.get(), signature.data(), signature.size(), data.data(), data.size()) ==
                1)
            return {trusted.name, {}};
    }
    return {std::nullopt, "not signed by a trusted key"};
}

std::optional<std::string> SignLowS(std::span<const uint8_t> data, const std::string& privatePem,
                                    std::string& signature)
{
    CErrorQueueScope scope;
    std::string why;
    const COwned<EVP_PKEY> key = ReadP256PrivateKey(privatePem, why);
    if (!key) return why;
    COwned<EVP_MD_CTX> context(EVP_MD_CTX_new());
    size_t length = 0;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, data.data(), data.size()) != 1)
        return "the key cannot sign";
    std::string der(length, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(der.data()), &length, data.data(),
                       data.size()) != 1)
        return "the key cannot sign";
    der.resize(length);
    // Of the two valid forms, the low one: s replaced by n - s when it is the high one.
    const unsigned char* at = reinterpret_cast<const unsigned char*>(der.data());
    COwned<ECDSA_SIG> parsed(d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(der.size())));
    if (!parsed) return "the key cannot sign";
    const BIGNUM* s = ECDSA_SIG_get0_s(parsed.get());
    uint8_t sBytes[kP256Bytes];
    if (BN_bn2binpad(s, sBytes, kP256Bytes) != kP256Bytes) return "the key cannot sign";
    if (!IsLowS(sBytes)) {
        const COwned<EC_GROUP> group(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1));
        BIGNUM* r = BN_dup(ECDSA_SIG_get0_r(parsed.get()));
        BIGNUM* low = BN_new();
        if (!group || !r || !low || !BN_sub(low, EC_GROUP_get0_order(group.get()), s) ||
            ECDSA_SIG_set0(parsed.get(), r, low) != 1) {
            BN_free(r);
            BN_free(low);
            return "the key cannot sign";
        }
    }
    unsigned char* encoded = nullptr;
    const int size = i2d_ECDSA_SIG(parsed.get(), &encoded);
    COwned<unsigned char> owner(encoded);
    if (size <= 0) return "the key cannot sign";
    signature.assign(reinterpret_cast<const char*>(encoded), static_cast<size_t>(size));
    return std::nullopt;
}

} // namespace platform
