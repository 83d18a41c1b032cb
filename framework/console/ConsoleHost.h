#pragma once
// A host without windows for the command-line front end: every dialog is answered at
// once by the answer registered for its template (none: Cancel), every message box is
// handed on as a line of text, progress bars report their moves, and a stop request
// closes the running progress window as its close box would.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/Host.h"

class CDialog;

class CConsoleHost : public IHost
{
public:
    // Fills the dialog's controls and presses its buttons; a dialog still open
    // afterwards is cancelled.
    using Answer = std::function<void(CDialog&)>;
    struct Progress
    {
        std::string title;
        int lower = 0, upper = 0, position = 0;
    };

    CConsoleHost();
    ~CConsoleHost() override;

    void SetAnswer(int templateId, Answer answer) { m_answers[templateId] = std::move(answer); }
    void SetFileAnswer(std::optional<std::string> path) { m_fileAnswer = std::move(path); }

    std::function<void(const MessageBoxRecord&)> onMessageBox;
    std::function<void(const Progress&)> onProgressStart;
    std::function<void(const Progress&)> onProgress;
    std::function<void(const Progress&)> onProgressEnd;
    // Asked once per pump round: true stops the running long operation.
    std::function<bool()> stopRequested;

    // What a user does in a dialog, for the answers.
    static void SetText(CDialog& dialog, int id, const std::string& text);
    static void Press(CDialog& dialog, int id);

    INT_PTR RunModal(CDialog& dialog) override;
    void EndModal(CDialog& dialog, int result) override;
    bool CreateModeless(CDialog& dialog, CWnd* parent) override;
    void DestroyWindow(CDialog& dialog) override;
    int MessageBox(CWnd* owner, const std::string& text, const std::string& caption, unsigned type) override;
    std::optional<std::string> OpenFileDialog(CWnd* owner, const std::string& filter,
                                              unsigned flags) override;
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    bool PeekMessage() override;
    bool PumpMessage() override;
    void PostQuitMessage(int) override {}
    CWnd* GetActiveWindow() override;

private:
    class Peer;
    void Attach(CDialog& dialog);
    void Detach(CDialog& dialog);

    std::map<int, Answer> m_answers;
    std::optional<std::string> m_fileAnswer;
    std::vector<CDialog*> m_windows; // open windows, most recent last
    std::map<CDialog*, std::unique_ptr<Peer>> m_peers;
};
