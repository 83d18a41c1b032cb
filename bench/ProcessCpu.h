#pragma once
// The process's CPU time and the thread's timer slack, on either system: the session
// benchmark runs natively on Linux and cross-compiled under Wine.

namespace bench {

struct CpuTimes
{
    double user = 0;
    double system = 0;
    double Total() const { return user + system; }
};

CpuTimes ProcessCpu();
// Linux only (prctl); elsewhere nothing, and TimerSlackNs() is -1.
void SetTimerSlackNs(long ns);
int TimerSlackNs();

} // namespace bench
