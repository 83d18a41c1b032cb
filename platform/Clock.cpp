#include "platform/Clock.h"

namespace platform {

namespace {
CRealClock g_realClock;
IClock* g_clock = &g_realClock;
} // namespace

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
