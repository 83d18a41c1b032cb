#include "platform/Paths.h"

#include <cctype>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace fs = std::filesystem;

namespace {

std::string NonEmptyEnv(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

fs::path HomeDir()
{
    std::string home = NonEmptyEnv("HOME");
    if (!home.empty()) return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

} // namespace

fs::path ConfigDir()
{
    std::string base = NonEmptyEnv("XDG_CONFIG_HOME");
    const fs::path root = base.empty() ? HomeDir() / ".config" : fs::path(base);
    return root / "torvane";
}

fs::path DataDir()
{
    std::string base = NonEmptyEnv("XDG_DATA_HOME");
    const fs::path root = base.empty() ? HomeDir() / ".local" / "share" : fs::path(base);
    return root / "torvane";
}

fs::path PortsDir()
{
    return ConfigDir() / "ports";
}

fs::path SettingsFilePath()
{
    return ConfigDir() / "torvane.INI";
}

fs::path RuntimeDir()
{
    std::string runtime = NonEmptyEnv("XDG_RUNTIME_DIR");
    if (!runtime.empty()) return runtime;
    return fs::path("/tmp") / ("torvane-" + std::to_string(getuid()));
}

fs::path ResolvePortName(const std::string& name)
{
    if (name.find('/') != std::string::npos) return name;
    const unsigned number = ComPortNumber(name);
    if (number == 0) return name;
    const fs::path alias = PortsDir() / ("COM" + std::to_string(number));
    std::error_code ec;
    // A dangling alias still wins: the user meant that device, and "not found" is the truth.
    if (fs::exists(fs::symlink_status(alias, ec))) return alias;
    return "/dev/ttyS" + std::to_string(number - 1);
}

} // namespace platform
