#include "commands/ProgramCmd.h"

#include "commands/PreWriteDlg.h"
#include "framework/Host.h"
#include "link/SerialComm.h"
#include "res/Resource.h"

int CProgramCmd::Run()
{
    CSerialComm& link = CommandContext().CommandLink();
    const uint32_t pagePause = PagePause();

    CPreWriteDlg confirm;
    confirm.SetRange(ToHex6(kAreaStart), ToHex6(kAreaEnd));
    if (confirm.DoModal() != IDOK) { // a quit request ends the loop with -1
        AfxMessageBox(IDS_STOP_PROGRAMMING, MB_OK);
        return 0;
    }

    switch (ProgramRange(link, kAreaStart, kAreaEnd, pagePause)) {
    case ProgramOutcome::Stopped:
        // A stopped run has not programmed the area: "Program..." must stay offered.
        return 0;
    case ProgramOutcome::PageFailed:
        // The failed or unanswered page decides: after a recovery the device may report
        // a clean status for a flash that was never written.
        AfxMessageBox(IDS_PROGRAM_ERROR, MB_ICONSTOP);
        return 0;
    case ProgramOutcome::Done:
        break;
    }
    if (CheckStatusBit(link, "program")) {
        AfxMessageBox(IDS_PROGRAM_ERROR, MB_ICONSTOP);
        return 0;
    }
    AfxMessageBox(IDS_PROGRAM_OK, MB_ICONINFORMATION);
    return 1;
}
