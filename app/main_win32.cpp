// The Windows program: the same application object as on Linux, under the Win32 host.
// Linked for the GUI subsystem, so no console comes with it.
#include "app/TorvaneApp.h"
#include "framework/win32/Win32Host.h"
#include "platform/Clock.h"
#include "sim/BuiltInPanel.h"

namespace {
CTorvaneApp theApp;
}

int main()
{
    platform::UsePreciseTimers();
    sim::RegisterBuiltInPanel();
    return RunWin32Application(nullptr, theApp);
}
