#include "framework/WinApp.h"

#include <vector>

#include "framework/Host.h"

namespace {
// Live application objects, most recent last (tests create one per case). A function
// static, because the program's application object is itself a global.
std::vector<CWinApp*>& Apps()
{
    static std::vector<CWinApp*> apps;
    return apps;
}
} // namespace

CWinApp::CWinApp()
{
    Apps().push_back(this);
}

CWinApp::~CWinApp()
{
    std::erase(Apps(), this);
}

BOOL CWinApp::PumpMessage()
{
    return Host().PumpMessage() ? TRUE : FALSE;
}

CWinApp* AfxGetApp()
{
    return Apps().empty() ? nullptr : Apps().back();
}

CWnd* AfxGetMainWnd()
{
    CWinApp* app = AfxGetApp();
    return app ? app->m_pMainWnd : nullptr;
}

BOOL AfxPeekMessage()
{
    return Host().PeekMessage() ? TRUE : FALSE;
}

void AfxPostQuitMessage(int exitCode)
{
    Host().PostQuitMessage(exitCode);
}

void PumpWaitingMessages()
{
    Host().BeginPumpRound();
    CWinApp* app = AfxGetApp();
    while (AfxPeekMessage()) {
        if (!(app ? app->PumpMessage() : Host().PumpMessage())) {
            // The quit request must reach the host's own loop once the operation is over.
            AfxPostQuitMessage(0);
            break;
        }
    }
}

namespace {
bool g_bWindowsBusy = false;
} // namespace

void KeepWindowsResponsive(bool dropInput)
{
    if (g_bWindowsBusy) return;
    g_bWindowsBusy = true;
    Host().PumpWhileBusy(dropInput);
    g_bWindowsBusy = false;
}

bool WindowsBusy()
{
    return g_bWindowsBusy;
}

int AfxWinMain(IHost& host, CWinApp& app)
{
    IHost* previous = SetHost(&host);
    const BOOL run = app.InitInstance();
    SetHost(previous);
    (void)run; // the whole program ran inside InitInstance; nothing is left to run
    return 0;
}
