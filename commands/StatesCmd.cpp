#include "commands/StatesCmd.h"

#include "app/TorvaneApp.h"
#include "commands/StatesDlg.h"

int CStatesCmd::Run()
{
    CTorvaneApp& app = TheApp();
    const uint8_t request = bootcode::kReadStatus;
    uint8_t reply[2] = {0, 0};
    app.m_link.Write(&request, 1);
    if (app.m_link.Read(reply, 2) == 0) {
        app.TimeoutRecovery();
        return 0;
    }
    CStatesDlg dialog;
    dialog.SetStatus(reply[0], reply[1]);
    dialog.DoModal();
    return 1;
}
