#pragma once
// torvane-cli's command line: parses it, runs one panel in this process or one child
// process per port, and returns the exit code.
#include <ostream>

int RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err);
