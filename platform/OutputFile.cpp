#include "platform/OutputFile.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace platform {

namespace fs = std::filesystem;

bool IsSameFile(const CPath& firstGiven, const CPath& secondGiven)
{
    const std::filesystem::path& first = firstGiven.Native();
    const std::filesystem::path& second = secondGiven.Native();
    std::error_code ec;
    const bool same = fs::equivalent(first, second, ec);
    return !ec && same;
}

bool IsWindowsDeviceName(const CPath& pathGiven)
{
    const std::filesystem::path& path = pathGiven.Native();
    std::string name = path.string();
    name = name.substr(name.find_last_of("/\\") == std::string::npos ? 0 : name.find_last_of("/\\") + 1);
    // "NUL.mot", "nul .txt" and "COM1." all name the device; the stem is what counts.
    name = name.substr(0, name.find('.'));
    while (!name.empty() && (name.back() == ' ' || name.back() == '.'))
        name.pop_back();
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    static constexpr std::array<const char*, 6> kDevices = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    if (std::find(kDevices.begin(), kDevices.end(), name) != kDevices.end()) return true;
    if (name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0))
        return std::isdigit(static_cast<unsigned char>(name[3])) != 0;
    return false;
}

} // namespace platform
