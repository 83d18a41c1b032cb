#pragma once
// Files the program writes for the user (read-back images, backups, their .id copies):
// written whole or not at all, and never through whatever a name happens to point at.
#include "platform/Path.h"
#include <string>
#include <string_view>

namespace platform {

enum class FileAccess { Shared, Private }; // Private: owner only (0600 on POSIX)

// Writes content to a new temporary file in the target's folder (created exclusively, no
// link followed), flushes it to the disk and renames it over the target, so that the
// target is either the old file or the whole new one, and a link planted at the target
// is replaced, not written through. Refuses a target that is not a plain disk file: an
// existing folder or device, and on Windows a device name such as NUL.mot or COM1.
// False with one line naming the file and the cause in error.
bool WriteFileAtomically(const CPath& target, std::string_view content, std::string& error,
                         FileAccess access = FileAccess::Shared);

// The checks of WriteFileAtomically that need no writing, for refusing an output before any
// work starts. False with the reason in error.
bool CheckOutputTarget(const CPath& target, std::string& error);

// Creates an empty file under a name nothing holds yet (no link followed, nothing
// replaced), so that two writers never pick one name. Exists: the name is taken; Failed:
// anything else, with one line naming the file and the cause in error. OwnerOnly makes
// it 0600 on POSIX (on Windows the folder's permissions hold, as for every file).
enum class NewFileStatus { Created, Exists, Failed };
enum class NewFileAccess { Default, OwnerOnly };
NewFileStatus CreateNewFile(const CPath& path, std::string& error,
                            NewFileAccess access = NewFileAccess::Default);

// True when both names lead to one existing file (same device and file, whatever the
// spelling, links included).
bool IsSameFile(const CPath& first, const CPath& second);

// Windows' reserved device names (CON, PRN, AUX, NUL, COM0-9, LPT0-9, with or without an
// extension, any case, trailing dots and spaces ignored); "NUL.mot" opens the null device
// there. Refused as an output target on Windows only.
bool IsWindowsDeviceName(const CPath& path);

} // namespace platform
