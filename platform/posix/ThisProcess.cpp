#include "platform/ThisProcess.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <unistd.h>

namespace platform {

std::string HostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "unknown";
    return name;
}

std::string UserName()
{
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_name) return entry->pw_name;
    if (const char* user = std::getenv("USER"); user && *user) return user;
    return std::to_string(getuid());
}

uint32_t ProcessId()
{
    return static_cast<uint32_t>(getpid());
}

std::string ProcessStartStamp(uint32_t pid)
{
    // Field 22 of /proc/PID/stat is the start in clock ticks after boot; the boot time
    // makes it unique across reboots.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return {};
    const size_t nameEnd = text.rfind(')'); // the command name may hold spaces and parentheses
    if (nameEnd == std::string::npos) return {};
    std::istringstream fields(text.substr(nameEnd + 1));
    std::string field, started;
    for (int index = 3; fields >> field; ++index) {
        if (index == 22) {
            started = field;
            break;
        }
    }
    if (started.empty()) return {};
    std::ifstream system("/proc/stat");
    std::string line, boot;
    while (std::getline(system, line)) {
        if (line.rfind("btime ", 0) == 0) {
            boot = line.substr(6);
            break;
        }
    }
    return boot + "+" + started;
}

} // namespace platform
