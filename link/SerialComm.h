#pragma once
// An RS-232 port: DTR raised on open, line settings from a CSerialCommState, reads
// that wait (in the kernel, not spinning) until the whole reply is queued or the
// read time-out passes.
#include <cstdint>
#include <functional>

#include "link/IoController.h"
#include "link/SerialCommState.h"

class CSerialComm : public CIoController
{
public:
    CSerialComm() = default;
    ~CSerialComm() override;

    [[nodiscard]] BOOL Open(const std::string& name) override;
    [[nodiscard]] uint32_t Write(const void* buffer, uint32_t count) override;
    // Returns count when all requested bytes were queued in time, else 0 (time-out,
    // line error, hang-up). A pending line error fails one read and is cleared.
    [[nodiscard]] uint32_t Read(void* buffer, uint32_t count) override;
    BOOL SetTimeout(uint32_t milliseconds) override;
    [[nodiscard]] BOOL SetState(const CIoState& state) override;
    [[nodiscard]] BOOL GetState(CIoState& state) override;
    BOOL Purge(uint32_t ignored) override;

    uint32_t GetTimeout() const { return m_dwReadTimeout; }
    // The far end went away (a USB adapter pulled out, its node gone): nothing more will
    // come until the port is closed and its name opened again.
    BOOL IsHungUp() const { return m_bHungUp || (m_hDevice && m_hDevice->Lost()); }

    // Why the last Read ended: the caller of a failed read can tell silence from a
    // garbled byte and from a port that is gone.
    enum class ReadEnd { Complete, TimedOut, LineError, HungUp, NotOpen };
    ReadEnd LastReadEnd() const { return m_lastReadEnd; }

    // While set, a waiting Read or Pause calls the hook about every `slice` ms, so a front
    // end can stay responsive through a 40 s wait. The hook runs between slices, only
    // while the time left is longer than its last run took, and never once the wait is
    // over: it never lengthens the read's time-out or the pause. Returns the hook it
    // replaces.
    using WaitHook = std::function<void()>;
    WaitHook SetWaitHook(WaitHook hook);
    const WaitHook& GetWaitHook() const { return m_waitHook; }
    static constexpr uint32_t kWaitHookSlice = 50; // well inside the 100 ms a window may be unresponsive
    // The hook is due at the next wait whenever it last ran: a front end's work that has
    // to be done once per page goes into the pause after the page, where it costs nothing.
    void WaitHookDueNow();
    // The protocol's pauses: exactly this long, with the hook run inside them when due.
    void Pause(uint32_t milliseconds);

private:
    bool HookFitsNow(uint32_t left) const;
    uint32_t UntilHookDue() const;
    void RunWaitHook();

    uint32_t m_dwReadTimeout = 0;
    BOOL m_bHungUp = FALSE;
    ReadEnd m_lastReadEnd = ReadEnd::Complete;
    WaitHook m_waitHook;
    uint32_t m_lastHookEnd = 0; // tick count
    uint32_t m_hookCost = 0;    // ms the last run took
};
