#include "framework/console/ConsoleHost.h"

#include <algorithm>
#include <utility>

#include "framework/Dialog.h"

// Watches one window for progress-bar moves.
class CConsoleHost::Peer final : public IWindowPeer
{
public:
    Peer(CConsoleHost& host, CDialog& dialog) : m_host(host), m_dialog(dialog) {}

    void WindowChanged() override {}

    void ControlChanged(int id) override
    {
        const CControl* control = m_dialog.GetDlgItem(id);
        if (!control || control->Kind() != ControlKind::ProgressBar) return;
        Progress progress;
        progress.title = m_dialog.GetWindowText();
        control->GetRange(progress.lower, progress.upper);
        progress.position = control->GetPos();
        // A range change also notifies; a bar counts as started at its first SetPos.
        if (control->PosChanges() == m_seenMoves) return;
        m_seenMoves = control->PosChanges();
        m_last = progress;
        if (!m_started) {
            m_started = true;
            if (m_host.onProgressStart) m_host.onProgressStart(progress);
        }
        if (m_host.onProgress) m_host.onProgress(progress);
    }

    void Ended()
    {
        if (m_started && m_host.onProgressEnd) m_host.onProgressEnd(m_last);
    }

private:
    CConsoleHost& m_host;
    CDialog& m_dialog;
    bool m_started = false;
    int m_seenMoves = 0;
    Progress m_last;
};

CConsoleHost::CConsoleHost() = default;

CConsoleHost::~CConsoleHost()
{
    for (CDialog* dialog : m_windows)
        dialog->AttachPeer(nullptr);
    if (&Host() == this) SetHost(nullptr);
}

void CConsoleHost::SetText(CDialog& dialog, int id, const std::string& text)
{
    CControl* control = dialog.GetDlgItem(id);
    if (!control) return;
    if (control->Kind() == ControlKind::ComboDropDown || control->Kind() == ControlKind::ComboDropList)
        control->SetCurSelFromUser(-1);
    control->SetTextFromUser(text);
}

void CConsoleHost::Press(CDialog& dialog, int id)
{
    // The console reaches every command a dialog has, the hidden service ones too.
    if (!dialog.IsEnded()) dialog.OnCommand(id);
}

void CConsoleHost::Attach(CDialog& dialog)
{
    auto& peer = m_peers[&dialog];
    peer = std::make_unique<Peer>(*this, dialog);
    dialog.AttachPeer(peer.get());
    m_windows.push_back(&dialog);
}

void CConsoleHost::Detach(CDialog& dialog)
{
    std::erase(m_windows, &dialog);
    dialog.AttachPeer(nullptr);
    if (auto it = m_peers.find(&dialog); it != m_peers.end()) {
        it->second->Ended();
        m_peers.erase(it);
    }
    dialog.HostWindowDestroyed();
}

INT_PTR CConsoleHost::RunModal(CDialog& dialog)
{
    dialog.HostWindowCreated(TRUE, TRUE);
    Attach(dialog);
    dialog.OnInitDialog();
    // Copied: an answer may open dialogs whose answers change the table.
    if (auto it = m_answers.find(dialog.GetTemplateId()); it != m_answers.end()) {
        const Answer answer = it->second;
        if (!dialog.IsEnded()) answer(dialog);
    }
    if (!dialog.IsEnded()) dialog.EndDialog(IDCANCEL);
    const INT_PTR result = dialog.GetModalResult();
    Detach(dialog);
    return result;
}

void CConsoleHost::EndModal(CDialog&, int) {}

bool CConsoleHost::CreateModeless(CDialog& dialog, CWnd*)
{
    dialog.HostWindowCreated(FALSE, TRUE);
    Attach(dialog);
    dialog.OnInitDialog();
    return true;
}

void CConsoleHost::DestroyWindow(CDialog& dialog)
{
    Detach(dialog);
}

int CConsoleHost::MessageBox(CWnd* owner, const std::string& text, const std::string& caption, unsigned type)
{
    MessageBoxRecord box;
    box.text = text;
    box.caption = caption;
    box.type = type;
    if (auto* dialog = dynamic_cast<CDialog*>(owner)) box.ownerTemplate = dialog->GetTemplateId();
    if (onMessageBox) onMessageBox(box);
    return IDOK;
}

std::optional<std::string> CConsoleHost::OpenFileDialog(CWnd*, const std::string&, unsigned)
{
    return m_fileAnswer;
}

bool CConsoleHost::PeekMessage()
{
    if (!stopRequested || !stopRequested()) return false;
    return std::any_of(m_windows.begin(), m_windows.end(), [](CDialog* d) { return !d->IsModal(); });
}

bool CConsoleHost::PumpMessage()
{
    // The only message a console sends: the stop, as the progress window's close box.
    for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it)
        if (!(*it)->IsModal()) {
            (*it)->PressCloseBox();
            break;
        }
    return true;
}

CWnd* CConsoleHost::GetActiveWindow()
{
    return m_windows.empty() ? nullptr : m_windows.back();
}
