#pragma once
// The serial ports the system knows of, and the ports folder's aliases: what
// "torvane-cli ports" shows and what the port dialog offers beyond COM1..COM10.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct SerialPortInfo
{
    std::string name;                // what opens it: "/dev/ttyUSB0" on Linux, "COM12" on Windows
    std::string kind;                // "usb", "acm" (USB modem class) or "serial" (a UART of the machine)
    std::string source;              // where the system keeps it: the sysfs device, or the device map's name
    std::string description;         // Windows: the Device Manager's name; Linux: the USB interface's text
    std::vector<std::string> byPath; // stable names that follow the socket the adapter is in
    std::vector<std::string> byId;   // stable names that follow the adapter itself
    std::optional<uint16_t> vendorId, productId;
    std::string manufacturer, product, serialNumber, driver;
    // The adapter's latency timer, where its driver tells it (FTDI's: sysfs on Linux, the
    // driver's LatencyTimer value on Windows): how long it may hold a short reply.
    std::optional<uint32_t> latencyMs;
};

// The USB-serial chip's family, from its vendor and driver: "FTDI", "CP210x", "CH34x",
// "PL2303", "CDC-ACM"; empty for others and for a machine's own UART.
std::string AdapterFamily(const SerialPortInfo& port);

// The ports present now, sorted by name (COM2 before COM10).
std::vector<SerialPortInfo> ListSerialPorts();

struct PortAlias
{
    std::string name;   // "COM1"
    std::string target; // where it points
    bool present = false;
};

// The ports folder's aliases, sorted by name; empty when there is no folder.
std::vector<PortAlias> ListPortAliases();

// The names to add after the port dialog's own list: the present ports (on Windows all
// COM names, on Linux the USB and ACM devices), then on Linux the ports folder's aliases
// (FIX1...), each once, none that is listed already.
std::vector<std::string> PortsToOffer(const std::vector<std::string>& listed,
                                      const std::vector<SerialPortInfo>& present,
                                      const std::vector<PortAlias>& aliases = {});

// "COM2" before "COM10": digit runs compare by value.
bool PortNameLess(const std::string& a, const std::string& b);

} // namespace platform
