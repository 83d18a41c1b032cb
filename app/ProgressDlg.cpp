#include "app/ProgressDlg.h"

#include "framework/Host.h"
#include "res/Resource.h"

CProgressDlg::CProgressDlg() : CDialog(IDD_PROGRESS) {}

std::unique_ptr<CProgressDlg> CProgressDlg::Start(int* cancelFlag, CWnd* parent)
{
    if (!cancelFlag) return nullptr;
    auto dialog = std::make_unique<CProgressDlg>();
    if (!parent) parent = AfxGetActiveWindow();
    if (!dialog->Create(IDD_PROGRESS, parent)) return nullptr;
    dialog->m_pParent = parent;
    if (parent) dialog->m_bParentEnabled = parent->EnableWindow(FALSE) ? FALSE : TRUE;
    dialog->EnableWindow(TRUE);
    dialog->m_pbCancel = cancelFlag;
    dialog->ShowWindow(SW_SHOW);
    return dialog;
}

void CProgressDlg::SetUp(CProgressDlg* dialog, const std::string& message, const std::string& title,
                         uint32_t lower, uint32_t upper, uint32_t position)
{
    if (!dialog || !dialog->IsWindow()) return;
    dialog->m_strMessage = message;
    dialog->UpdateData(FALSE);
    dialog->SetWindowText(title);
    // The bar takes its range as two 16-bit values.
    dialog->m_progress.SetRange16(static_cast<uint16_t>(lower), static_cast<uint16_t>(upper));
    dialog->m_progress.SetPos(static_cast<int>(position));
}

void CProgressDlg::SetPos(CProgressDlg* dialog, uint32_t position)
{
    if (!dialog || !dialog->IsWindow() || !dialog->m_progress.IsBound()) return;
    dialog->m_progress.SetPos(static_cast<int>(position));
}

void CProgressDlg::Finish(CProgressDlg* dialog)
{
    // A window the user closed earlier is already gone.
    if (dialog && dialog->IsWindow()) dialog->OnCancel();
}

void CProgressDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PROGRESS_BAR, m_progress);
    DDX_Text(pDX, IDC_PROGRESS_MESSAGE, m_strMessage);
}

void CProgressDlg::OnCancel()
{
    if (m_pbCancel) *m_pbCancel = 1;
    if (m_pParent) m_pParent->EnableWindow(m_bParentEnabled);
    if (IsWindow()) DestroyWindow();
}
