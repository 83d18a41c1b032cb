#include "platform/InstanceLock.h"

#include <windows.h>

#include <sddl.h>

#include "platform/win32/Win32Text.h"

namespace platform {

namespace {

// The user's SID as text, so that the private mutex's name is this user's alone.
std::wstring UserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return L"unknown-user";
    win32::CKernelHandle owner(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::wstring text = L"unknown-user";
    std::string buffer(size, '\0');
    if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        LPWSTR sid = nullptr;
        if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
            text = sid;
            LocalFree(sid);
        }
    }
    return text;
}

} // namespace

// Any program of the session can create an object named "TORVANE.exe" first: a mutex
// that it keeps, or an event (CreateMutexW then fails with ERROR_INVALID_HANDLE). The
// well-known name alone can therefore not tell a second Torvane from a stranger. The
// decision rests on a second, private mutex whose name only this program uses, made of
// the well-known name and the user's SID: it exists exactly when another copy of this
// user runs. The well-known mutex is still created and held when it is free, for tools
// that look for it; a stranger holding that name no longer keeps Torvane from starting.
CInstanceLock::Result CInstanceLock::TryAcquire(const std::string& name, std::string& why)
{
    if (IsHeld()) return Result::Held;
    if (name.empty() || name.find('\\') != std::string::npos) {
        why = "no valid lock name";
        return Result::CannotCreate;
    }
    const std::wstring privateName = L"Local\\" + win32::Widen(name) + L".torvane-instance." + UserSid();
    HANDLE own = CreateMutexW(nullptr, FALSE, privateName.c_str());
    if (!own) {
        const DWORD code = GetLastError();
        why = "cannot create the mutex " + win32::Narrow(privateName) + ": " + win32::ErrorText(code);
        return ResultOfCreateFailure(code);
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(own);
        return Result::HeldByAnother;
    }
    m_native = reinterpret_cast<intptr_t>(own);

    HANDLE visible = CreateMutexW(nullptr, FALSE, win32::Widen(name).c_str());
    if (visible && GetLastError() == ERROR_ALREADY_EXISTS) {
        // A stranger's object of that name (ours would have shown in the private one).
        CloseHandle(visible);
        visible = nullptr;
    }
    if (visible) m_visible = reinterpret_cast<intptr_t>(visible);
    return Result::Held;
}

CInstanceLock::Result CInstanceLock::ResultOfCreateFailure(uint32_t systemError)
{
    return systemError == ERROR_ACCESS_DENIED ? Result::HeldByAnother : Result::CannotCreate;
}

void CInstanceLock::Release()
{
    if (m_visible != kNone) CloseHandle(reinterpret_cast<HANDLE>(m_visible));
    m_visible = kNone;
    if (m_native == kNone) return;
    CloseHandle(reinterpret_cast<HANDLE>(m_native)); // the last handle ends the mutex
    m_native = kNone;
}

} // namespace platform
