#pragma once
// A serial port of this machine (or a pseudo-terminal) through termios.
#include <filesystem>
#include <memory>
#include <mutex>
#include <sys/types.h>

#include "platform/SerialDriver.h"
#include "platform/posix/UniqueFd.h"

namespace platform {

// True when the character device is a terminal by the kernel's own account (its class in
// /sys is "tty", or it is a pseudo-terminal), decided without opening it.
bool IsTerminalDevice(dev_t device);

class CTermiosDriver final : public ISerialDriver
{
    // Only Open can make the key, so only Open constructs a driver.
    struct OpenKey
    {
        explicit OpenKey() = default;
    };

public:
    CTermiosDriver(OpenKey, CUniqueFd fd, std::filesystem::path path, dev_t node);
    // Opens the device exclusively in raw mode; refuses anything that is not a terminal.
    static std::unique_ptr<ISerialDriver> Open(const std::filesystem::path& path, OpenError& error);
    ~CTermiosDriver() override;

    bool GetSettings(SerialLineSettings& settings) override;
    bool SetSettings(const SerialLineSettings& settings) override;
    bool TakeErrors(uint32_t& errors, uint32_t& queued) override;
    int Read(uint8_t* buffer, uint32_t count) override;
    int Write(const uint8_t* buffer, uint32_t count) override;
    bool DiscardInput() override;
    bool RaiseDtr() override;
    WaitResult WaitForInput(uint32_t queued, uint32_t wanted, uint32_t milliseconds) override;
    // After any error that says the device is gone, or once the name opened no longer
    // leads to the device held open (the node removed, an alias pointed elsewhere).
    bool Lost() const override;

private:
    // Notes errno's verdict on a failed call; false, for the caller to return.
    bool Failed() const;
    struct ErrorCounts
    {
        int frame = 0;
        int overrun = 0;
        int parity = 0;
        int brk = 0;
    };

    bool ReadCounts(ErrorCounts& counts);
    uint32_t BitsPerCharacter();
    int64_t CharacterMicroseconds();
    void SetWakeCount(uint32_t count);

    CUniqueFd m_fd;
    const std::filesystem::path m_path;
    const dev_t m_node;
    mutable bool m_lost = false;
    // Line errors come from the kernel's cumulative counters; we report what changed
    // since the last look. Pseudo-terminals have no counters.
    std::mutex m_countsLock;
    bool m_hasCounts = false;
    ErrorCounts m_counts;
    // The line discipline's VMIN: poll reports input only once this many bytes are queued.
    uint32_t m_wakeCount = 1;
};

} // namespace platform
