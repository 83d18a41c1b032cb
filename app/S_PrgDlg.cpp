#include "app/S_PrgDlg.h"

#include "res/Resource.h"

CS_PrgDlg::CS_PrgDlg(CWnd* parent) : CDialog(IDD_S_PRG, parent), m_strPort("COM1") {}

void CS_PrgDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_CBString(pDX, IDC_PORT, m_strPort);
}
