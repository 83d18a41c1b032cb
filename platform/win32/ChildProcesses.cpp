#include "platform/ChildProcesses.h"

#include <windows.h>

#include <cwchar>
#include <mutex>
#include <thread>

#include "platform/Console.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

// How a child learns of its parent: "PROCESS:EVENT", two inherited handles' values.
constexpr wchar_t kParentVariable[] = L"TORVANE_PARENT_HANDLES";

// Starts one child with its standard output on a new pipe; the read end, or null.
HANDLE StartChild(const std::vector<std::string>& command, std::mutex& creating, HANDLE& process)
{
    process = nullptr;
    if (command.empty()) return nullptr;
    std::wstring line;
    for (const std::string& arg : command)
        line += (line.empty() ? L"" : L" ") + win32::QuoteArgument(win32::Widen(arg));
    // One at a time: a child started while another's pipe end is still open here would
    // inherit it, and that pipe would never report its end.
    std::lock_guard lock(creating);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return nullptr;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    // Same console: Ctrl-C reaches every child, and each stops its own panel. No job object
    // that kills on close: it would cut a child off in the middle of a page.
    const BOOL started =
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return nullptr;
    }
    CloseHandle(info.hThread);
    process = info.hProcess;
    return readEnd;
}

} // namespace

std::string SelfExecutablePath()
{
    wchar_t path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    if (n == 0) return {};
    return win32::Narrow(std::wstring(path, n));
}

std::vector<int> RunChildren(const std::vector<std::vector<std::string>>& commands,
                             const std::function<void(size_t, const std::string&)>& onLine,
                             const std::function<bool(size_t, int)>& onEnd,
                             const std::function<void()>& onTick)
{
    // What every child watches: this process (ended by Task Manager, taskkill /F or a crash)
    // and an event set when a stop reaches this process by a way the console does not
    // share (a stop event, the session's end).
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE, TRUE,
                    0);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    win32::CKernelHandle stop(CreateEventW(&inherit, TRUE, FALSE, nullptr));
    win32::CKernelHandle finished(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const std::wstring handles = std::to_wstring(reinterpret_cast<uintptr_t>(self)) + L":" +
                                 std::to_wstring(reinterpret_cast<uintptr_t>(stop.Get()));
    SetEnvironmentVariableW(kParentVariable, handles.c_str());
    std::mutex lineMutex, creating;
    std::thread forwarder([&] {
        int stopsSeen = InterruptCount();
        while (WaitForSingleObject(finished.Get(), 200) == WAIT_TIMEOUT) {
            if (InterruptCount() != stopsSeen) SetEvent(stop.Get());
            if (onTick) {
                std::lock_guard lock(lineMutex);
                onTick();
            }
        }
    });

    std::vector<int> codes(commands.size(), -1);
    std::vector<std::thread> runners;
    for (size_t i = 0; i < commands.size(); ++i) {
        runners.emplace_back([&, i] {
            for (;;) {
                HANDLE process = nullptr;
                HANDLE readEnd = StartChild(commands[i], creating, process);
                if (!readEnd) return;
                std::string pending;
                char buffer[4096];
                DWORD n = 0;
                while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) {
                    pending.append(buffer, n);
                    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
                        std::string text = pending.substr(0, end);
                        if (!text.empty() && text.back() == '\r') text.pop_back();
                        std::lock_guard lock(lineMutex);
                        onLine(i, text);
                        pending.erase(0, end + 1);
                    }
                }
                CloseHandle(readEnd);
                WaitForSingleObject(process, INFINITE);
                DWORD code = 0;
                GetExitCodeProcess(process, &code);
                CloseHandle(process);
                std::lock_guard lock(lineMutex);
                if (!pending.empty()) onLine(i, pending);
                codes[i] = static_cast<int>(code);
                if (!onEnd || !onEnd(i, codes[i])) return;
            }
        });
    }
    for (std::thread& runner : runners)
        runner.join();
    SetEvent(finished.Get());
    forwarder.join();
    SetEnvironmentVariableW(kParentVariable, nullptr);
    if (self) CloseHandle(self);
    return codes;
}

void WatchParent()
{
    wchar_t text[64] = {};
    const DWORD n = GetEnvironmentVariableW(kParentVariable, text, static_cast<DWORD>(std::size(text)));
    if (n == 0 || n >= std::size(text)) return;
    // Ours alone: a program this child might start is no child of the station.
    SetEnvironmentVariableW(kParentVariable, nullptr);
    wchar_t* rest = nullptr;
    const HANDLE parent = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::wcstoull(text, &rest, 10)));
    if (!rest || *rest != L':') return;
    const HANDLE stop =
        reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::wcstoull(rest + 1, nullptr, 10)));
    std::thread([parent, stop] {
        const HANDLE both[] = {parent, stop};
        const DWORD woke = WaitForMultipleObjects(2, both, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_OBJECT_0 + 1) NoteStopRequest();
    }).detach();
}

} // namespace platform
