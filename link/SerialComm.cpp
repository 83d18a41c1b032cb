#include "link/SerialComm.h"

#include <algorithm>

#include "platform/Clock.h"

namespace {

// With no read limit, Read still wakes up now and then; the slice length is not
// visible to the caller.
constexpr uint32_t kUnlimitedWaitSlice = 1000;

} // namespace

CSerialComm::~CSerialComm()
{
    Close();
}

BOOL CSerialComm::Open(const std::string& name)
{
    if (!CIoController::Open(name)) return FALSE;
    m_bHungUp = FALSE;
    // Ports without modem lines (pseudo-terminals) refuse; nothing depends on it there.
    m_hDevice->RaiseDtr();
    return TRUE;
}

uint32_t CSerialComm::Write(const void* buffer, uint32_t count)
{
    if (!m_hDevice) return 0;
    const int written = m_hDevice->Write(static_cast<const uint8_t*>(buffer), count);
    return written < 0 ? 0 : static_cast<uint32_t>(written);
}

uint32_t CSerialComm::Read(void* buffer, uint32_t count)
{
    if (!m_hDevice) {
        m_lastReadEnd = ReadEnd::NotOpen;
        return 0;
    }
    if (count == 0) return 0;
    const uint32_t start = GetTickCount();
    for (;;) {
        uint32_t errors = 0;
        uint32_t queued = 0;
        if (!m_hDevice->TakeErrors(errors, queued)) {
            m_bHungUp = TRUE;
            m_lastReadEnd = ReadEnd::HungUp;
            return 0;
        }
        if (errors != 0) {
            m_lastReadEnd = ReadEnd::LineError;
            return 0;
        }
        if (queued >= count) {
            const int got = m_hDevice->Read(static_cast<uint8_t*>(buffer), count);
            m_lastReadEnd = got < 0 ? ReadEnd::HungUp : ReadEnd::Complete;
            return got < 0 ? 0 : static_cast<uint32_t>(got);
        }
        uint32_t wait = kUnlimitedWaitSlice;
        uint32_t left = UINT32_MAX;
        if (m_dwReadTimeout != 0) {
            const uint32_t elapsed = GetTickCount() - start;
            if (elapsed > m_dwReadTimeout) {
                m_lastReadEnd = ReadEnd::TimedOut;
                return 0;
            }
            // Wake just after the limit has been passed, not at it: the limit is strict.
            left = static_cast<uint32_t>(
                std::min<uint64_t>(static_cast<uint64_t>(m_dwReadTimeout) - elapsed + 1, UINT32_MAX));
            wait = left;
        }
        if (m_waitHook) {
            if (HookFitsNow(left)) {
                RunWaitHook();
                if (!m_hDevice) { // the hook closed the port
                    m_lastReadEnd = ReadEnd::NotOpen;
                    return 0;
                }
                continue;
            }
            wait = std::min(wait, UntilHookDue());
        }
        const platform::WaitResult result = m_hDevice->WaitForInput(queued, count, wait);
        // Silence from a device that is gone is no silence of the panel's.
        if (result == platform::WaitResult::HungUp ||
            (result == platform::WaitResult::Timeout && m_hDevice->Lost())) {
            m_bHungUp = TRUE;
            m_lastReadEnd = ReadEnd::HungUp;
            return 0;
        }
    }
}

void CSerialComm::Pause(uint32_t milliseconds)
{
    // The end is kept in microseconds: a hook run inside the pause ends at a fraction of a
    // millisecond, and whole ticks would add up to 1 ms to every page the windows pump in.
    platform::IClock& clock = platform::Clock();
    const uint64_t end = clock.GetMicroseconds() + uint64_t{milliseconds} * 1000;
    for (;;) {
        const uint64_t now = clock.GetMicroseconds();
        if (now >= end) return;
        uint64_t left = end - now;
        if (m_waitHook) {
            if (HookFitsNow(static_cast<uint32_t>(std::min<uint64_t>(left / 1000, UINT32_MAX)))) {
                RunWaitHook();
                continue;
            }
            left = std::min<uint64_t>(left, uint64_t{UntilHookDue()} * 1000);
        }
        clock.SleepMicroseconds(left);
    }
}

bool CSerialComm::HookFitsNow(uint32_t left) const
{
    // Due, and its last run fits in what is left of the wait: a hook never pushes a
    // pause or a read past its end.
    return GetTickCount() - m_lastHookEnd >= kWaitHookSlice && left > m_hookCost + 1;
}

uint32_t CSerialComm::UntilHookDue() const
{
    const uint32_t since = GetTickCount() - m_lastHookEnd;
    return since >= kWaitHookSlice ? kWaitHookSlice : kWaitHookSlice - since;
}

void CSerialComm::RunWaitHook()
{
    const uint32_t began = GetTickCount();
    m_waitHook();
    m_lastHookEnd = GetTickCount();
    m_hookCost = m_lastHookEnd - began;
}

void CSerialComm::WaitHookDueNow()
{
    m_lastHookEnd = GetTickCount() - kWaitHookSlice;
}

CSerialComm::WaitHook CSerialComm::SetWaitHook(WaitHook hook)
{
    std::swap(hook, m_waitHook);
    m_lastHookEnd = GetTickCount();
    m_hookCost = 0;
    return hook;
}

BOOL CSerialComm::SetTimeout(uint32_t milliseconds)
{
    m_dwReadTimeout = milliseconds;
    return IsOpen();
}

BOOL CSerialComm::SetState(const CIoState& state)
{
    const auto* record = dynamic_cast<const CSerialCommState*>(&state);
    if (!record || !m_hDevice) return FALSE;
    platform::SerialLineSettings settings;
    if (!m_hDevice->GetSettings(settings)) return FALSE;
    settings.baudRate = record->m_dwBaudRate;
    settings.byteSize = record->m_byByteSize;
    settings.parity = record->m_byParity;
    settings.stopBits = record->m_byStopBits;
    return m_hDevice->SetSettings(settings) ? TRUE : FALSE;
}

BOOL CSerialComm::GetState(CIoState& state)
{
    auto* record = dynamic_cast<CSerialCommState*>(&state);
    if (!record) return FALSE;
    platform::SerialLineSettings settings;
    const bool known = m_hDevice && m_hDevice->GetSettings(settings);
    if (!known) settings = {};
    record->m_dwBaudRate = settings.baudRate;
    record->m_byByteSize = settings.byteSize;
    record->m_byParity = settings.parity;
    record->m_byStopBits = settings.stopBits;
    return known ? TRUE : FALSE;
}

BOOL CSerialComm::Purge(uint32_t)
{
    if (!m_hDevice) return FALSE;
    uint32_t errors = 0;
    uint32_t queued = 0;
    m_hDevice->TakeErrors(errors, queued);
    m_hDevice->DiscardInput();
    return FALSE;
}
