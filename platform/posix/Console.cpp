#include "platform/Console.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {
namespace {

volatile sig_atomic_t g_exitCode = 130;

int Descriptor(ConsoleStream stream)
{
    return stream == ConsoleStream::Output ? STDOUT_FILENO : STDERR_FILENO;
}

void OnInterrupt(int)
{
    if (NoteInterrupt()) _exit(g_exitCode);
}

void OnStopRequest(int)
{
    NoteStopRequest();
}

} // namespace

bool IsTerminal(ConsoleStream stream)
{
    return isatty(Descriptor(stream)) == 1;
}

int TerminalWidth(ConsoleStream stream)
{
    winsize size{};
    if (ioctl(Descriptor(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

void CatchInterrupts(int exitCode)
{
    g_exitCode = exitCode;
    struct sigaction action
    {
    };
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Restarting is right for the calls that block here (a write to standard output, the
    // wait for a reply that keeps the link in step): the count is looked at between
    // pages, and a parent's wait for its children looks at it after every wake-up.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    action.sa_handler = OnStopRequest;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // `program --json | head` must not die half-way through the flash: a write to the
    // closed pipe fails instead, and the run goes on to the end.
    signal(SIGPIPE, SIG_IGN);
}

} // namespace platform

namespace platform {

bool WatchStopEvent(const std::string&, std::string& error)
{
    error = "a stop event is a Windows service's way; here a service sends SIGTERM";
    return false;
}

void NoteProgramEnd() {}

} // namespace platform
