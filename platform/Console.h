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
// one on the process ends at once with exitCode. Safe to call more than once.
void CatchInterrupts(int exitCode);
// How many Ctrl-C have arrived since CatchInterrupts.
int InterruptCount();
// For tests: as if Ctrl-C had been pressed (the second one does not end the process).
void SimulateInterrupt();
void ResetInterrupts();

// For the operating system's interrupt handler: counts one Ctrl-C; true when the process
// is to end at once (a second real one). Safe in a signal handler.
bool NoteInterrupt();

} // namespace platform
