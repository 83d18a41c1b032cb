#pragma once
// Millisecond tick count and sleep behind one service, so that the whole
// protocol (with its 1 s and 40 s waits) can run on a virtual clock in tests.
#include <cstdint>

namespace platform {

class IClock
{
public:
    virtual ~IClock() = default;
    // Milliseconds since an arbitrary start; wraps at 2^32 like the Win32 tick count.
    virtual uint32_t GetTickCount() = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
    // The same time in microseconds, for a wait whose end must not drift by the
    // fractions of a millisecond that whole ticks drop.
    virtual uint64_t GetMicroseconds() = 0;
    virtual void SleepMicroseconds(uint64_t microseconds) = 0;
};

class CRealClock final : public IClock
{
public:
    uint32_t GetTickCount() override;
    void Sleep(uint32_t milliseconds) override;
    uint64_t GetMicroseconds() override;
    void SleepMicroseconds(uint64_t microseconds) override;
};

// Time stands still until someone sleeps or advances it; sleeping returns at once.
class CVirtualClock final : public IClock
{
public:
    explicit CVirtualClock(uint64_t startMs = 1'000'000) : m_nowUs(startMs * 1000) {}
    uint32_t GetTickCount() override { return static_cast<uint32_t>(Now()); }
    void Sleep(uint32_t milliseconds) override { Advance(milliseconds); }
    uint64_t GetMicroseconds() override { return m_nowUs; }
    void SleepMicroseconds(uint64_t microseconds) override { m_nowUs += microseconds; }
    void Advance(uint64_t milliseconds) { m_nowUs += milliseconds * 1000; }
    void AdvanceTo(uint64_t ms)
    {
        if (ms * 1000 > m_nowUs) m_nowUs = ms * 1000;
    }
    // Whole milliseconds, as the tick count reads them.
    uint64_t Now() const { return m_nowUs / 1000; }
    uint64_t NowMicroseconds() const { return m_nowUs; }

private:
    uint64_t m_nowUs;
};

// The clock everything uses. Defaults to the real clock.
IClock& Clock();
// Installs a clock (nullptr restores the real one). Returns the previous one.
IClock* SetClock(IClock* clock);
// The installed clock when it is virtual, else nullptr.
CVirtualClock* VirtualClock();

// Asks the kernel to end this thread's sleeps on time: by default a sleep may overrun
// by 50 us, and an upgrade sleeps three times a page. Call on the protocol's thread.
void UsePreciseTimers();

// Installs a clock for the lifetime of a scope (tests).
class CScopedClock
{
public:
    explicit CScopedClock(IClock& clock) : m_previous(SetClock(&clock)) {}
    ~CScopedClock() { SetClock(m_previous); }
    CScopedClock(const CScopedClock&) = delete;
    CScopedClock& operator=(const CScopedClock&) = delete;

private:
    IClock* m_previous;
};

} // namespace platform

// The two kernel services the protocol code calls by their familiar names. A Windows
// source that includes <windows.h> first sees the system's own and calls platform::Clock().
#ifndef _WINBASE_
inline void Sleep(uint32_t milliseconds)
{
    platform::Clock().Sleep(milliseconds);
}
inline uint32_t GetTickCount()
{
    return platform::Clock().GetTickCount();
}
#endif
