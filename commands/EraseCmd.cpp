#include "commands/EraseCmd.h"

#include "app/TorvaneApp.h"
#include "framework/Host.h"
#include "platform/Clock.h"
#include "res/Resource.h"

int CEraseCmd::EraseAndCheck(CSerialComm& link)
{
    const uint8_t clearStatus = bootcode::kClearStatus;
    link.Write(&clearStatus, 1);
    Sleep(linktime::kCommandPause);
    // The lock-bit disable lets the erase take the locked blocks too.
    const uint8_t lockBitDisable = bootcode::kLockBitDisable;
    link.Write(&lockBitDisable, 1);
    Sleep(linktime::kCommandPause);
    const uint8_t eraseAll[2] = {bootcode::kEraseAll, bootcode::kEraseConfirm};
    link.Write(eraseAll, sizeof eraseAll);
    Sleep(linktime::kCommandPause);
    link.SetTimeout(linktime::kEraseStatusTimeout);
    return CheckStatusBit(link, "erase");
}

int CEraseCmd::Run()
{
    CSerialComm& link = TheApp().m_link;
    const int failed = EraseAndCheck(link);
    if (failed)
        AfxMessageBox(IDS_ERASE_ERROR, MB_ICONSTOP);
    else
        AfxMessageBox(IDS_ERASE_OK, MB_ICONINFORMATION);
    link.SetTimeout(linktime::kNormalReadTimeout);
    return failed ? 0 : 1;
}
