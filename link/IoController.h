#pragma once
// The byte pipe to the boot loader: an abstract device opened by name.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/SerialDriver.h"
#include "platform/WinTypes.h"

// Settings record of a device; each controller downcasts to its own kind.
class CIoState
{
public:
    virtual ~CIoState() = default;
};

class CIoController
{
public:
    CIoController() = default;
    virtual ~CIoController();
    CIoController(const CIoController&) = delete;
    CIoController& operator=(const CIoController&) = delete;

    // What a call's failure means is the caller's to decide; a purge, a time-out or a close
    // that did not take shows in the next read, so those are left to be ignored.
    [[nodiscard]] virtual BOOL Open(const std::string& name);
    virtual BOOL Close();
    virtual BOOL IsOpen() const;
    [[nodiscard]] virtual uint32_t Write(const void* buffer, uint32_t count) = 0;
    [[nodiscard]] virtual uint32_t Read(void* buffer, uint32_t count) = 0;
    virtual BOOL SetTimeout(uint32_t milliseconds) = 0;
    [[nodiscard]] virtual BOOL SetState(const CIoState& state) = 0;
    [[nodiscard]] virtual BOOL GetState(CIoState& state) = 0;
    virtual BOOL Purge(uint32_t ignored) = 0;

    // Why the last Open failed (None after a success), for the one diagnostic line.
    platform::OpenError LastOpenError() const { return m_lastOpenError; }
    const std::string& DeviceName() const { return m_strDevice; }

protected:
    // The open device; empty while closed (the invalid handle).
    std::unique_ptr<platform::ISerialDriver> m_hDevice;
    std::string m_strDevice;
    platform::OpenError m_lastOpenError = platform::OpenError::None;
};
