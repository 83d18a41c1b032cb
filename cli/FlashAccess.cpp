#include "cli/FlashAccess.h"

#include "app/ProgressDlg.h"
#include "app/TorvaneApp.h"
#include "framework/WinApp.h"

bool CFlashAccess::Read(uint32_t start, uint32_t end, std::vector<uint8_t>& bytes)
{
    CSerialComm& link = TheApp().m_link;
    int cancel = 0;
    CProgressDlg* progress = CProgressDlg::Start(&cancel);
    CProgressDlg::SetUp(progress, "Read.", "Read", 0, ProgressSteps(start, end), 0);
    bytes.clear();
    bool ok = true;
    uint8_t page[kPageSize];
    for (uint32_t address = start; address < end; address += kPageSize) {
        if (!ReadPage(link, page, address)) {
            ok = false;
            break;
        }
        bytes.insert(bytes.end(), page, page + kPageSize);
        CProgressDlg::SetPos(progress, (address - start) / kProgressStepBytes);
        PumpWaitingMessages();
        if (cancel) {
            ok = false;
            break;
        }
        if (address > 0xFFFFFFFF - kPageSize) break;
    }
    CProgressDlg::Finish(progress);
    return ok;
}

CFlashAccess::VerifyOutcome CFlashAccess::Compare(uint32_t start, uint32_t end)
{
    return VerifyRange(TheApp().m_link, start, end, VerifyMode::CompareAll, "Verify", "Verify.");
}
