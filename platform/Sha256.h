#pragma once
// SHA-256 of a file, for the record of what was flashed: nettle on POSIX, the
// system's CNG (bcrypt) on Windows.
#include "platform/Path.h"
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Lower-case hex digest of the file's bytes, or nothing when it cannot be read.
std::optional<std::string> Sha256OfFile(const CPath& path);
// Lower-case hex digest of bytes already read (empty only when the system's hash fails).
std::string Sha256Of(std::string_view bytes);

} // namespace platform
