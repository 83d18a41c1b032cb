#pragma once
// SHA-256, one back end per system: OpenSSL on POSIX (the same library that checks
// release signatures), CNG (bcrypt) on Windows. What is built on it is shared.
#include "platform/Path.h"
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

using Sha256Digest = std::array<uint8_t, 32>;

// Bytes fed in pieces; Finish gives the digest once, or nothing when the system's hash fails.
class CSha256
{
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;
    void Update(std::string_view bytes);
    std::optional<Sha256Digest> Finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Lower-case hex digest of the file's bytes, or nothing when it cannot be read.
std::optional<std::string> Sha256OfFile(const CPath& path);
// Lower-case hex digest of bytes already read (empty only when the system's hash fails).
std::string Sha256Of(std::string_view bytes);

} // namespace platform
