#pragma once
// Runs a plant's own check (a pre-check before the erase, an on-result hook after each
// attempt): a program and its arguments, no shell, a JSON text on its standard input and
// the first line it prints kept. At its time limit the hook and everything it started
// (its process group, its job on Windows) is killed, and no pipe is waited on.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The command split on spaces, double quotes grouping (and removed); nothing when a
// quote is left open or no word is left.
std::optional<std::vector<std::string>> SplitHookCommand(const std::string& command);

struct HookOutcome
{
    enum class Ending { Exited, TimedOut, NotStarted };
    Ending ending = Ending::NotStarted;
    int exitCode = -1;     // when it exited; -1 when ended by a signal
    std::string firstLine; // of its standard output, without the line end
    std::string trouble;   // why it did not start
    // Fails closed: a hook that did not start or ran out of time never passes.
    bool Passed() const { return ending == Ending::Exited && exitCode == 0; }
};

// Inputs are a record's size: far below a pipe's buffer, so that writing them never
// waits on a hook that does not read.
HookOutcome RunHook(const std::vector<std::string>& arguments, const std::string& input,
                    std::chrono::milliseconds limit);

} // namespace platform
