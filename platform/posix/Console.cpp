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
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace platform
