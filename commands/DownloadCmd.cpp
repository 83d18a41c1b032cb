#include "commands/DownloadCmd.h"

#include <vector>

#include "app/ProgressDlg.h"
#include "app/TorvaneApp.h"
#include "commands/DownloadDlg.h"
#include "framework/Host.h"
#include "framework/WinApp.h"
#include "link/SetCommDlg.h"
#include "platform/Clock.h"
#include "res/Resource.h"

namespace {
constexpr uint32_t kHeaderSize = 4; // code, size low, size high, checksum
// The size field has 16 bits: a longer range would reach the boot loader as commands.
constexpr uint32_t kLongestDownload = 0x10000;
} // namespace

int CDownloadCmd::Run()
{
    CTorvaneApp& app = TheApp();
    CSetCommDlg settings; // never shown: it only holds the page pause
    uint32_t start = 0, end = 0;
    if (!AskImageRange(start, end)) return 0;
    uint32_t pagePause = 0;
    if (!settings.GetPagePause(pagePause)) return 0;
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

    int cancel = 0;
    CProgressDlg* progress = CProgressDlg::Start(&cancel);
    CProgressDlg::SetUp(progress, "Downloading.", "Download", 0, ProgressSteps(start, end), 0);

    // The size travels in 16 bits; a range of 256 pages sends 0x00 0x00.
    const uint32_t length = end - start + 1;
    uint8_t page[kPageSize];
    uint8_t checksum = 0;
    for (uint32_t address = start; address < end; address += kPageSize) {
        FillPageZero(page);
        app.m_image.GetPage(page, address / kPageSize);
        for (uint8_t byte : page)
            checksum = static_cast<uint8_t>(checksum + byte);
        if (address > 0xFFFFFFFF - kPageSize) break;
    }

    std::vector<uint8_t> frame;
    frame.reserve(kHeaderSize + kPageSize);
    for (uint32_t address = start; address < end; address += kPageSize) {
        FillPageZero(page);
        app.m_image.GetPage(page, address / kPageSize);
        frame.clear();
        if (address == start) {
            frame.push_back(bootcode::kDownload);
            frame.push_back(static_cast<uint8_t>(length % 256));
            frame.push_back(static_cast<uint8_t>((length / 256) % 256));
            frame.push_back(checksum);
        }
        frame.insert(frame.end(), page, page + kPageSize);
        const auto size = static_cast<uint32_t>(frame.size());
        if (app.m_link.Write(frame.data(), size) != size) {
            // The boot loader holds a partial program: never report it as completed.
            CProgressDlg::Finish(progress);
            AfxMessageBox(IDS_COMM_ERROR_SETTING, MB_ICONSTOP);
            return 0;
        }
        CProgressDlg::SetPos(progress, (address - start) / kProgressStepBytes);
        PumpWaitingMessages();
        if (cancel) {
            AfxMessageBox(IDS_STOP_DOWNLOADING, MB_ICONINFORMATION);
            CProgressDlg::Finish(progress);
            return 1;
        }
        Sleep(pagePause);
        if (address > 0xFFFFFFFF - kPageSize) break;
    }
    CProgressDlg::Finish(progress);
    AfxMessageBox(IDS_DOWNLOAD_COMPLETED, MB_OK);
    return 1;
}
