#include "platform/ReleaseSignature.h"

#include "platform/Sha256.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

namespace platform {
namespace {

constexpr size_t kP256Bytes = 32;
constexpr DWORD kEncoding = X509_ASN_ENCODING;
constexpr BYTE kUncompressedPoint = 0x04;

struct LocalFreer
{
    void operator()(void* p) const { LocalFree(p); }
};
template <class T> using CLocal = std::unique_ptr<T, LocalFreer>;

// CryptDecodeObjectEx with the result in memory it allocates, freed by its owner.
template <class T> CLocal<T> Decode(LPCSTR type, const BYTE* der, size_t length)
{
    void* result = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(kEncoding, type, der, static_cast<DWORD>(length), CRYPT_DECODE_ALLOC_FLAG,
                             nullptr, &result, &size))
        return nullptr;
    return CLocal<T>(static_cast<T*>(result));
}

class CAlgorithm
{
public:
    explicit CAlgorithm(LPCWSTR name)
    {
        if (BCryptOpenAlgorithmProvider(&m_handle, name, nullptr, 0) != 0) m_handle = nullptr;
    }
    ~CAlgorithm()
    {
        if (m_handle) BCryptCloseAlgorithmProvider(m_handle, 0);
    }
    CAlgorithm(const CAlgorithm&) = delete;
    CAlgorithm& operator=(const CAlgorithm&) = delete;
    BCRYPT_ALG_HANDLE Get() const { return m_handle; }

private:
    BCRYPT_ALG_HANDLE m_handle = nullptr;
};

class CKey
{
public:
    CKey() = default;
    ~CKey()
    {
        if (m_handle) BCryptDestroyKey(m_handle);
    }
    CKey(const CKey&) = delete;
    CKey& operator=(const CKey&) = delete;
    BCRYPT_KEY_HANDLE* Receive() { return &m_handle; }
    BCRYPT_KEY_HANDLE Get() const { return m_handle; }

private:
    BCRYPT_KEY_HANDLE m_handle = nullptr;
};

// The 64 bytes of the key's point (x then y), or why the PEM is not a P-256 public key.
std::optional<std::string> ReadP256Point(const std::string& pem, std::vector<BYTE>& point)
{
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &size, nullptr, nullptr))
        return "not a PEM public key";
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              der.data(), &size, nullptr, nullptr))
        return "not a PEM public key";
    const auto info = Decode<CERT_PUBLIC_KEY_INFO>(X509_PUBLIC_KEY_INFO, der.data(), size);
    if (!info) return "not a PEM public key";
    if (!info->Algorithm.pszObjId || std::strcmp(info->Algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) != 0)
        return "not a P-256 key";
    const auto curve = Decode<LPSTR>(X509_OBJECT_IDENTIFIER, info->Algorithm.Parameters.pbData,
                                     info->Algorithm.Parameters.cbData);
    if (!curve || !*curve || std::strcmp(*curve, szOID_ECC_CURVE_P256) != 0) return "not a P-256 key";
    const CRYPT_BIT_BLOB& bits = info->PublicKey;
    if (bits.cUnusedBits != 0 || bits.cbData != 1 + 2 * kP256Bytes || bits.pbData[0] != kUncompressedPoint)
        return "not a P-256 key";
    point.assign(bits.pbData + 1, bits.pbData + bits.cbData);
    return std::nullopt;
}

// CNG wants r and s big-endian, each padded to the curve's size; CryptoAPI decodes
// them little-endian and as short as their value.
bool AppendBigEndian(const CRYPT_UINT_BLOB& value, std::vector<BYTE>& out)
{
    size_t length = value.cbData;
    while (length > 0 && value.pbData[length - 1] == 0)
        --length;
    if (length > kP256Bytes) return false;
    const size_t at = out.size();
    out.resize(at + kP256Bytes, 0);
    std::reverse_copy(value.pbData, value.pbData + length,
                      out.begin() + static_cast<std::ptrdiff_t>(at + kP256Bytes - length));
    return true;
}

CLocal<BYTE> Encode(LPCSTR type, const void* value, DWORD& size)
{
    BYTE* encoded = nullptr;
    if (!CryptEncodeObjectEx(kEncoding, type, value, CRYPT_ENCODE_ALLOC_FLAG, nullptr, &encoded, &size))
        return nullptr;
    return CLocal<BYTE>(encoded);
}

// r then s as CNG wants them, or nothing for any encoding but the one minimal one (a
// byte after it, a padded integer): the decoder takes those, so the decoded values are
// encoded again and must come back byte for byte. Integer by integer, then the
// sequence: Wine has no encoder for X509_ECC_SIGNATURE as a whole.
std::optional<std::vector<BYTE>> ReadSignature(std::span<const uint8_t> signature)
{
    const auto decoded = Decode<CERT_ECC_SIGNATURE>(X509_ECC_SIGNATURE, signature.data(), signature.size());
    if (!decoded) return std::nullopt;
    DWORD rSize = 0, sSize = 0, size = 0;
    const CLocal<BYTE> r = Encode(X509_MULTI_BYTE_UINT, &decoded->r, rSize);
    const CLocal<BYTE> s = Encode(X509_MULTI_BYTE_UINT, &decoded->s, sSize);
    if (!r || !s) return std::nullopt;
    CRYPT_DER_BLOB parts[2] = {{rSize, r.get()}, {sSize, s.get()}};
    const CRYPT_SEQUENCE_OF_ANY sequence{2, parts};
    const CLocal<BYTE> encoded = Encode(X509_SEQUENCE_OF_ANY, &sequence, size);
    if (!encoded || size != signature.size() || std::memcmp(encoded.get(), signature.data(), size) != 0)
        return std::nullopt;
    std::vector<BYTE> rs;
    if (!AppendBigEndian(decoded->r, rs) || !AppendBigEndian(decoded->s, rs)) return std::nullopt;
    return rs;
}

bool Sha256(std::span<const uint8_t> data, BYTE (&digest)[32])
{
    CSha256 hash;
    hash.Update({reinterpret_cast<const char*>(data.data()), data.size()});
    const std::optional<Sha256Digest> done = hash.Finish();
    if (!done) return false;
    std::copy(done->begin(), done->end(), digest);
    return true;
}

bool PointSigned(const std::vector<BYTE>& point, BYTE (&digest)[32], std::vector<BYTE>& rs)
{
    std::vector<BYTE> blob(sizeof(BCRYPT_ECCKEY_BLOB));
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, static_cast<ULONG>(kP256Bytes)};
    std::memcpy(blob.data(), &header, sizeof header);
    blob.insert(blob.end(), point.begin(), point.end());
    CAlgorithm algorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    CKey key;
    return algorithm.Get() &&
           BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.Receive(), blob.data(),
                               static_cast<ULONG>(blob.size()), 0) == 0 &&
           BCryptVerifySignature(key.Get(), nullptr, digest, sizeof digest, rs.data(),
                                 static_cast<ULONG>(rs.size()), 0) == 0;
}

} // namespace

std::optional<std::string> CheckTrustedKey(const std::string& pem)
{
    std::vector<BYTE> point;
    return ReadP256Point(pem, point);
}

SignatureVerdict VerifySignature(std::span<const uint8_t> data, std::span<const uint8_t> signature,
                                 const std::vector<TrustedKey>& keys, SForm form)
{
    if (keys.empty()) return {std::nullopt, "no trusted key"};
    std::optional<std::vector<BYTE>> rs = ReadSignature(signature);
    if (!rs) return {std::nullopt, "malformed signature"};
    if (form == SForm::LowOnly && !IsLowS(std::span<const uint8_t>(*rs).subspan(kP256Bytes)))
        return {std::nullopt, kHighSRefusal};
    BYTE digest[32];
    if (!Sha256(data, digest)) return {std::nullopt, "SHA-256 is not available"};
    for (const TrustedKey& trusted : keys) {
        std::vector<BYTE> point;
        if (const auto why = ReadP256Point(trusted.pem, point))
            return {std::nullopt, "the trusted key " + trusted.name + ": " + *why};
        if (PointSigned(point, digest, *rs)) return {trusted.name, {}};
    }
    return {std::nullopt, "not signed by a trusted key"};
}

std::optional<std::string> SignLowS(std::span<const uint8_t>, const std::string&, std::string&)
{
    // Releases are signed where they are built; the lines only check.
    return "releases are signed with the Linux build of torvane-cli";
}

} // namespace platform
