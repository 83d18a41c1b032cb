#include "platform/SerialDriver.h"
#include "platform/win32/CommDriver.h"

namespace platform {

std::string DescribeOpenError(OpenError error)
{
    switch (error) {
    case OpenError::None:
        return "no error";
    case OpenError::NotFound:
        return "no such port";
    case OpenError::AccessDenied:
        return "access denied";
    case OpenError::InUse:
        return "the port is in use by another program";
    case OpenError::NotATerminal:
        return "not a serial port";
    case OpenError::Other:
        break;
    }
    const std::string system = CCommDriver::LastOpenFailureText();
    return system.empty() ? "the port cannot be opened" : "the port cannot be opened: " + system;
}

std::unique_ptr<ISerialDriver> OpenSystemSerialPort(const std::string& name, OpenError& error)
{
    const unsigned number = ComDeviceNumber(name);
    if (number == 0) {
        error = OpenError::NotFound;
        return nullptr;
    }
    return CCommDriver::Open(number, error);
}

} // namespace platform
