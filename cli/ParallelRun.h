#pragma once
// Several ports: one child process per port running the same command with --json, a
// line of progress per port and a summary; the exit code is the worst of theirs.
#include <ostream>
#include <string>
#include <vector>

#include "cli/Options.h"

int RunParallel(const CliOptions& options, const std::vector<std::string>& childArguments, std::ostream& out,
                std::ostream& err);
