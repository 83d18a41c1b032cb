#pragma once
// Where the program keeps its files: ${XDG_CONFIG_HOME:-$HOME/.config}/torvane on
// POSIX, %APPDATA%\Torvane on Windows.
#include <string>

#include "platform/Path.h"

namespace platform {

CPath ConfigDir();
// Where the program keeps what it accumulates (the records database):
// ${XDG_DATA_HOME:-$HOME/.local/share}/torvane on POSIX, %LOCALAPPDATA%\Torvane on Windows.
CPath DataDir();
// Folder of "COM1".."COM10" aliases (symlinks to the real device node).
CPath PortsDir();
// The settings file: the executable's name + ".INI" in the configuration folder.
CPath SettingsFilePath();
// Folder for the instance lock: $XDG_RUNTIME_DIR, else ~/.cache/torvane of the
// user's own home (Windows: the temporary folder; the lock there is a kernel object).
CPath RuntimeDir();

// The n of "COMn" (any case, up to nine digits), or 0 when the name is not of that form.
unsigned ComPortNumber(const std::string& name);

// POSIX: "COM3" -> ports-folder alias if present, else /dev/ttyS2; another plain name ->
// its ports-folder alias; an absolute path as is. Anything else (a relative path, a
// plain name without an alias) gives an empty path, which opens nothing.
// Windows: "COMn" (any n >= 1, also typed as \\.\COMn) -> \\.\COMn; anything else as typed,
// which is shown in messages but never opened.
CPath ResolvePortName(const std::string& name);
// The device a port name comes to, for the records: POSIX follows the alias and every
// link after it (a /dev/serial/by-path name) to the device node, even one that is not
// there now; Windows: ResolvePortName.
CPath PortDevice(const std::string& name);

} // namespace platform
