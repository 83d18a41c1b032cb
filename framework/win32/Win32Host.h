#pragma once
// The Windows GUI: each dialog becomes a window of the system's dialog manager, built
// from its template and kept in step with the dialog's model both ways.
#include <map>
#include <memory>
#include <vector>

#include "framework/Host.h"

class CDialog;
class CWinApp;
class CWin32Window;
struct HWND__;
struct HINSTANCE__;
struct HMONITOR__;

class CWin32Host : public IHost
{
public:
    explicit CWin32Host(HINSTANCE__* instance);
    ~CWin32Host() override;
    CWin32Host(const CWin32Host&) = delete;
    CWin32Host& operator=(const CWin32Host&) = delete;

    INT_PTR RunModal(CDialog& dialog) override;
    void EndModal(CDialog& dialog, int result) override;
    bool CreateModeless(CDialog& dialog, CWnd* parent) override;
    void DestroyWindow(CDialog& dialog) override;
    int MessageBox(CWnd* owner, const std::string& text, const std::string& caption, unsigned type) override;
    std::optional<std::string> OpenFileDialog(CWnd* owner, const std::string& filter,
                                              unsigned flags) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    bool PeekMessage() override;
    bool PumpMessage() override;
    void PumpWhileBusy(bool dropInput) override;
    void BlockShutdown(const std::string& reason) override;
    void UnblockShutdown() override;
    bool ShutdownBlocked() const { return m_shutdownBlocks > 0; }
    void PostQuitMessage(int exitCode) override;
    CWnd* GetActiveWindow() override;

    // The window that shows a dialog (tests, tools); nullptr when it has none.
    HWND__* Window(const CDialog& dialog) const;
    HINSTANCE__* Instance() const { return m_instance; }
    bool WaitCursorShown() const { return m_waitDepth > 0; }

private:
    friend class CWin32Window;
    CWin32Window* Track(CDialog& dialog, CWnd* parent);
    void Forget(CDialog& dialog);
    HWND__* OwnerOf(CWnd* wnd) const;
    void Bury(); // frees forgotten windows no handler is still using

    HINSTANCE__* m_instance;
    std::map<const CDialog*, std::unique_ptr<CWin32Window>> m_windows;
    std::vector<CDialog*> m_order; // open windows, most recent last
    std::vector<std::unique_ptr<CWin32Window>> m_graveyard;
    int m_waitDepth = 0;
    int m_shutdownBlocks = 0;
    std::vector<HWND__*> m_blockingWindows; // those that carry the reason, for its removal
    // The screen the last window was put on: the next one without an owner opens
    // there too instead of jumping to the primary one.
    HMONITOR__* m_monitor = nullptr;
};

// "Name (*.x)|*.x|...|" as the open-file dialog takes it: pairs separated by NULs,
// the list ended by a second NUL.
std::wstring Win32FileFilter(const std::string& filter);
// The string table ends lines with a bare carriage return; a message box wants CR LF.
std::wstring Win32BoxText(const std::string& text);

// Registers the control classes, installs a CWin32Host and runs the application; the exit code.
// The instance holds the resources (the program's own module when null).
int RunWin32Application(HINSTANCE__* instance, CWinApp& app);
