// torvane-cli: the panel upgrade and the service commands from a terminal or a script.
#include <iostream>

#include "cli/CommandLine.h"
#include "platform/Clock.h"
#include "sim/BuiltInPanel.h"

int main(int argc, char** argv)
{
    platform::UsePreciseTimers();
    sim::RegisterBuiltInPanel(); // the port name SIM: a panel to try the commands on
    return RunCommandLine(argc, argv, std::cout, std::cerr);
}
