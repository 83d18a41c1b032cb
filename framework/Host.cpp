#include "framework/Host.h"

#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "res/Resource.h"
#include "res/Texts.h"

namespace {

// Before a host is installed (or after it is removed) nothing can be shown: this one
// answers every dialog with cancel and every box with OK, so no caller ever blocks.
class CNullHost final : public IHost
{
public:
    INT_PTR RunModal(CDialog&) override { return IDCANCEL; }
    void EndModal(CDialog&, int) override {}
    bool CreateModeless(CDialog&, CWnd*) override { return false; }
    void DestroyWindow(CDialog&) override {}
    int MessageBox(CWnd*, const std::string&, const std::string&, unsigned) override { return IDOK; }
    std::optional<std::string> OpenFileDialog(CWnd*, const std::string&, unsigned) override
    {
        return std::nullopt;
    }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    bool PeekMessage() override { return false; }
    bool PumpMessage() override { return true; }
    void PostQuitMessage(int) override {}
    CWnd* GetActiveWindow() override { return nullptr; }
};

CNullHost g_nullHost;
IHost* g_host = &g_nullHost;

} // namespace

IHost& Host()
{
    return *g_host;
}

IHost* SetHost(IHost* host)
{
    IHost* previous = g_host;
    g_host = host ? host : &g_nullHost;
    return previous == &g_nullHost ? nullptr : previous;
}

namespace {
std::function<void(const std::string&)> g_boxWatcher;
}

void AfxWatchMessageBoxes(std::function<void(const std::string& text)> watcher)
{
    g_boxWatcher = std::move(watcher);
}

int AfxMessageBoxCaption(CWnd* owner, const std::string& text, const std::string& caption, unsigned type)
{
    if (g_boxWatcher) g_boxWatcher(text);
    return Host().MessageBox(owner, text, caption, type);
}

int AfxMessageBox(const std::string& text, unsigned type, CWnd* owner)
{
    if (!owner) owner = AfxGetMainWnd();
    return AfxMessageBoxCaption(owner, text, AfxLoadString(IDS_CAPTION), type);
}

int AfxMessageBox(unsigned stringId, unsigned type, CWnd* owner)
{
    return AfxMessageBox(AfxLoadString(stringId), type, owner);
}

CWnd* AfxGetActiveWindow()
{
    return Host().GetActiveWindow();
}

std::string AfxLoadString(unsigned id)
{
    return LoadText(id);
}
