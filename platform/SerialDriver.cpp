#include "platform/SerialDriver.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

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
        driver = OpenSystemSerialPort(name, error);
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
