#pragma once
// Runs several copies of a program at once and collects what each prints on its
// standard output, line by line, as it comes; standard error is passed through.
#include <functional>
#include <string>
#include <vector>

namespace platform {

// The running program's own executable.
std::string SelfExecutablePath();

// Starts every command line (program path first), calls onLine(index, line) for each
// line a child prints, in arrival order, and returns the children's exit codes in order
// (-1 for one that could not be started or ended by a signal).
std::vector<int> RunChildren(const std::vector<std::vector<std::string>>& commands,
                             const std::function<void(size_t index, const std::string& line)>& onLine);

} // namespace platform
