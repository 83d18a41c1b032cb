#include "platform/Sha256.h"

#include <algorithm>

#include <windows.h>

#include <bcrypt.h>

namespace platform {

// A CNG hash object and the algorithm provider it came from.
struct CSha256::State
{
    State()
    {
        if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
            algorithm = nullptr;
            return;
        }
        if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0) hash = nullptr;
        good = hash != nullptr;
    }
    ~State()
    {
        if (hash) BCryptDestroyHash(hash);
        if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool good = false;
};

CSha256::CSha256() : m_state(std::make_unique<State>()) {}

CSha256::~CSha256() = default;

void CSha256::Update(std::string_view bytes)
{
    // CNG takes at most 4 GiB per call.
    for (size_t done = 0; m_state->good && done < bytes.size();) {
        const size_t chunk = std::min<size_t>(bytes.size() - done, 1u << 30);
        m_state->good =
            BCryptHashData(m_state->hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data() + done)),
                           static_cast<ULONG>(chunk), 0) == 0;
        done += chunk;
    }
}

std::optional<Sha256Digest> CSha256::Finish()
{
    Sha256Digest digest{};
    if (!m_state->good ||
        BCryptFinishHash(m_state->hash, digest.data(), static_cast<ULONG>(digest.size()), 0) != 0)
        return std::nullopt;
    m_state->good = false;
    return digest;
}

} // namespace platform
