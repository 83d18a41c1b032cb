#include "platform/NetworkShare.h"

#include <windows.h>

namespace platform {

namespace fs = std::filesystem;

std::string NetworkShareKind(const CPath& pathGiven)
{
    const std::filesystem::path& path = pathGiven.Native();
    std::wstring text = path.wstring();
    auto startsWith = [&text](const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; };
    // \\?\C:\... and \\.\C:\... are local names in the device namespace; any other
    // name that starts with two (back)slashes names a server. Asked before the name is
    // made absolute, which may map it to a drive.
    if (startsWith(L"\\\\?\\UNC\\")) return "a network share";
    const bool deviceName = startsWith(L"\\\\?\\") || startsWith(L"\\\\.\\");
    if (!deviceName && (startsWith(L"\\\\") || startsWith(L"//"))) return "a network share";
    std::error_code ec;
    if (!deviceName) {
        const fs::path full = fs::absolute(path, ec);
        if (!ec) text = full.wstring();
        if (startsWith(L"\\\\") && !startsWith(L"\\\\?\\") && !startsWith(L"\\\\.\\"))
            return "a network share"; // a relative name inside a share's current folder
    }
    wchar_t volume[MAX_PATH + 1] = {};
    if (!GetVolumePathNameW(text.c_str(), volume, MAX_PATH)) {
        if (text.size() < 2 || text[1] != L':') return {};
        volume[0] = text[0];
        volume[1] = L':';
        volume[2] = L'\\';
        volume[3] = 0;
    }
    if (GetDriveTypeW(volume) == DRIVE_REMOTE) return "a network drive";
    return {};
}

} // namespace platform
