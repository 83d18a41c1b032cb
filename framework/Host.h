#pragma once
// What a host (the Qt GUI, or the scripted host of the tests) does for the framework.
#include <functional>
#include <optional>
#include <string>

#include "framework/Afx.h"

class CWnd;
class CDialog;

struct MessageBoxRecord
{
    std::string text;
    std::string caption;
    unsigned type = 0;     // MB_* icon bits
    int ownerTemplate = 0; // template id of the owning dialog, 0 for none
};

class IHost
{
public:
    virtual ~IHost() = default;

    // Creates the window, runs OnInitDialog, runs until EndDialog, destroys the window.
    virtual INT_PTR RunModal(CDialog& dialog) = 0;
    // Ends a running modal loop of that dialog (called by EndDialog).
    virtual void EndModal(CDialog& dialog, int result) = 0;
    // Creates a modeless window (OnInitDialog runs); false when it cannot be created.
    virtual bool CreateModeless(CDialog& dialog, CWnd* parent) = 0;
    virtual void DestroyWindow(CDialog& dialog) = 0;

    virtual int MessageBox(CWnd* owner, const std::string& text, const std::string& caption,
                           unsigned type) = 0;
    // The system's open-file dialog; the chosen full path, or nothing when cancelled.
    // filter is in the "Name (*.x)|*.x|...|" form.
    virtual std::optional<std::string> OpenFileDialog(CWnd* owner, const std::string& filter,
                                                      unsigned flags) = 0;

    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;

    // A pump round starts (once per page of a long loop).
    virtual void BeginPumpRound() {}
    virtual bool PeekMessage() = 0; // something is waiting; never blocks
    virtual bool PumpMessage() = 0; // processes one waiting message; false on quit
    virtual void PostQuitMessage(int exitCode) = 0;
    // During a wait for the device: let the windows repaint and answer the system. Input
    // is dropped (dropInput) or left for the next ordinary pump (a progress window's Stop);
    // a close request is ignored and a quit request held for the next ordinary pump.
    // Hosts without real windows have nothing to do.
    virtual void PumpWhileBusy(bool dropInput) {}
    // While the windows write the panel's flash: the session's end (logoff, shutdown) is
    // held off and the system is told why. Calls nest; hosts without a session ignore them.
    virtual void BlockShutdown(const std::string& reason) {}
    virtual void UnblockShutdown() {}

    // The active window of the thread (the top modal or modeless dialog), or nullptr.
    virtual CWnd* GetActiveWindow() = 0;
};

IHost& Host();
IHost* SetHost(IHost* host); // returns the previous one

// Message boxes: caption string 1034 unless given; owner the main window unless given.
int AfxMessageBox(const std::string& text, unsigned type = MB_OK, CWnd* owner = nullptr);
int AfxMessageBox(unsigned stringId, unsigned type = MB_OK, CWnd* owner = nullptr);
// Told the text of every box as it opens (one watcher; nullptr ends it): what a
// command's record keeps of what the user was shown.
void AfxWatchMessageBoxes(std::function<void(const std::string& text)> watcher);
int AfxMessageBoxCaption(CWnd* owner, const std::string& text, const std::string& caption, unsigned type);
CWnd* AfxGetActiveWindow();
