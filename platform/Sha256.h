#pragma once
// SHA-256 of a file, for the record of what was flashed: nettle on POSIX, the
// system's CNG (bcrypt) on Windows.
#include "platform/Path.h"
#include <optional>
#include <string>

namespace platform {

// Lower-case hex digest of the file's bytes, or nothing when it cannot be read.
std::optional<std::string> Sha256OfFile(const CPath& path);

} // namespace platform
