#include "commands/EPRCmd.h"

#include "commands/EraseCmd.h"
#include "framework/Host.h"
#include "link/SerialComm.h"
#include "res/Resource.h"

int CEPRCmd::Run()
{
    CSerialComm& link = CommandContext().CommandLink();
    if (CEraseCmd::EraseAndCheck(link, m_report)) {
        AfxMessageBox(IDS_ERASE_ERROR, MB_ICONSTOP);
        return 0;
    }

    uint32_t start = 0, end = 0;
    GetImageRange(start, end);
    const uint32_t pagePause = PagePause();

    switch (ProgramRange(link, start, end, pagePause)) {
    case ProgramOutcome::Stopped:
        return 0;
    case ProgramOutcome::PageFailed:
        AfxMessageBox(IDS_PROGRAM_ERROR, MB_ICONSTOP);
        return 0;
    case ProgramOutcome::Done:
        break;
    }

    const VerifyOutcome verified =
        VerifyRange(link, start, end, VerifyMode::CompareSkipErased, "Read check.", "Read check.");
    if (verified == VerifyOutcome::Mismatch || verified == VerifyOutcome::ReadFailed) return 0;

    if (CheckStatusBit(link, "program")) {
        AfxMessageBox(IDS_PROGRAM_ERROR, MB_ICONSTOP);
        return 0;
    }
    AfxMessageBox(IDS_PROGRAM_OK, MB_ICONINFORMATION);
    return 1;
}
