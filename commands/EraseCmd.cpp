#include "commands/EraseCmd.h"

#include "framework/Host.h"
#include "link/SerialComm.h"
#include "res/Resource.h"

int CEraseCmd::EraseAndCheck(CSerialComm& link, loader::RunReport& report)
{
    const CFlashWriting writing;
    CCommandProgress recovery; // a silent erase status runs the recovery within the 40 s time-out
    loader::CEngine engine(link, &recovery);
    return loader::Erase(engine, report).Ok() ? 0 : 1;
}

int CEraseCmd::Run()
{
    CSerialComm& link = CommandContext().CommandLink();
    const int failed = EraseAndCheck(link, m_report);
    if (failed)
        AfxMessageBox(IDS_ERASE_ERROR, MB_ICONSTOP);
    else
        AfxMessageBox(IDS_ERASE_OK, MB_ICONINFORMATION);
    return failed ? 0 : 1;
}
