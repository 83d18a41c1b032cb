#include "commands/PreWriteDlg.h"

#include "res/Resource.h"

CPreWriteDlg::CPreWriteDlg(CWnd* parent) : CDialog(IDD_PREWRITE, parent) {}

void CPreWriteDlg::SetRange(const std::string& start, const std::string& end)
{
    m_strStart = start;
    m_strEnd = end;
}

void CPreWriteDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_PREWRITE_END, m_strEnd);
    DDX_Text(pDX, IDC_PREWRITE_START, m_strStart);
}
