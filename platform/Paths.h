#pragma once
// Where the program keeps its files: ${XDG_CONFIG_HOME:-$HOME/.config}/torvane on
// POSIX, %APPDATA%\Torvane on Windows.
#include <filesystem>
#include <string>

namespace platform {

std::filesystem::path ConfigDir();
// Where the program keeps what it accumulates (the records database):
// ${XDG_DATA_HOME:-$HOME/.local/share}/torvane on POSIX, %LOCALAPPDATA%\Torvane on Windows.
std::filesystem::path DataDir();
// Folder of "COM1".."COM10" aliases (symlinks to the real device node).
std::filesystem::path PortsDir();
// The settings file: the executable's name + ".INI" in the configuration folder.
std::filesystem::path SettingsFilePath();
// Folder for the instance lock: $XDG_RUNTIME_DIR, else a per-user folder in /tmp
// (Windows: the temporary folder; the lock there is a kernel object, not a file).
std::filesystem::path RuntimeDir();

// The n of "COMn" (any case, up to nine digits), or 0 when the name is not of that form.
unsigned ComPortNumber(const std::string& name);

// POSIX: "COM3" -> ports-folder alias if present, else /dev/ttyS2; a name with "/" is
// a path; anything else is taken as is (and will normally not be found).
// Windows: "COM1".."COM10" -> \\.\COMn; anything else as typed.
std::filesystem::path ResolvePortName(const std::string& name);

} // namespace platform
