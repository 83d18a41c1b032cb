#include "platform/Paths.h"

#include <cctype>
#include <cstdlib>
#include <windows.h>

#include <shlobj.h>

#include "platform/win32/CommDriver.h"
#include "platform/win32/Win32Text.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

// The variable first, so that tests and portable setups can point it elsewhere.
fs::path KnownFolder(const wchar_t* variable, REFKNOWNFOLDERID id)
{
    if (const wchar_t* value = _wgetenv(variable); value && *value) return value;
    wchar_t* folder = nullptr;
    fs::path result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &folder))) result = folder;
    CoTaskMemFree(folder);
    return result.empty() ? fs::path(L".") : result;
}

} // namespace

CPath ConfigDir()
{
    return KnownFolder(L"APPDATA", FOLDERID_RoamingAppData) / L"Torvane";
}

CPath DataDir()
{
    return KnownFolder(L"LOCALAPPDATA", FOLDERID_LocalAppData) / L"Torvane";
}

CPath PortsDir()
{
    return ConfigDir().Native() / L"ports"; // unused on Windows: COM names are the system's own
}

CPath SettingsFilePath()
{
    return ConfigDir().Native() / L"torvane.INI";
}

CPath RuntimeDir()
{
    return fs::temp_directory_path();
}

CPath ResolvePortName(const std::string& name)
{
    // Only the device namespace: Windows keeps just COM1..COM9 as reserved names, so a
    // bare "COM12" would be a file in the working folder.
    if (const unsigned number = ComDeviceNumber(name))
        return fs::path(L"\\\\.\\COM" + std::to_wstring(number));
    return CPath::FromUtf8(name);
}

CPath PortDevice(const std::string& name)
{
    return ResolvePortName(name);
}

} // namespace platform
