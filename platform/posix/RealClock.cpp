#include "platform/Clock.h"

#include <chrono>
#include <thread>
#include <sys/prctl.h>

namespace platform {

namespace {
CRealClock g_realClock;
IClock* g_clock = &g_realClock;
} // namespace

uint32_t CRealClock::GetTickCount()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void CRealClock::Sleep(uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void UsePreciseTimers()
{
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

IClock& Clock()
{
    return *g_clock;
}

IClock* SetClock(IClock* clock)
{
    IClock* previous = g_clock;
    g_clock = clock ? clock : &g_realClock;
    return previous == &g_realClock ? nullptr : previous;
}

CVirtualClock* VirtualClock()
{
    return dynamic_cast<CVirtualClock*>(g_clock);
}

} // namespace platform
