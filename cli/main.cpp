// torvane-cli: the panel upgrade and the service commands from a terminal or a script.
#include <iostream>

#include "cli/CommandLine.h"
#include "platform/Clock.h"

int main(int argc, char** argv)
{
    platform::UsePreciseTimers();
    return RunCommandLine(argc, argv, std::cout, std::cerr);
}
