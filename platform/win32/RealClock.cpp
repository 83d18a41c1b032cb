#include <windows.h>

#include <mmsystem.h>

#include "platform/Clock.h"

namespace platform {

namespace {

// A 1 ms system timer for the rest of the program's life: the default 15.6 ms one
// stretches the protocol's 15 and 20 ms pauses to 31 ms and the 40 ms page pause to 47.
class CTimerResolution
{
public:
    CTimerResolution() : m_raised(timeBeginPeriod(1) == TIMERR_NOERROR) { KeepResolutionWhenHidden(); }
    ~CTimerResolution()
    {
        if (m_raised) timeEndPeriod(1);
    }

private:
    // Windows 11 drops a process's timer request while none of its windows is visible
    // (a minimised panel in the middle of programming) unless the process opts out.
    // Older systems know no such setting and refuse it, which changes nothing there.
    static void KeepResolutionWhenHidden()
    {
        using SetInformation = BOOL(WINAPI*)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        auto set = kernel ? reinterpret_cast<SetInformation>(
                                reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessInformation")))
                          : nullptr;
        if (!set) return;
        PROCESS_POWER_THROTTLING_STATE state{};
        state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
        state.ControlMask = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
        state.StateMask = 0; // controlled, and off: the request is always honoured
        set(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state);
    }

    bool m_raised;
};

int64_t CounterFrequency()
{
    static const int64_t frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }();
    return frequency;
}

} // namespace

uint32_t CRealClock::GetTickCount()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const int64_t frequency = CounterFrequency();
    const int64_t ms = now.QuadPart / frequency * 1000 + now.QuadPart % frequency * 1000 / frequency;
    return static_cast<uint32_t>(ms);
}

void CRealClock::Sleep(uint32_t milliseconds)
{
    UsePreciseTimers();
    ::Sleep(milliseconds);
}

uint64_t CRealClock::GetMicroseconds()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const int64_t frequency = CounterFrequency();
    return static_cast<uint64_t>(now.QuadPart / frequency * 1'000'000 +
                                 now.QuadPart % frequency * 1'000'000 / frequency);
}

void CRealClock::SleepMicroseconds(uint64_t microseconds)
{
    // The system sleeps in whole milliseconds (1 ms timer): the rest is rounded up, as
    // a pause may end late but never early.
    UsePreciseTimers();
    ::Sleep(static_cast<DWORD>((microseconds + 999) / 1000));
}

void UsePreciseTimers()
{
    static CTimerResolution resolution;
}

} // namespace platform
