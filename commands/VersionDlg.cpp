#include "commands/VersionDlg.h"

#include "res/Resource.h"

CVersionDlg::CVersionDlg(CWnd* parent) : CDialog(IDD_VERSION, parent) {}

void CVersionDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_VERSION_TEXT, m_strVersion);
}
