#include "platform/posix/SysfsSerialPorts.h"

#include <algorithm>
#include <fstream>

namespace platform {

namespace fs = std::filesystem;

namespace {

// One line of a sysfs attribute, without its newline; empty when there is none.
std::string Attribute(const fs::path& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

std::optional<uint16_t> HexAttribute(const fs::path& path)
{
    const std::string text = Attribute(path);
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return std::nullopt;
    return static_cast<uint16_t>(std::stoul(text, nullptr, 16));
}

// The last part of where a link points: a subsystem's or a driver's name.
std::string LinkName(const fs::path& link)
{
    std::error_code ec;
    const fs::path target = fs::canonical(link, ec);
    return ec ? std::string() : target.filename().string();
}

std::string KindOf(const std::string& name)
{
    if (name.rfind("ttyUSB", 0) == 0) return "usb";
    if (name.rfind("ttyACM", 0) == 0) return "acm";
    return "serial";
}

// The symlinks in folder that lead to device.
std::vector<std::string> LinksTo(const fs::path& folder, const fs::path& device)
{
    std::vector<std::string> links;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        if (!entry.is_symlink(ec)) continue;
        std::error_code resolveError;
        if (fs::weakly_canonical(entry.path(), resolveError) == device && !resolveError)
            links.push_back(entry.path().string());
    }
    std::sort(links.begin(), links.end());
    return links;
}

void AddUsbDetails(const fs::path& device, const std::string& subsystem, SerialPortInfo& port)
{
    // A usb-serial port sits below its USB interface; an ACM tty's device is the interface.
    fs::path interface;
    if (subsystem == "usb-serial")
        interface = device.parent_path();
    else if (subsystem == "usb")
        interface = device;
    else
        return;
    const fs::path usbDevice = interface.parent_path();
    port.vendorId = HexAttribute(usbDevice / "idVendor");
    port.productId = HexAttribute(usbDevice / "idProduct");
    port.manufacturer = Attribute(usbDevice / "manufacturer");
    port.product = Attribute(usbDevice / "product");
    port.serialNumber = Attribute(usbDevice / "serial");
    port.description = Attribute(interface / "interface");
    if (port.description.empty()) port.description = port.product;
}

} // namespace

std::vector<SerialPortInfo> ScanSysfsSerialPorts(const fs::path& sysRoot, const fs::path& devRoot)
{
    std::vector<SerialPortInfo> ports;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(sysRoot / "class" / "tty", ec)) {
        const std::string name = entry.path().filename().string();
        std::error_code resolveError;
        // Consoles, virtual terminals and pseudo-terminals have no device behind them.
        const fs::path device = fs::canonical(entry.path() / "device", resolveError);
        if (resolveError) continue;
        // The serial core keeps a tty for every UART slot it reserved; type 0 means no UART answered there.
        if (Attribute(entry.path() / "type") == "0") continue;

        SerialPortInfo port;
        port.name = (devRoot / name).string();
        port.kind = KindOf(name);
        port.source = device.string();
        // Newer kernels put a port device of the serial core between a UART and its driver.
        fs::path owner = device;
        while (LinkName(owner / "subsystem") == "serial-base" && owner.has_parent_path())
            owner = owner.parent_path();
        port.driver = LinkName(owner / "driver");
        if (const std::string latency = Attribute(device / "latency_timer");
            !latency.empty() && latency.size() < 4 && latency.find_first_not_of("0123456789") == std::string::npos)
            port.latencyMs = static_cast<uint32_t>(std::stoul(latency));
        AddUsbDetails(device, LinkName(device / "subsystem"), port);
        const fs::path node = fs::weakly_canonical(devRoot / name, resolveError);
        port.byPath = LinksTo(devRoot / "serial" / "by-path", node);
        port.byId = LinksTo(devRoot / "serial" / "by-id", node);
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return PortNameLess(a.name, b.name); });
    return ports;
}

std::vector<SerialPortInfo> ListSerialPorts()
{
    return ScanSysfsSerialPorts("/sys", "/dev");
}

} // namespace platform
