#pragma once
// What a command-line program asks of its console: whether an output stream is a
// terminal and how wide it is, and the interrupt key (Ctrl-C).
#include <cstdint>
#include <functional>
#include <string>

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

// Windows: the named event (in the session's namespace unless the name says "Global\\")
// that a supervising service sets to stop the program as Ctrl-C does; it is made when
// it does not exist yet. False with the reason when the name is taken by another kind of
// object. POSIX has no such thing (a service sends SIGTERM): false with that reason.
bool WatchStopEvent(const std::string& name, std::string& error);

// Called when the work is done and the process is about to end: a close of the console
// window or the session's end, held back meanwhile, may now let it go.
void NoteProgramEnd();

// Windows decisions, apart so that what Wine cannot show is tested. What a console
// event does: Ctrl-C and Ctrl-Break count as the interrupt key; closing the window,
// logoff and shutdown stop the work and hold the process until it is done (the
// system ends it after a few seconds in any case).
enum class ConsoleEventAction { Ignore, Interrupt, StopAndHold };
ConsoleEventAction ActionForConsoleEvent(uint32_t type);
// Whether a message to the hidden window (a console program that loads user32 hears of
// logoff and shutdown only this way) stops the work: WM_QUERYENDSESSION, and
// WM_ENDSESSION when the session really ends.
bool SessionEndStops(uint32_t message, uintptr_t wParam);

// For the operating system's interrupt handler: counts one Ctrl-C; true when the process
// is to end at once (a second real one). Safe in a signal handler.
bool NoteInterrupt();
// For the handler of a stop request that is not the interrupt key (SIGTERM, SIGHUP): counts
// it like a Ctrl-C, never ends the process. Safe in a signal handler.
void NoteStopRequest();

} // namespace platform
