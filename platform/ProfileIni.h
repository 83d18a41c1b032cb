#pragma once
// Private-profile INI files with the semantics of the Windows profile functions.
#include "platform/Path.h"
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Integer value of key in section, or the default when the file, the section or the key
// is missing. Section and key names match case-insensitively; the value is read as
// Windows does: leading blanks, an optional sign, then leading decimal digits
// (none -> 0), kept in 32 bits.
int GetPrivateProfileInt(const std::string& section, const std::string& key, int defaultValue,
                         const CPath& file);

// The text of key in section (blanks around it trimmed), or the default.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const CPath& file);
// What a write of a profile file came to: nothing when it was written, else why not (one
// line for the user, naming the file).
struct [[nodiscard]] ProfileWrite
{
    std::string error;
    bool Ok() const { return error.empty(); }
    explicit operator bool() const { return Ok(); }
};

// Writes one key as decimal text, creating the file, folder and section as needed and
// keeping every other line. The file is replaced atomically, so a crash or a full disk
// never leaves it truncated. When the write fails the old file stands.
ProfileWrite WritePrivateProfileInt(const std::string& section, const std::string& key, int64_t value,
                                    const CPath& file);

// Several keys of one section in one replacement of the file: the same result as
// writing them one after the other, without the states in between.
ProfileWrite WritePrivateProfileInts(const std::string& section,
                                     const std::vector<std::pair<std::string, int64_t>>& entries,
                                     const CPath& file);

} // namespace platform
