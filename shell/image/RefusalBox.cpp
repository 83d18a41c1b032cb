#include "shell/image/RefusalBox.h"

#include "framework/Host.h"
#include "framework/WinApp.h"
#include "res/Resource.h"

void ShowRefusalBox()
{
    CWnd* owner = AfxGetMainWnd();
    if (!owner) owner = AfxGetActiveWindow();
    AfxMessageBox(IDS_CAN_NOT_ACCEPT_FILE, MB_OK, owner);
}
