#pragma once
// A COM port of this machine through the Win32 communications API.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/SerialDriver.h"
#include "platform/win32/Win32Text.h"

namespace platform {

// The n of "COMn" or "\\.\COMn" (any case, n >= 1); 0 for every other name, which
// then opens nothing: not a file, a pipe or a share that happens to bear the name.
unsigned ComDeviceNumber(const std::string& name);

class CCommDriver final : public ISerialDriver
{
    // Only Open can make the key, so only Open constructs a driver.
    struct OpenKey
    {
        explicit OpenKey() = default;
    };

public:
    CCommDriver(OpenKey, win32::CFileHandle handle, win32::CKernelHandle portLock);
    // Opens \\.\COMn exclusively (share mode 0), binary, no flow control, DTR raised.
    static std::unique_ptr<ISerialDriver> Open(unsigned comNumber, OpenError& error);
    // The kind of a failed open's system error code; the code is kept (per thread) so that
    // the message gives the system's own words: a wedged adapter's ERROR_GEN_FAILURE is no
    // mere "cannot be opened".
    static OpenError NoteOpenFailure(DWORD code);
    // Those words with the code, for the last open of this thread that failed with one;
    // empty after an open that did not.
    static std::string LastOpenFailureText();

    bool GetSettings(SerialLineSettings& settings) override;
    bool SetSettings(const SerialLineSettings& settings) override;
    bool TakeErrors(uint32_t& errors, uint32_t& queued) override;
    int Read(uint8_t* buffer, uint32_t count) override;
    int Write(const uint8_t* buffer, uint32_t count) override;
    bool DiscardInput() override;
    bool RaiseDtr() override;
    WaitResult WaitForInput(uint32_t queued, uint32_t wanted, uint32_t milliseconds) override;
    // After an error that says the device is gone, or a handle that no longer answers.
    bool Lost() const override { return m_lost; }

private:
    // Notes GetLastError's verdict on a failed call; false, for the caller to return.
    bool Failed();
    // Reads into m_pending with the given timeouts; false when the port failed (gone).
    bool ReadIntoPending(uint32_t count, const COMMTIMEOUTS& timeouts);
    // The read time-outs given, with the write time-out of the current speed.
    bool SetTimeouts(const COMMTIMEOUTS& readTimeouts);
    void SizeWriteTimeout(uint32_t baudRate);
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
    DWORD m_writeMsPerByte = 12;
    bool m_timeoutsKnown = false;
    bool m_lost = false;
    int m_emptyReturns = 0; // timed reads in a row that came back early with nothing
};

} // namespace platform
