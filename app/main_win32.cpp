// The Windows program: the same application object as on Linux, under the Win32 host.
// Linked for the GUI subsystem, so no console comes with it.
#include "app/TorvaneApp.h"
#include "framework/win32/Win32Host.h"
#include "platform/Clock.h"

namespace {
CTorvaneApp theApp;
}

int main()
{
    platform::UsePreciseTimers();
    return RunWin32Application(nullptr, theApp);
}
