#include "app/FirstSetDlg.h"

#include "res/Resource.h"

CFirstSetDlg::CFirstSetDlg(CWnd* parent) : CDialog(IDD_FIRSTSET, parent) {}
