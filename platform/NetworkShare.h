#pragma once
// Whether a file lies on a network share. SQLite's write-ahead log keeps its index in
// shared memory beside the file, which only works when every writer is on this machine.
#include <string>

#include "platform/Path.h"

namespace platform {

// The kind of network file system that holds path (or the nearest folder of it that
// exists): "nfs", "cifs", "a network drive"...; empty when it is local. On Windows the
// folder is opened and judged by where the system says it is; a folder whose place
// cannot be told is not taken for local.
std::string NetworkShareKind(const CPath& path);

#ifdef _WIN32
// The decision on the folder's final path (\\?\UNC\server\..., \\?\C:\...) and the
// type of its drive (GetDriveTypeW): a share, a network drive, local (empty) or unknown.
std::string ShareKindOfFinalPath(const std::wstring& finalPath, unsigned driveType);
#endif

} // namespace platform
