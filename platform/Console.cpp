#include "platform/Console.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<int> g_interrupts{0};
// Only the interrupt key ends the process at the second press: a stop request may reach a
// child both from its parent and from the system (a service manager signals the whole
// group), and counting it twice must not cut a page short.
std::atomic<int> g_keyInterrupts{0};
std::atomic<bool> g_simulated{false};

} // namespace

bool NoteInterrupt()
{
    g_interrupts.fetch_add(1);
    return g_keyInterrupts.fetch_add(1) >= 1 && !g_simulated.load();
}

ConsoleEventAction ActionForConsoleEvent(uint32_t type)
{
    // CTRL_C_EVENT 0, CTRL_BREAK_EVENT 1, CTRL_CLOSE_EVENT 2, CTRL_LOGOFF_EVENT 5,
    // CTRL_SHUTDOWN_EVENT 6: the values are fixed by the system's interface.
    switch (type) {
    case 0:
    case 1:
        return ConsoleEventAction::Interrupt;
    case 2:
    case 5:
    case 6:
        return ConsoleEventAction::StopAndHold;
    default:
        return ConsoleEventAction::Ignore;
    }
}

bool SessionEndStops(uint32_t message, uintptr_t wParam)
{
    constexpr uint32_t kQueryEndSession = 0x0011, kEndSession = 0x0016;
    // A logoff that another program cancels still stopped the work: the safe side, and
    // the only moment with time enough to finish the page.
    return message == kQueryEndSession || (message == kEndSession && wParam != 0);
}

void NoteStopRequest()
{
    g_interrupts.fetch_add(1);
}

int InterruptCount()
{
    return g_interrupts.load();
}

void SimulateInterrupt()
{
    g_simulated = true;
    g_interrupts.fetch_add(1);
    g_keyInterrupts.fetch_add(1);
}

void ResetInterrupts()
{
    g_interrupts = 0;
    g_keyInterrupts = 0;
    g_simulated = false;
}

} // namespace platform
