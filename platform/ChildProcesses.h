#pragma once
// Runs several copies of a program at once and collects what each prints on its
// standard output, line by line, as it comes; standard error is passed through.
// A child never outlives its parent unseen: it is told to stop when the parent is gone.
#include <functional>
#include <string>
#include <vector>

namespace platform {

// The running program's own executable.
std::string SelfExecutablePath();

// Starts every command line (program path first), calls onLine(index, line) for each
// line a child prints, in arrival order, and returns the children's exit codes in order
// (-1 for one that could not be started or ended by a signal). When a child ends,
// onEnd(index, code) is asked (with the line lock held, like onLine) whether to start
// its command again. onTick is called a few times a second while they run (with the line
// lock held too), for what changes without a child's line.
std::vector<int> RunChildren(const std::vector<std::vector<std::string>>& commands,
                             const std::function<void(size_t index, const std::string& line)>& onLine,
                             const std::function<bool(size_t index, int code)>& onEnd = nullptr,
                             const std::function<void()>& onTick = nullptr);

// For a child started by RunChildren: from now on, the parent's end (killed, crashed) and
// a parent's stop both count as a stop request (InterruptCount), so the child finishes
// its page and leaves the panel safe instead of going on unseen. Linux: the parent-death
// signal (set at the start) and standard output's pipe hung up; Windows: the parent's
// inherited process handle and stop event.
void WatchParent();

} // namespace platform
