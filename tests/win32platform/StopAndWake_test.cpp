// What ends or holds a Windows run, under Wine: a service's stop event, and the request to
// stay awake while flashing. What Wine cannot show (closing the console, logoff and
// shutdown, the hidden window that hears of them without a display, sleep) is tested as
// the decision the program takes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/Console.h"
#include "platform/KeepAwake.h"

namespace {

bool WaitForStop(int count)
{
    for (int i = 0; i < 200 && platform::InterruptCount() < count; ++i)
        Sleep(10);
    return platform::InterruptCount() >= count;
}

} // namespace

TEST(Win32Stops, ClosingTheConsoleLogoffAndShutdownStopTheWorkAndHoldTheProcess)
{
    using platform::ConsoleEventAction;
    EXPECT_EQ(platform::ActionForConsoleEvent(CTRL_C_EVENT), ConsoleEventAction::Interrupt);
    EXPECT_EQ(platform::ActionForConsoleEvent(CTRL_BREAK_EVENT), ConsoleEventAction::Interrupt);
    for (DWORD type : {CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT})
        EXPECT_EQ(platform::ActionForConsoleEvent(type), ConsoleEventAction::StopAndHold) << type;

    EXPECT_TRUE(platform::SessionEndStops(WM_QUERYENDSESSION, 0));
    EXPECT_TRUE(platform::SessionEndStops(WM_ENDSESSION, TRUE));
    EXPECT_FALSE(platform::SessionEndStops(WM_ENDSESSION, FALSE)) << "a logoff another program cancelled";
}

TEST(Win32Stops, AServicesStopEventStopsTheWork)
{
    platform::ResetInterrupts();
    const std::string name = "Local\\torvane-stop-" + std::to_string(GetCurrentProcessId());
    std::string error;
    ASSERT_TRUE(platform::WatchStopEvent(name, error)) << error;
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
    ASSERT_TRUE(event);
    SetEvent(event);
    CloseHandle(event);
    EXPECT_TRUE(WaitForStop(1));
    platform::ResetInterrupts();

    // A name taken by another kind of object is refused with the reason.
    const std::string taken = "Local\\torvane-taken-" + std::to_string(GetCurrentProcessId());
    HANDLE mutex = CreateMutexA(nullptr, FALSE, taken.c_str());
    EXPECT_FALSE(platform::WatchStopEvent(taken, error));
    EXPECT_NE(error.find(taken), std::string::npos) << error;
    CloseHandle(mutex);
}

TEST(Win32Stops, TheComputerIsKeptAwakeWhileFlashingAndLetGoAfter)
{
    // The previous state that SetThreadExecutionState returns is what the flash asked for.
    {
        const platform::CKeepAwake awake;
        EXPECT_EQ(SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED),
                  static_cast<EXECUTION_STATE>(ES_CONTINUOUS | ES_SYSTEM_REQUIRED));
    }
    EXPECT_EQ(SetThreadExecutionState(ES_CONTINUOUS), static_cast<EXECUTION_STATE>(ES_CONTINUOUS));
}

namespace {

// A name of the build as Wine's Windows side sees it.
std::wstring WindowsName(std::string unix)
{
    for (char& c : unix)
        if (c == '/') c = '\\';
    return L"Z:" + std::wstring(unix.begin(), unix.end());
}

} // namespace

// A station whose scanner stopped mid-line still ends when its service says stop: the
// console's read cannot be given a time limit, so it must not be what the station waits on.
TEST(Win32Stops, AHalfTypedSerialDoesNotHoldOffAStop)
{
    const std::wstring event = L"Local\\torvane-scan-" + std::to_wstring(GetCurrentProcessId());
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    std::wstring line = L"\"" + WindowsName(TORVANE_BINARY_DIR "/torvane-cli.exe") + L"\" station \"" +
                        WindowsName(TORVANE_SOURCE_DIR "/examples/panel-upgrade.mot") +
                        L"\" --port SIM --scan --no-records --json --stop-event " + event;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd;
    startup.hStdOutput = nul;
    startup.hStdError = nul;
    PROCESS_INFORMATION station{};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                               &station));
    CloseHandle(readEnd);
    CloseHandle(nul);
    CloseHandle(station.hThread);

    DWORD written = 0;
    WriteFile(writeEnd, "PNL-20", 6, &written, nullptr); // the scanner stops mid-line
    HANDLE stop = nullptr;
    for (int i = 0; i < 300 && !stop; ++i, Sleep(50))
        stop = OpenEventW(EVENT_MODIFY_STATE, FALSE, event.c_str());
    ASSERT_TRUE(stop) << "the station never made its stop event";
    Sleep(2000); // its fixture is up and waiting for the rest of the line
    SetEvent(stop);
    const DWORD waited = WaitForSingleObject(station.hProcess, 20000);
    DWORD code = 1;
    GetExitCodeProcess(station.hProcess, &code);
    if (waited != WAIT_OBJECT_0) TerminateProcess(station.hProcess, 1);
    EXPECT_EQ(waited, static_cast<DWORD>(WAIT_OBJECT_0)) << "the station waited for the rest of the line";
    EXPECT_EQ(code, 0u);
    CloseHandle(stop);
    CloseHandle(writeEnd);
    CloseHandle(station.hProcess);
}
