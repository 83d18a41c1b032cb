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
