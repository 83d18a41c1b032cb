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
