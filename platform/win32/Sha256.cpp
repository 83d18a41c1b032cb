#include "platform/Sha256.h"

#include <algorithm>
#include <vector>

#include <windows.h>

#include <bcrypt.h>

#include "platform/win32/Win32Text.h"

namespace platform {

namespace {

// Owns a CNG hash object (and the algorithm provider it came from).
class CCngHash
{
public:
    CCngHash()
    {
        if (BCryptOpenAlgorithmProvider(&m_algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
            m_algorithm = nullptr;
            return;
        }
        if (BCryptCreateHash(m_algorithm, &m_hash, nullptr, 0, nullptr, 0, 0) != 0) m_hash = nullptr;
    }
    ~CCngHash()
    {
        if (m_hash) BCryptDestroyHash(m_hash);
        if (m_algorithm) BCryptCloseAlgorithmProvider(m_algorithm, 0);
    }
    CCngHash(const CCngHash&) = delete;
    CCngHash& operator=(const CCngHash&) = delete;

    bool Valid() const { return m_hash != nullptr; }
    bool Update(const char* data, size_t length)
    {
        return BCryptHashData(m_hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data)),
                              static_cast<ULONG>(length), 0) == 0;
    }
    bool Finish(unsigned char (&digest)[32])
    {
        return BCryptFinishHash(m_hash, digest, sizeof digest, 0) == 0;
    }

private:
    BCRYPT_ALG_HANDLE m_algorithm = nullptr;
    BCRYPT_HASH_HANDLE m_hash = nullptr;
};

} // namespace

std::optional<std::string> Sha256OfFile(const CPath& path)
{
    win32::CFileHandle file(CreateFileW(path.Native().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return std::nullopt;
    CCngHash hash;
    if (!hash.Valid()) return std::nullopt;
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr))
            return std::nullopt;
        if (got == 0) break;
        if (!hash.Update(chunk.data(), got)) return std::nullopt;
    }
    unsigned char digest[32];
    if (!hash.Finish(digest)) return std::nullopt;
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

std::string Sha256Of(std::string_view bytes)
{
    CCngHash hash;
    if (!hash.Valid()) return {};
    // CNG takes at most 4 GiB per call.
    for (size_t done = 0; done < bytes.size();) {
        const size_t chunk = std::min<size_t>(bytes.size() - done, 1u << 30);
        if (!hash.Update(bytes.data() + done, chunk)) return {};
        done += chunk;
    }
    unsigned char digest[32];
    if (!hash.Finish(digest)) return {};
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

} // namespace platform
