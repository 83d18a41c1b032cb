// The program takes no arguments of its own: everything is asked in its windows.
#include "app/TorvaneApp.h"
#include "framework/qt/QtHost.h"
#include "platform/Clock.h"
#include "sim/BuiltInPanel.h"

namespace {
CTorvaneApp theApp;
}

int main(int argc, char** argv)
{
    platform::UsePreciseTimers();
    sim::RegisterBuiltInPanel();
    return RunQtApplication(argc, argv, theApp);
}
