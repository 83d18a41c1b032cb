#include "bench/ProcessCpu.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/prctl.h>
#include <sys/resource.h>
#endif

namespace bench {

CpuTimes ProcessCpu()
{
    CpuTimes times;
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        auto seconds = [](const FILETIME& t) {
            return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                       t.dwLowDateTime) /
                   1e7;
        };
        times.user = seconds(user);
        times.system = seconds(kernel);
    }
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    times.user = static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6;
    times.system = static_cast<double>(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec / 1e6;
#endif
    return times;
}

void SetTimerSlackNs(long ns)
{
#ifndef _WIN32
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(ns), 0, 0, 0);
#else
    (void)ns;
#endif
}

int TimerSlackNs()
{
#ifndef _WIN32
    return prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
#else
    return -1;
#endif
}

} // namespace bench
