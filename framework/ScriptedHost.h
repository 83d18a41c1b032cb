#pragma once
// A host for tests: answers each dialog from a script queued for its template id,
// records every message box and window event, and can act at a chosen pump round
// (for example close the progress window) to drive cancel paths.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/Host.h"

class CDialog;

// What the user does in one showing of a dialog, in order.
class CDialogScript
{
public:
    struct Action
    {
        enum Kind { SetText, SelectRadio, Press, Enter, Escape, CloseBox, Call, SysCommand } kind;
        int id = 0;
        std::string text;
        std::function<void(CDialog&)> call;
    };

    CDialogScript& SetText(int id, std::string text);
    CDialogScript& SelectRadio(int id);
    CDialogScript& Press(int id);
    CDialogScript& Enter(int focusedButtonId = 0);
    CDialogScript& Escape();
    CDialogScript& CloseBox();
    CDialogScript& SysCommand(unsigned id);
    // Runs code while the dialog is open (inspect controls, change the simulated device).
    CDialogScript& Do(std::function<void(CDialog&)> call);

    const std::vector<Action>& Actions() const { return m_actions; }

private:
    std::vector<Action> m_actions;
};

class CScriptedHost : public IHost
{
public:
    CScriptedHost();
    ~CScriptedHost() override;

    // Queues a script for the next showing of that template (showings are answered in order).
    void Expect(int templateId, CDialogScript script);
    // Queues the answer of the next open-file dialog (nothing = the user cancels).
    void AnswerFileDialog(std::optional<std::string> path);
    // Runs code in pump round n (1 = the first round of the first long loop).
    void AtPumpRound(int round, std::function<void()> action);
    // Presses the close box of the active modeless window in pump round n.
    void CloseProgressAtRound(int round);
    // A quit request arrives in pump round n.
    void QuitAtRound(int round);
    // Called for every message box while it is "open".
    std::function<void(const MessageBoxRecord&)> onMessageBox;
    // Called on a scripting failure (unexpected dialog, script ended with the dialog open).
    std::function<void(const std::string&)> onFailure;

    const std::vector<MessageBoxRecord>& MessageBoxes() const { return m_messageBoxes; }
    std::vector<std::string> MessageTexts() const;
    // Everything in order: "dialog 156", "end 156 1", "box <text>", "create 136", "destroy 136", "quit",
    // "repost".
    const std::vector<std::string>& Events() const { return m_events; }
    const std::vector<std::string>& Failures() const { return m_failures; }
    // Every position a progress bar was set to (after clamping), in order.
    const std::vector<int>& ProgressPositions() const { return m_progress; }
    int PumpRounds() const { return m_round; }
    bool QuitPosted() const { return m_quitPosted; }
    int WaitCursorDepth() const { return m_waitDepth; }
    // Scripts that were queued and never used.
    int PendingScripts() const;
    void ClearRecords();

    INT_PTR RunModal(CDialog& dialog) override;
    void EndModal(CDialog& dialog, int result) override;
    bool CreateModeless(CDialog& dialog, CWnd* parent) override;
    void DestroyWindow(CDialog& dialog) override;
    int MessageBox(CWnd* owner, const std::string& text, const std::string& caption, unsigned type) override;
    std::optional<std::string> OpenFileDialog(CWnd* owner, const std::string& filter,
                                              unsigned flags) override;
    void BeginWaitCursor() override { ++m_waitDepth; }
    void EndWaitCursor() override { --m_waitDepth; }
    void BeginPumpRound() override;
    bool PeekMessage() override;
    bool PumpMessage() override;
    void PostQuitMessage(int exitCode) override;
    CWnd* GetActiveWindow() override;

    // Makes the next modeless creation fail (the progress window cannot be created).
    void FailNextModelessCreate() { m_failModeless = true; }

private:
    class Peer;
    void Fail(const std::string& what);
    void RunAction(CDialog& dialog, const CDialogScript::Action& action);

    std::map<int, std::deque<CDialogScript>> m_scripts;
    std::deque<std::optional<std::string>> m_fileAnswers;
    std::multimap<int, std::function<void()>> m_roundActions;
    std::vector<MessageBoxRecord> m_messageBoxes;
    std::vector<std::string> m_events;
    std::vector<std::string> m_failures;
    std::vector<int> m_progress;
    std::vector<CDialog*> m_windows; // open windows, most recent last
    std::map<CDialog*, std::unique_ptr<Peer>> m_peers;
    int m_round = 0;
    bool m_quitPending = false;
    bool m_quitPosted = false;
    bool m_failModeless = false;
    int m_waitDepth = 0;
};
