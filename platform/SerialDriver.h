#pragma once
// The operating-system side of a serial port, behind one small interface so that
// the protocol code never sees a file descriptor or a handle. Each operating system
// has its own driver for real ports; the device simulator plugs its own driver in
// under a chosen name.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// Speed and framing, in the codes of the link settings record:
// parity 0 none, 1 odd, 2 even, 3 mark, 4 space; stop bits 0 = 1, 1 = 1.5, 2 = 2.
struct SerialLineSettings
{
    uint32_t baudRate = 0;
    uint8_t byteSize = 0;
    uint8_t parity = 0;
    uint8_t stopBits = 0;
};

// Line-error bits reported by TakeErrors (the Win32 CE_* values).
enum : uint32_t {
    kLineErrorOverrun = 0x0002, // CE_OVERRUN
    kLineErrorParity = 0x0004,  // CE_RXPARITY
    kLineErrorFrame = 0x0008,   // CE_FRAME
    kLineErrorBreak = 0x0010,   // CE_BREAK
};

enum class OpenError {
    None,
    NotFound,     // no such device or alias
    AccessDenied, // permissions (typically: not in the dialout group)
    InUse,        // another program holds the port
    NotATerminal, // a regular file, a directory, anything that is not a tty
    Other,
};

std::string DescribeOpenError(OpenError error);

enum class WaitResult {
    Ready,   // more bytes queued, or a line error pending
    Timeout, // the time passed with nothing new
    HungUp,  // the far end is gone (adapter pulled out); nothing more will come
};

class ISerialDriver
{
public:
    virtual ~ISerialDriver() = default;

    virtual bool GetSettings(SerialLineSettings& settings) = 0;
    // Changes speed, data bits, parity and stop bits only; false when the driver refuses.
    virtual bool SetSettings(const SerialLineSettings& settings) = 0;
    // Takes (and so clears) the pending line-error bits and reports the receive-queue length.
    // False when the state cannot be read at all (for example after a hang-up).
    virtual bool TakeErrors(uint32_t& errors, uint32_t& queued) = 0;
    // Reads up to count queued bytes without blocking; returns the number read or -1.
    virtual int Read(uint8_t* buffer, uint32_t count) = 0;
    // Returns once the bytes have left the port (their wire time at the current speed
    // has passed); the number written, or -1.
    virtual int Write(const uint8_t* buffer, uint32_t count) = 0;
    // Discards received bytes only; the transmit side is left alone.
    virtual bool DiscardInput() = 0;
    // Asserts DTR; false where the port has no modem lines.
    virtual bool RaiseDtr() = 0;
    // Waits until more than `queued` bytes are queued, a line error is pending, the port
    // hangs up, or `milliseconds` of the platform clock have passed. `wanted` is how many
    // bytes the reader is after: a driver may sleep on until that many are there (one
    // wake-up a reply), and the caller must then take whatever has come.
    virtual WaitResult WaitForInput(uint32_t queued, uint32_t wanted, uint32_t milliseconds) = 0;
    // True once the device is gone for good (a USB adapter pulled out, its node removed or
    // its name now leading to another device): every later call fails at once, and only a
    // new open of the name can reach a device again. Told by the system's own error codes,
    // never by the words of a message.
    virtual bool Lost() const { return false; }
};

using SerialDriverFactory = std::function<std::unique_ptr<ISerialDriver>(OpenError& error)>;

// Opens a port by the name the user typed: a name registered by a simulator first,
// then the operating system's own port of that name.
std::unique_ptr<ISerialDriver> OpenSerialDriver(const std::string& name, OpenError& error);

// Makes OpenSerialDriver(name) use the factory (case-insensitive name). Tests and the
// in-process simulator use this; Unregister removes it.
void RegisterSerialPort(const std::string& name, SerialDriverFactory factory);
void UnregisterSerialPort(const std::string& name);

// The operating system's port of that name (one implementation per OS): on POSIX
// "COM1".."COM10" through the ports folder alias or /dev/ttyS<n-1>, else a path; on
// Windows "COMn" as \\.\COMn and no other name (no such port).
std::unique_ptr<ISerialDriver> OpenSystemSerialPort(const std::string& name, OpenError& error);

} // namespace platform
