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

CPath ConfigDir()
{
    std::string base = NonEmptyEnv("XDG_CONFIG_HOME");
    const fs::path root = base.empty() ? HomeDir() / ".config" : fs::path(base);
    return root / "torvane";
}

CPath DataDir()
{
    std::string base = NonEmptyEnv("XDG_DATA_HOME");
    const fs::path root = base.empty() ? HomeDir() / ".local" / "share" : fs::path(base);
    return root / "torvane";
}

CPath PortsDir()
{
    return ConfigDir() / "ports";
}

CPath SettingsFilePath()
{
    return ConfigDir() / "torvane.INI";
}

CPath RuntimeDir()
{
    std::string runtime = NonEmptyEnv("XDG_RUNTIME_DIR");
    if (!runtime.empty()) return fs::path(runtime);
    // Without a runtime folder (under sudo, say) a folder in the user's own home; never a
    // shared folder such as /tmp, where another user could take the name first. The lock
    // checks that the folder is this user's and private.
    return HomeDir() / ".cache" / "torvane";
}

CPath ResolvePortName(const std::string& name)
{
    // Only absolute paths: a relative one would open whatever the working folder holds.
    if (name.find('/') != std::string::npos) return name.front() == '/' ? fs::path(name) : fs::path();
    if (name.empty() || name == "." || name == "..") return {};
    const unsigned number = ComPortNumber(name);
    const fs::path alias = (PortsDir() / (number != 0 ? "COM" + std::to_string(number) : name)).Native();
    std::error_code ec;
    // A dangling alias still wins: the user meant that device, and "not found" is the truth.
    if (fs::exists(fs::symlink_status(alias, ec))) return alias;
    if (number == 0) return {}; // never looked up in the working folder
    return fs::path("/dev/ttyS" + std::to_string(number - 1));
}

CPath PortDevice(const std::string& name)
{
    fs::path device = ResolvePortName(name).Native();
    if (device.empty()) return {};
    // A link may point at a link (an alias to a by-path name); a loop ends somewhere.
    constexpr int kMostLinks = 40;
    std::error_code ec;
    for (int i = 0; i < kMostLinks && fs::is_symlink(fs::symlink_status(device, ec)); ++i) {
        const fs::path target = fs::read_symlink(device, ec);
        if (ec) break;
        device = (target.is_absolute() ? target : device.parent_path() / target).lexically_normal();
    }
    const fs::path real = fs::canonical(device, ec);
    return ec ? device : real;
}

} // namespace platform
