#include "platform/InstanceLock.h"

#include <windows.h>

#include "platform/win32/Win32Text.h"

namespace platform {

bool CInstanceLock::Acquire(const std::string& name)
{
    if (IsHeld()) return true;
    if (name.empty() || name.find('\\') != std::string::npos) return false;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, win32::Widen(name).c_str());
    if (!mutex) return false;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    m_native = reinterpret_cast<intptr_t>(mutex);
    return true;
}

void CInstanceLock::Release()
{
    if (m_native == kNone) return;
    CloseHandle(reinterpret_cast<HANDLE>(m_native)); // the last handle ends the mutex
    m_native = kNone;
}

} // namespace platform
