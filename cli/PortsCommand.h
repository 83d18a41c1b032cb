#pragma once
// torvane-cli ports: the serial ports present, with what the system knows of each, and
// the ports folder's aliases.
#include <iosfwd>

namespace CLI {
class App;
}

struct PortsCommandOptions
{
    bool json = false;
};

// Adds the "ports" subcommand to app; options are filled in when it is parsed.
CLI::App* AddPortsCommand(CLI::App& app, PortsCommandOptions& options);
// Lists the ports on out; always 0 (no port present is an answer, not a failure).
int RunPortsCommand(const PortsCommandOptions& options, std::ostream& out);
