#pragma once
// The application object base and the framework's global services.
#include <string>

#include "framework/Afx.h"

class CWnd;
class IHost;

class CWinApp
{
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The start-up hook: the whole program may run inside it.
    virtual BOOL InitInstance() { return FALSE; }
    // Takes and dispatches one waiting message; FALSE when it was the quit request.
    virtual BOOL PumpMessage();

    CWnd* m_pMainWnd = nullptr;
    std::string m_pszExeName = "torvane";
};

// The current application object (the most recently constructed live one).
CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();

// Message pump services for long operations.
BOOL AfxPeekMessage(); // a message is waiting (not removed, never blocks)
void AfxPostQuitMessage(int exitCode);
// The shared pump step of the long loops: process what is waiting, re-post a quit.
void PumpWaitingMessages();
// Keeps the windows alive through a long wait for the device (see IHost::PumpWhileBusy).
void KeepWindowsResponsive(bool dropInput = true);
// True while KeepWindowsResponsive runs: a close box does nothing then.
bool WindowsBusy();

// Runs an application under a host: installs the host, calls InitInstance, returns the
// process exit code.
int AfxWinMain(IHost& host, CWinApp& app);
