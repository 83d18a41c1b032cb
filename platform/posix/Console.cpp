#include "platform/Console.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

namespace platform {
namespace {

std::atomic<int> g_interrupts{0};
std::atomic<bool> g_simulated{false};
volatile sig_atomic_t g_exitCode = 130;

int Descriptor(ConsoleStream stream)
{
    return stream == ConsoleStream::Output ? STDOUT_FILENO : STDERR_FILENO;
}

void OnInterrupt(int)
{
    if (g_interrupts.fetch_add(1) >= 1 && !g_simulated.load()) _exit(g_exitCode);
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

int InterruptCount()
{
    return g_interrupts.load();
}

void SimulateInterrupt()
{
    g_simulated = true;
    g_interrupts.fetch_add(1);
}

void ResetInterrupts()
{
    g_interrupts = 0;
    g_simulated = false;
}

} // namespace platform
