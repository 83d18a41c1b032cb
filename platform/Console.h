#pragma once
// What a command-line program asks of its console: whether an output stream is a
// terminal and how wide it is, and the interrupt key (Ctrl-C).
#include <functional>

namespace platform {

enum class ConsoleStream { Output, Error };

bool IsTerminal(ConsoleStream stream);
// Columns of the terminal behind the stream; 80 when unknown.
int TerminalWidth(ConsoleStream stream);

// From now on each Ctrl-C is counted instead of ending the process; from the second
// one on the process ends at once with exitCode. On POSIX, SIGTERM and SIGHUP are counted
// the same way but never end the process at once, and SIGPIPE is ignored: a closed output
// is no reason to stop half-way through the flash. Safe to call more than once.
void CatchInterrupts(int exitCode);
// How many stop requests (Ctrl-C, SIGTERM, SIGHUP) have arrived since CatchInterrupts.
int InterruptCount();
// For tests: as if Ctrl-C had been pressed (the second one does not end the process).
void SimulateInterrupt();
void ResetInterrupts();

// For the operating system's interrupt handler: counts one Ctrl-C; true when the process
// is to end at once (a second real one). Safe in a signal handler.
bool NoteInterrupt();
// For the handler of a stop request that is not the interrupt key (SIGTERM, SIGHUP): counts
// it like a Ctrl-C, never ends the process. Safe in a signal handler.
void NoteStopRequest();

} // namespace platform
