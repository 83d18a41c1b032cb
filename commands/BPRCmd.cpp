#include "commands/BPRCmd.h"

#include "commands/PreWriteDlg.h"
#include "framework/Host.h"
#include "link/SerialComm.h"
#include "res/Resource.h"

int CBPRCmd::Run()
{
    CSerialComm& link = CommandContext().CommandLink();
    uint32_t start = 0, end = 0;
    if (!AskImageRange(start, end)) return 0;
    const uint32_t pagePause = PagePause();
    if (!IsBelow(start, end)) {
        AfxMessageBox(IDS_TOO_SMALL_START, MB_ICONWARNING);
        return 0;
    }
    if (VerifyRange(link, start, end, VerifyMode::Blank, "Blank Check", "Blank check.") !=
        VerifyOutcome::Passed)
        return 0;

    CPreWriteDlg confirm;
    confirm.SetRange(ToHex6(start), ToHex6(end));
    if (confirm.DoModal() != IDOK) { // a quit request ends the loop with -1
        AfxMessageBox(IDS_STOP_PROGRAMMING, MB_OK);
        return 0;
    }

    const ProgramOutcome programmed = ProgramRange(link, start, end, pagePause);
    if (programmed == ProgramOutcome::Stopped) return 0;

    // Every byte is compared: the loop programmed the image's 0xFF bytes as well.
    const VerifyOutcome verified =
        VerifyRange(link, start, end, VerifyMode::CompareAll, "Read check.", "Read check.");
    if (verified == VerifyOutcome::Mismatch || verified == VerifyOutcome::ReadFailed) return 0;

    // A page that failed or went unanswered decides the verdict, whatever the status
    // register says after a recovery.
    if (programmed == ProgramOutcome::PageFailed || CheckStatusBit(link, "program")) {
        AfxMessageBox(IDS_PROGRAM_ERROR, MB_ICONSTOP);
        return 0;
    }
    AfxMessageBox(IDS_PROGRAM_OK, MB_ICONINFORMATION);
    return 1;
}
