#include "commands/ReadCmd.h"

#include "framework/Host.h"
#include "res/Resource.h"

int CReadCmd::Run()
{
    uint32_t start = 0, end = 0;
    if (!AskImageRange(start, end)) return 0;
    if (!IsBelow(start, end)) {
        AfxMessageBox(IDS_TOO_SMALL_START, MB_ICONWARNING);
        return 0;
    }
    VerifyRange(CommandContext().CommandLink(), start, end, VerifyMode::CompareSkipErased, "Read check.",
                "Read check.");
    return 0;
}
