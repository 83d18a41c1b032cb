#include "platform/Console.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<int> g_interrupts{0};
std::atomic<bool> g_simulated{false};

} // namespace

bool NoteInterrupt()
{
    return g_interrupts.fetch_add(1) >= 1 && !g_simulated.load();
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
