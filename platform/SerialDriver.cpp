#include "platform/SerialDriver.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

#include "platform/Paths.h"
#include "platform/TermiosDriver.h"

namespace platform {

namespace {

std::string UpperCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

struct Registry
{
    std::mutex lock;
    std::map<std::string, SerialDriverFactory> factories;
};

Registry& Ports()
{
    static Registry registry;
    return registry;
}

} // namespace

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

std::unique_ptr<ISerialDriver> OpenSerialDriver(const std::string& name, OpenError& error)
{
    error = OpenError::None;
    SerialDriverFactory factory;
    {
        Registry& registry = Ports();
        std::lock_guard guard(registry.lock);
        if (auto it = registry.factories.find(UpperCase(name)); it != registry.factories.end())
            factory = it->second;
    }
    std::unique_ptr<ISerialDriver> driver;
    if (factory) {
        driver = factory(error);
    } else {
        driver = CTermiosDriver::Open(ResolvePortName(name), error);
    }
    if (!driver && error == OpenError::None) error = OpenError::Other;
    if (driver) error = OpenError::None;
    return driver;
}

void RegisterSerialPort(const std::string& name, SerialDriverFactory factory)
{
    Registry& registry = Ports();
    std::lock_guard guard(registry.lock);
    registry.factories[UpperCase(name)] = std::move(factory);
}

void UnregisterSerialPort(const std::string& name)
{
    Registry& registry = Ports();
    std::lock_guard guard(registry.lock);
    registry.factories.erase(UpperCase(name));
}

} // namespace platform
