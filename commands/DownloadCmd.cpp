#include "commands/DownloadCmd.h"

#include "commands/DownloadDlg.h"
#include "framework/Host.h"
#include "res/Resource.h"

namespace {
// The size field has 16 bits: a longer range would reach the boot loader as commands.
constexpr uint32_t kLongestDownload = 0x10000;
} // namespace

int CDownloadCmd::Run()
{
    uint32_t start = 0, end = 0;
    if (!AskImageRange(start, end)) return 0;
    const uint32_t pagePause = PagePause();
    if (!IsBelow(start, end)) {
        AfxMessageBox(IDS_TOO_SMALL_START, MB_ICONEXCLAMATION);
        return 0;
    }
    if (end - start + 1 > kLongestDownload || end < start) {
        AfxMessageBox(IDS_STOP_DOWNLOADING, MB_ICONEXCLAMATION);
        return 0;
    }
    CDownloadDlg confirm;
    if (confirm.DoModal() != IDOK) { // a quit request ends the loop with -1
        AfxMessageBox(IDS_STOP_DOWNLOADING, MB_OK);
        return 0;
    }

    CCommandProgress progress("Downloading.", "Download", start, end);
    progress.PumpInPagePauses(CommandContext().CommandLink());
    loader::CEngine engine(CommandContext().CommandLink(), &progress);
    switch (loader::Download(engine, m_report, ImagePages(), start, end, pagePause).outcome) {
    case loader::Outcome::Done:
        progress.Finish();
        AfxMessageBox(IDS_DOWNLOAD_COMPLETED, MB_OK);
        return 1;
    case loader::Outcome::Cancelled:
        AfxMessageBox(IDS_STOP_DOWNLOADING, MB_ICONINFORMATION);
        progress.Finish();
        return 1;
    default:
        // The boot loader holds a partial program: never report it as completed.
        progress.Finish();
        AfxMessageBox(IDS_COMM_ERROR_SETTING, MB_ICONSTOP);
        return 0;
    }
}
