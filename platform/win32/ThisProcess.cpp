#include "platform/ThisProcess.h"

#include <windows.h>

#include "platform/win32/Win32Text.h"

namespace platform {

std::string HostName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &length)) return "unknown";
    return win32::Narrow(std::wstring(name, length));
}

std::string UserName()
{
    if (const wchar_t* user = _wgetenv(L"USERNAME"); user && *user) return win32::Narrow(user);
    return "unknown";
}

uint32_t ProcessId()
{
    return GetCurrentProcessId();
}

std::string ProcessStartStamp(uint32_t pid)
{
    win32::CKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.Valid()) return {};
    DWORD exitCode = 0;
    if (GetExitCodeProcess(process.Get(), &exitCode) && exitCode != STILL_ACTIVE) return {};
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!GetProcessTimes(process.Get(), &created, &exited, &kernel, &user)) return {};
    const uint64_t ticks = (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return std::to_string(ticks);
}

} // namespace platform
