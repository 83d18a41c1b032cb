#include "platform/ChildProcesses.h"

#include <windows.h>

#include "platform/win32/Win32Text.h"

#include <mutex>
#include <thread>

namespace platform {
namespace {

std::wstring Widen(const std::string& text)
{
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

} // namespace

std::string SelfExecutablePath()
{
    wchar_t path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    if (n == 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(n), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

std::vector<int> RunChildren(const std::vector<std::vector<std::string>>& commands,
                             const std::function<void(size_t, const std::string&)>& onLine)
{
    std::vector<HANDLE> processes(commands.size(), nullptr);
    std::vector<std::thread> readers;
    std::mutex lineMutex;
    for (size_t i = 0; i < commands.size(); ++i) {
        if (commands[i].empty()) continue;
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE readEnd = nullptr, writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) continue;
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        std::wstring line;
        for (const std::string& arg : commands[i])
            line += (line.empty() ? L"" : L" ") + win32::QuoteArgument(Widen(arg));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = writeEnd;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION info{};
        // Same console: Ctrl-C reaches every child, and each stops its own panel.
        const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                            &startup, &info);
        CloseHandle(writeEnd);
        if (!started) {
            CloseHandle(readEnd);
            continue;
        }
        CloseHandle(info.hThread);
        processes[i] = info.hProcess;
        readers.emplace_back([readEnd, i, &onLine, &lineMutex] {
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
            if (!pending.empty()) {
                std::lock_guard lock(lineMutex);
                onLine(i, pending);
            }
            CloseHandle(readEnd);
        });
    }
    for (std::thread& reader : readers)
        reader.join();
    std::vector<int> codes;
    for (HANDLE process : processes) {
        if (!process) {
            codes.push_back(-1);
            continue;
        }
        WaitForSingleObject(process, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        CloseHandle(process);
        codes.push_back(static_cast<int>(code));
    }
    return codes;
}

} // namespace platform
