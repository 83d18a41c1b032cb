#include "platform/HookRunner.h"

#include <windows.h>

#include <algorithm>

#include "platform/Console.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

using win32::CKernelHandle;

constexpr size_t kLongestLine = 512;
constexpr DWORD kLookMs = 20;
constexpr DWORD kPipeBuffer = 64 * 1024;

// Handed to the hook alone: a handle list keeps a hook started at the same time on
// another fixture from inheriting this one's pipe ends (and holding them open).
class CAttributeList
{
public:
    explicit CAttributeList(std::vector<HANDLE>& handles)
    {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        m_storage.resize(size);
        m_list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_storage.data());
        if (!InitializeProcThreadAttributeList(m_list, 1, 0, &size)) {
            m_list = nullptr;
            return;
        }
        UpdateProcThreadAttribute(m_list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                  handles.size() * sizeof(HANDLE), nullptr, nullptr);
    }
    ~CAttributeList()
    {
        if (m_list) DeleteProcThreadAttributeList(m_list);
    }
    CAttributeList(const CAttributeList&) = delete;
    CAttributeList& operator=(const CAttributeList&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return m_list; }

private:
    std::vector<char> m_storage;
    LPPROC_THREAD_ATTRIBUTE_LIST m_list = nullptr;
};

// Reads what is in the pipe without waiting; the first line kept, the rest dropped.
void ReadAvailable(HANDLE pipe, std::string& line, bool& complete)
{
    char buffer[4096];
    DWORD available = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) || got == 0)
            return;
        for (DWORD i = 0; i < got && !complete; ++i) {
            if (buffer[i] == '\n')
                complete = true;
            else if (line.size() < kLongestLine)
                line += buffer[i];
        }
    }
}

HookOutcome NotStarted(const std::string& program, DWORD error)
{
    HookOutcome outcome;
    outcome.trouble = "cannot start " + program + ": " + win32::ErrorText(error);
    return outcome;
}

} // namespace

HookOutcome RunHook(const std::vector<std::string>& arguments, const std::string& input,
                    std::chrono::milliseconds limit, const std::function<bool()>& stopRequested)
{
    if (arguments.empty()) {
        HookOutcome outcome;
        outcome.trouble = "no command";
        return outcome;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE raw[2];
    if (!CreatePipe(&raw[0], &raw[1], &inherit,
                    std::max<DWORD>(kPipeBuffer, static_cast<DWORD>(input.size()))))
        return NotStarted(arguments[0], GetLastError());
    CKernelHandle hookInput(raw[0]), toHook(raw[1]);
    if (!CreatePipe(&raw[0], &raw[1], &inherit, kPipeBuffer)) return NotStarted(arguments[0], GetLastError());
    CKernelHandle fromHook(raw[0]), hookOutput(raw[1]);
    SetHandleInformation(toHook.Get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(fromHook.Get(), HANDLE_FLAG_INHERIT, 0);
    // Its standard error: this program's when it has one, else nowhere.
    HANDLE error = nullptr;
    if (HANDLE own = GetStdHandle(STD_ERROR_HANDLE); own && own != INVALID_HANDLE_VALUE)
        DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &error, 0, TRUE,
                        DUPLICATE_SAME_ACCESS);
    if (!error)
        error = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);
    CKernelHandle hookError(error == INVALID_HANDLE_VALUE ? nullptr : error);

    std::vector<HANDLE> handed{hookInput.Get(), hookOutput.Get()};
    if (hookError.Valid()) handed.push_back(hookError.Get());
    CAttributeList attributes(handed);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = hookInput.Get();
    startup.StartupInfo.hStdOutput = hookOutput.Get();
    startup.StartupInfo.hStdError = hookError.Get();
    startup.lpAttributeList = attributes.Get();

    std::wstring line;
    for (const std::string& argument : arguments)
        line += (line.empty() ? L"" : L" ") + win32::QuoteArgument(win32::Widen(argument));
    // Started suspended and put in a job of its own first, so that nothing it starts
    // escapes the kill; the job dies with its last handle, this process's, however this
    // process ends.
    CKernelHandle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!job.Valid() ||
        !SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
        return NotStarted(arguments[0], GetLastError());
    PROCESS_INFORMATION info{};
    const DWORD flags =
        CREATE_SUSPENDED | CREATE_NO_WINDOW | (attributes.Get() ? EXTENDED_STARTUPINFO_PRESENT : 0);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                        &startup.StartupInfo, &info))
        return NotStarted(arguments[0], GetLastError());
    CKernelHandle process(info.hProcess), thread(info.hThread);
    if (!AssignProcessToJobObject(job.Get(), process.Get())) {
        const DWORD why = GetLastError();
        TerminateProcess(process.Get(), 1);
        return NotStarted(arguments[0], why);
    }
    ResumeThread(thread.Get());
    hookInput.Reset();
    hookOutput.Reset();
    hookError.Reset();

    // The pipe holds the whole input (its size above), so this write does not wait on
    // the hook reading it.
    DWORD written = 0;
    if (!input.empty())
        WriteFile(toHook.Get(), input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    toHook.Reset();

    HookOutcome outcome;
    bool complete = false;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool exited = false, stopped = false;
    const auto stopping = [&] { return stopRequested ? stopRequested() : InterruptCount() > 0; };
    for (;;) {
        ReadAvailable(fromHook.Get(), outcome.firstLine, complete);
        if (stopping()) {
            stopped = true;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) break;
        if (WaitForSingleObject(process.Get(), static_cast<DWORD>(std::min<long long>(left, kLookMs))) ==
            WAIT_OBJECT_0) {
            exited = true;
            ReadAvailable(fromHook.Get(), outcome.firstLine, complete);
            break;
        }
    }
    // At the limit the whole job goes; after a normal exit, whatever it left running.
    TerminateJobObject(job.Get(), 1);
    // A C runtime's text mode writes "\r\n" given as "\r\r\n".
    while (!outcome.firstLine.empty() && outcome.firstLine.back() == '\r')
        outcome.firstLine.pop_back();
    if (!exited) {
        outcome.ending = stopped ? HookOutcome::Ending::Stopped : HookOutcome::Ending::TimedOut;
        return outcome;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    outcome.ending = HookOutcome::Ending::Exited;
    outcome.exitCode = static_cast<int>(code);
    return outcome;
}

} // namespace platform
