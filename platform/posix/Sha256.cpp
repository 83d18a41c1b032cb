#include "platform/Sha256.h"

#include <openssl/evp.h>

namespace platform {

struct CSha256::State
{
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool good = context && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
    ~State() { EVP_MD_CTX_free(context); }
};

CSha256::CSha256() : m_state(std::make_unique<State>()) {}

CSha256::~CSha256() = default;

void CSha256::Update(std::string_view bytes)
{
    m_state->good = m_state->good && EVP_DigestUpdate(m_state->context, bytes.data(), bytes.size()) == 1;
}

std::optional<Sha256Digest> CSha256::Finish()
{
    Sha256Digest digest{};
    unsigned int length = 0;
    if (!m_state->good || EVP_DigestFinal_ex(m_state->context, digest.data(), &length) != 1 ||
        length != digest.size())
        return std::nullopt;
    m_state->good = false;
    return digest;
}

} // namespace platform
