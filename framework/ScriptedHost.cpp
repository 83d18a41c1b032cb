#include "framework/ScriptedHost.h"

#include <memory>
#include <utility>

#include "framework/Dialog.h"

CDialogScript& CDialogScript::SetText(int id, std::string text)
{
    m_actions.push_back({Action::SetText, id, std::move(text), {}});
    return *this;
}

CDialogScript& CDialogScript::SelectRadio(int id)
{
    m_actions.push_back({Action::SelectRadio, id, {}, {}});
    return *this;
}

CDialogScript& CDialogScript::Press(int id)
{
    m_actions.push_back({Action::Press, id, {}, {}});
    return *this;
}

CDialogScript& CDialogScript::Enter(int focusedButtonId)
{
    m_actions.push_back({Action::Enter, focusedButtonId, {}, {}});
    return *this;
}

CDialogScript& CDialogScript::Escape()
{
    m_actions.push_back({Action::Escape, 0, {}, {}});
    return *this;
}

CDialogScript& CDialogScript::CloseBox()
{
    m_actions.push_back({Action::CloseBox, 0, {}, {}});
    return *this;
}

CDialogScript& CDialogScript::SysCommand(unsigned id)
{
    m_actions.push_back({Action::SysCommand, static_cast<int>(id), {}, {}});
    return *this;
}

CDialogScript& CDialogScript::Do(std::function<void(CDialog&)> call)
{
    m_actions.push_back({Action::Call, 0, {}, std::move(call)});
    return *this;
}

// Watches one open window: every move of a progress bar is recorded.
class CScriptedHost::Peer final : public IWindowPeer
{
public:
    Peer(CScriptedHost& host, CDialog& dialog) : m_host(host), m_dialog(dialog) {}

    void WindowChanged() override {}

    void ControlChanged(int id) override
    {
        const CControl* control = m_dialog.GetDlgItem(id);
        if (!control || control->Kind() != ControlKind::ProgressBar) return;
        // A range change also notifies; only a SetPos counts as a position.
        int& seen = m_posChanges[id];
        if (control->PosChanges() == seen) return;
        seen = control->PosChanges();
        m_host.m_progress.push_back(control->GetPos());
    }

private:
    CScriptedHost& m_host;
    CDialog& m_dialog;
    std::map<int, int> m_posChanges;
};

CScriptedHost::CScriptedHost() = default;

CScriptedHost::~CScriptedHost()
{
    for (CDialog* dialog : m_windows)
        dialog->AttachPeer(nullptr);
    if (&Host() == this) SetHost(nullptr);
}

void CScriptedHost::Expect(int templateId, CDialogScript script)
{
    m_scripts[templateId].push_back(std::move(script));
}

void CScriptedHost::AnswerFileDialog(std::optional<std::string> path)
{
    m_fileAnswers.push_back(std::move(path));
}

void CScriptedHost::AtPumpRound(int round, std::function<void()> action)
{
    m_roundActions.emplace(round, std::move(action));
}

void CScriptedHost::CloseProgressAtRound(int round)
{
    AtPumpRound(round, [this, round] {
        for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it)
            if (!(*it)->IsModal()) {
                (*it)->PressCloseBox();
                return;
            }
        Fail("no modeless window to close in pump round " + std::to_string(round));
    });
}

void CScriptedHost::QuitAtRound(int round)
{
    AtPumpRound(round, [this] { m_quitPending = true; });
}

std::vector<std::string> CScriptedHost::MessageTexts() const
{
    std::vector<std::string> texts;
    for (const MessageBoxRecord& box : m_messageBoxes)
        texts.push_back(box.text);
    return texts;
}

int CScriptedHost::PendingScripts() const
{
    int pending = 0;
    for (const auto& [id, queue] : m_scripts)
        pending += static_cast<int>(queue.size());
    return pending;
}

void CScriptedHost::ClearRecords()
{
    m_messageBoxes.clear();
    m_events.clear();
    m_failures.clear();
    m_progress.clear();
}

void CScriptedHost::Fail(const std::string& what)
{
    m_failures.push_back(what);
    if (onFailure) onFailure(what);
}

INT_PTR CScriptedHost::RunModal(CDialog& dialog)
{
    const int id = dialog.GetTemplateId();
    m_events.push_back("dialog " + std::to_string(id));
    auto queued = m_scripts.find(id);
    if (queued == m_scripts.end() || queued->second.empty()) {
        Fail("unexpected dialog " + std::to_string(id) + " " + dialog.GetWindowText());
        return IDCANCEL;
    }
    // Moved out: a nested dialog may queue or take scripts while this one runs.
    const CDialogScript script = std::move(queued->second.front());
    queued->second.pop_front();

    dialog.HostWindowCreated(TRUE, TRUE);
    auto& peer = m_peers[&dialog];
    peer = std::make_unique<Peer>(*this, dialog);
    dialog.AttachPeer(peer.get());
    m_windows.push_back(&dialog);

    dialog.OnInitDialog();
    for (const CDialogScript::Action& action : script.Actions()) {
        if (dialog.IsEnded()) break;
        RunAction(dialog, action);
    }
    if (!dialog.IsEnded()) {
        Fail("dialog " + std::to_string(id) + " still open at end of script");
        dialog.EndDialog(IDCANCEL);
    }
    const INT_PTR result = dialog.GetModalResult();

    std::erase(m_windows, &dialog);
    dialog.AttachPeer(nullptr);
    m_peers.erase(&dialog);
    dialog.HostWindowDestroyed();
    m_events.push_back("end " + std::to_string(id) + " " + std::to_string(result));
    return result;
}

void CScriptedHost::RunAction(CDialog& dialog, const CDialogScript::Action& action)
{
    const std::string where = " in dialog " + std::to_string(dialog.GetTemplateId());
    auto control = [&]() -> CControl* {
        CControl* found = dialog.GetDlgItem(action.id);
        if (!found) Fail("no control " + std::to_string(action.id) + where);
        return found;
    };
    switch (action.kind) {
    case CDialogScript::Action::SetText:
        if (CControl* edit = control()) {
            const bool combo =
                edit->Kind() == ControlKind::ComboDropDown || edit->Kind() == ControlKind::ComboDropList;
            if (combo) edit->SetCurSelFromUser(-1);
            edit->SetTextFromUser(action.text);
        }
        break;
    case CDialogScript::Action::SelectRadio:
        if (CControl* radio = control()) {
            for (int member : dialog.RadioGroup(action.id))
                if (CControl* other = dialog.GetDlgItem(member))
                    other->SetCheckFromUser(member == action.id ? 1 : 0);
            radio->SetCheckFromUser(1);
        }
        break;
    case CDialogScript::Action::Press:
        if (CControl* button = control()) {
            if (!button->IsWindowVisible())
                Fail("cannot press hidden control " + std::to_string(action.id) + where);
            else if (!button->IsWindowEnabled())
                Fail("cannot press disabled control " + std::to_string(action.id) + where);
            else
                dialog.OnCommand(action.id);
        }
        break;
    case CDialogScript::Action::Enter:
        dialog.PressEnter(action.id);
        break;
    case CDialogScript::Action::Escape:
        dialog.PressEscape();
        break;
    case CDialogScript::Action::CloseBox:
        dialog.PressCloseBox();
        break;
    case CDialogScript::Action::SysCommand:
        dialog.OnSysCommand(static_cast<unsigned>(action.id), 0);
        break;
    case CDialogScript::Action::Call:
        if (action.call) action.call(dialog);
        break;
    }
}

void CScriptedHost::EndModal(CDialog&, int) {}

bool CScriptedHost::CreateModeless(CDialog& dialog, CWnd*)
{
    m_events.push_back("create " + std::to_string(dialog.GetTemplateId()));
    if (m_failModeless) {
        m_failModeless = false;
        return false;
    }
    dialog.HostWindowCreated(FALSE, (dialog.Template().style & DS_VISIBLE) ? TRUE : FALSE);
    auto& peer = m_peers[&dialog];
    peer = std::make_unique<Peer>(*this, dialog);
    dialog.AttachPeer(peer.get());
    m_windows.push_back(&dialog);
    dialog.OnInitDialog();
    return true;
}

void CScriptedHost::DestroyWindow(CDialog& dialog)
{
    m_events.push_back("destroy " + std::to_string(dialog.GetTemplateId()));
    std::erase(m_windows, &dialog);
    dialog.AttachPeer(nullptr);
    m_peers.erase(&dialog);
    dialog.HostWindowDestroyed();
}

int CScriptedHost::MessageBox(CWnd* owner, const std::string& text, const std::string& caption, unsigned type)
{
    MessageBoxRecord box;
    box.text = text;
    box.caption = caption;
    box.type = type;
    if (auto* dialog = dynamic_cast<CDialog*>(owner)) box.ownerTemplate = dialog->GetTemplateId();
    m_messageBoxes.push_back(box);
    m_events.push_back("box " + text);
    if (onMessageBox) onMessageBox(box);
    return IDOK;
}

std::optional<std::string> CScriptedHost::OpenFileDialog(CWnd*, const std::string&, unsigned)
{
    if (m_fileAnswers.empty()) {
        Fail("unexpected open-file dialog");
        return std::nullopt;
    }
    std::optional<std::string> answer = std::move(m_fileAnswers.front());
    m_fileAnswers.pop_front();
    return answer;
}

void CScriptedHost::BeginPumpRound()
{
    ++m_round;
}

bool CScriptedHost::PeekMessage()
{
    if (m_quitPending) return true;
    return !m_roundActions.empty() && m_roundActions.begin()->first <= m_round;
}

bool CScriptedHost::PumpMessage()
{
    auto next = m_roundActions.begin();
    if (next != m_roundActions.end() && next->first <= m_round) {
        auto action = std::move(next->second);
        m_roundActions.erase(next);
        action();
        return true;
    }
    if (m_quitPending) {
        m_quitPending = false;
        m_events.push_back("quit");
        return false;
    }
    return true;
}

void CScriptedHost::PostQuitMessage(int)
{
    m_events.push_back("repost");
    m_quitPosted = true;
}

CWnd* CScriptedHost::GetActiveWindow()
{
    return m_windows.empty() ? nullptr : m_windows.back();
}
