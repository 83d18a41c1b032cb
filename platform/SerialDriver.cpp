#include "platform/SerialDriver.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

#include "platform/Paths.h"

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

unsigned ComPortNumber(const std::string& name)
{
    if (name.size() < 4 || name.size() > 12) return 0;
    for (size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
    unsigned number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
        number = number * 10 + static_cast<unsigned>(name[i] - '0');
    }
    return number;
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
