#include "commands/DownloadDlg.h"

#include "res/Resource.h"

CDownloadDlg::CDownloadDlg(CWnd* parent) : CDialog(IDD_DOWNLOAD, parent) {}
