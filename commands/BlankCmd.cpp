#include "commands/BlankCmd.h"

#include "framework/Host.h"
#include "res/Resource.h"

int CBlankCmd::Run()
{
    uint32_t start = 0, end = 0;
    if (!AskImageRange(start, end)) return 0;
    if (!IsBelow(start, end)) {
        AfxMessageBox(IDS_TOO_SMALL_START, MB_ICONWARNING);
        return 0;
    }
    VerifyRange(CommandContext().CommandLink(), start, end, VerifyMode::Blank, "Blank Check", "Blank check.");
    return 0;
}
