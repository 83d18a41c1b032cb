#include "shell/image/SelectDlg.h"

#include "commands/CommandContext.h"
#include "framework/FileDialog.h"
#include "framework/Host.h"
#include "framework/WaitCursor.h"
#include "res/Resource.h"
#include "shell/image/IDCheckDlg.h"

namespace {
constexpr char kUpgradeFilter[] =
    "Motlora Hex File (*.s;*.mot)|*.s;*.mot|Boot Program (*.btp)|*.btp|All Files (*.*)|*.*|";

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}
} // namespace

CSelectDlg::CSelectDlg(CWnd* parent) : CDialog(IDD_SELECT, parent)
{
    OnCommandId(IDC_LOAD, [this] { OnRefer(); });
}

void CSelectDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_FILENAME, m_strFileName);
}

void CSelectDlg::OnRefer()
{
    UpdateData(TRUE);
    CFileDialog fileDialog(TRUE, nullptr, nullptr, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY, kUpgradeFilter,
                           this);
    if (fileDialog.DoModal() != IDOK) return;
    m_strFileName = fileDialog.GetPathName();
    UpdateData(FALSE);
    if (!m_strFileName.empty()) CIDCheckDlg::LoadUpgradeFile(m_strFileName);
    if (EndsWith(m_strFileName, ".mot") || EndsWith(m_strFileName, ".s")) return;
    AfxMessageBox(IDS_CAN_NOT_ACCEPT_FILE, MB_ICONSTOP, this);
    m_strFileName.clear();
    UpdateData(FALSE);
}

void CSelectDlg::OnOK()
{
    CWaitCursor wait;
    UpdateData(TRUE);
    if (m_strFileName.empty()) {
        AfxMessageBox(IDS_NO_FILENAME, MB_ICONEXCLAMATION, this);
        return;
    }
    if (!CIDCheckDlg::LoadUpgradeFile(m_strFileName)) return; // refused: stay open
    CommandContext().SetIdPassed(TRUE);
    CIDCheckDlg::LoadUpgradeFile(m_strFileName);
    EndDialog(IDOK);
}
