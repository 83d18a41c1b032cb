#include "commands/StatesCmd.h"

#include "commands/StatesDlg.h"

int CStatesCmd::Run()
{
    ICommandContext& context = CommandContext();
    loader::CEngine engine(context.CommandLink());
    loader::StatusRegister status;
    if (!loader::ReadStatus(engine, m_report, status).Ok()) {
        context.TimeoutRecovery();
        return 0;
    }
    CStatesDlg dialog;
    dialog.SetStatus(status.srd1, status.srd2);
    dialog.DoModal();
    return 1;
}
