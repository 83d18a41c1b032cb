#include "commands/PreEraseDlg.h"

#include "res/Resource.h"

CPreEraseDlg::CPreEraseDlg(CWnd* parent) : CDialog(IDD_PREERASE, parent) {}
