#include "platform/Paths.h"
#include "platform/SerialDriver.h"
#include "platform/posix/TermiosDriver.h"

namespace platform {

std::string DescribeOpenError(OpenError error)
{
    switch (error) {
    case OpenError::None:
        return "no error";
    case OpenError::NotFound:
        return "no such port";
    case OpenError::AccessDenied:
        return "access denied (is the user in the dialout group?)";
    case OpenError::InUse:
        return "the port is in use by another program";
    case OpenError::NotATerminal:
        return "not a serial port";
    case OpenError::Other:
        break;
    }
    return "the port cannot be opened";
}

std::unique_ptr<ISerialDriver> OpenSystemSerialPort(const std::string& name, OpenError& error)
{
    return CTermiosDriver::Open(ResolvePortName(name).Native(), error);
}

} // namespace platform
