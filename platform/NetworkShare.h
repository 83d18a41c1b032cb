#pragma once
// Whether a file lies on a network share. SQLite's write-ahead log keeps its index in
// shared memory beside the file, which only works when every writer is on this machine.
#include "platform/Path.h"
#include <string>

namespace platform {

// The kind of network file system that holds path (or the nearest folder of it that
// exists): "nfs", "cifs", "a network drive"...; empty when it is local.
std::string NetworkShareKind(const CPath& path);

} // namespace platform
