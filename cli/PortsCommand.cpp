#include "cli/PortsCommand.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <ostream>

#include "platform/Paths.h"
#include "platform/SerialPorts.h"
#include "platform/ShownText.h"

namespace {

std::string Hex4(uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

nlohmann::json PortJson(const platform::SerialPortInfo& port)
{
    nlohmann::json json{{"event", "port"},
                        {"name", port.name},
                        {"kind", port.kind},
                        {"source", port.source},
                        {"description", port.description},
                        {"by_path", port.byPath},
                        {"by_id", port.byId},
                        {"manufacturer", port.manufacturer},
                        {"product", port.product},
                        {"serial_number", port.serialNumber},
                        {"driver", port.driver},
                        {"adapter", platform::AdapterFamily(port)}};
    json["latency_ms"] = port.latencyMs ? nlohmann::json(*port.latencyMs) : nlohmann::json(nullptr);
    json["vendor_id"] = port.vendorId ? nlohmann::json(Hex4(*port.vendorId)) : nlohmann::json(nullptr);
    json["product_id"] = port.productId ? nlohmann::json(Hex4(*port.productId)) : nlohmann::json(nullptr);
    return json;
}

void PrintPort(const platform::SerialPortInfo& port, std::ostream& out)
{
    // A description or serial comes from the adapter itself, whatever it claims to be.
    using platform::ShownText;
    out << ShownText(port.name) << "  " << ShownText(port.kind);
    if (port.vendorId && port.productId) out << "  " << Hex4(*port.vendorId) << ":" << Hex4(*port.productId);
    // The Device Manager's name already carries the maker; a USB product text may not.
    std::string words = port.description;
    if (!port.manufacturer.empty() && words.find(port.manufacturer) == std::string::npos)
        words = port.manufacturer + (words.empty() ? "" : " " + words);
    if (!words.empty()) out << "  " << ShownText(words);
    if (!port.serialNumber.empty()) out << "  serial " << ShownText(port.serialNumber);
    if (!port.driver.empty()) out << "  driver " << ShownText(port.driver);
    if (const std::string family = platform::AdapterFamily(port); !family.empty()) out << "  " << family;
    // Every page's status reply may wait that long.
    if (port.latencyMs) out << ", latency timer " << *port.latencyMs << " ms";
    out << "\n";
    for (const std::string& name : port.byPath)
        out << "    " << ShownText(name) << "\n";
    for (const std::string& name : port.byId)
        out << "    " << ShownText(name) << "\n";
}

} // namespace

CLI::App* AddPortsCommand(CLI::App& app, PortsCommandOptions& options)
{
    CLI::App* ports =
        app.add_subcommand("ports", "list the serial ports present and the aliases of the ports folder");
    ports->add_flag("--json", options.json, "one JSON object per port and per alias on standard output");
    ports->footer("Example: torvane-cli ports --json");
    return ports;
}

int RunPortsCommand(const PortsCommandOptions& options, std::ostream& out)
{
    const std::vector<platform::SerialPortInfo> ports = platform::ListSerialPorts();
    const std::vector<platform::PortAlias> aliases = platform::ListPortAliases();
    if (options.json) {
        for (const platform::SerialPortInfo& port : ports)
            // An adapter's description may be no UTF-8: replaced, never a thrown exception.
            out << PortJson(port).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        for (const platform::PortAlias& alias : aliases)
            out << nlohmann::json{{"event", "alias"},
                                  {"name", alias.name},
                                  {"target", alias.target},
                                  {"present", alias.present}}
                       .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                << "\n";
        return 0;
    }
    if (ports.empty()) out << "No serial ports present.\n";
    for (const platform::SerialPortInfo& port : ports)
        PrintPort(port, out);
    if (!aliases.empty()) {
        out << "\nAliases in " << platform::PortsDir().Utf8() << ":\n";
        for (const platform::PortAlias& alias : aliases)
            out << "  " << platform::ShownText(alias.name) << " -> " << platform::ShownText(alias.target)
                << (alias.present ? "" : "  (absent)") << "\n";
    }
    return 0;
}
