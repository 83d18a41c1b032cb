#pragma once
// Runs a plant's own check (a pre-check before the erase, an on-result hook after each
// attempt): a program and its arguments, no shell, a JSON text on its standard input and
// the first line it prints kept. At its time limit, at a stop, and when this process
// ends however it ends, the hook and everything it started is killed: its process group
// and, on Linux, what left the group (a keeper process is their subreaper); its job on
// Windows. No pipe is waited on.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The command split on spaces, double quotes grouping (and removed); nothing when a
// quote is left open or no word is left.
std::optional<std::vector<std::string>> SplitHookCommand(const std::string& command);

struct HookOutcome
{
    enum class Ending { Exited, TimedOut, Stopped, NotStarted };
    Ending ending = Ending::NotStarted;
    int exitCode = -1;     // when it exited; -1 when ended by a signal
    std::string firstLine; // of its standard output, without the line end
    std::string trouble;   // why it did not start
    // Fails closed: a hook that did not start or ran out of time never passes.
    bool Passed() const { return ending == Ending::Exited && exitCode == 0; }
};

// Inputs are a record's size: far below a pipe's buffer, so that writing them never
// waits on a hook that does not read.
// stopRequested is asked every few tens of milliseconds (a Ctrl-C or SIGTERM when not
// given): a stop ends the hook at once instead of at its limit.
HookOutcome RunHook(const std::vector<std::string>& arguments, const std::string& input,
                    std::chrono::milliseconds limit, const std::function<bool()>& stopRequested = nullptr);

} // namespace platform
