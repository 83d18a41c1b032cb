#pragma once
// A COM port of this machine through the Win32 communications API.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/SerialDriver.h"
#include "platform/win32/Win32Text.h"

namespace platform {

class CCommDriver final : public ISerialDriver
{
public:
    // Opens the device exclusively (share mode 0), binary, no flow control, DTR raised.
    static std::unique_ptr<ISerialDriver> Open(const std::wstring& device, OpenError& error);

    bool GetSettings(SerialLineSettings& settings) override;
    bool SetSettings(const SerialLineSettings& settings) override;
    bool TakeErrors(uint32_t& errors, uint32_t& queued) override;
    int Read(uint8_t* buffer, uint32_t count) override;
    int Write(const uint8_t* buffer, uint32_t count) override;
    bool DiscardInput() override;
    bool RaiseDtr() override;
    WaitResult WaitForInput(uint32_t queued, uint32_t wanted, uint32_t milliseconds) override;

private:
    CCommDriver(win32::CFileHandle handle, win32::CKernelHandle portLock);
    // Reads into m_pending with the given timeouts; false when the port failed (gone).
    bool ReadIntoPending(uint32_t count, const COMMTIMEOUTS& timeouts);
    bool SetTimeouts(const COMMTIMEOUTS& timeouts);
    uint32_t BitsPerCharacter();
    // Sleeps until the point has passed: std::this_thread::sleep_until may end up to a
    // millisecond early here, and a frame must not be reported gone before it is.
    void WaitUntil(std::chrono::steady_clock::time_point until);

    win32::CFileHandle m_handle;
    // Held while the port is open: Windows' own drivers refuse a second opener, but
    // not every COM driver does (Wine's does not), and our GUI and command-line
    // programs must never share a port.
    win32::CKernelHandle m_portLock;
    win32::CKernelHandle m_timer; // a high-resolution waitable timer where the system has one
    int64_t m_timerLateUs = 500;  // how late the timer has been firing of late
    // Bytes a timed wait has already taken from the driver and the reader has not:
    // waiting is done by a blocking ReadFile, which costs no CPU and wakes once a reply.
    std::vector<uint8_t> m_pending;
    uint32_t m_pendingErrors = 0;
    COMMTIMEOUTS m_timeouts{};
    bool m_timeoutsKnown = false;
};

} // namespace platform
