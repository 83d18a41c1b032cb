#include "commands/Command.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "commands/SetAddressDlg.h"
#include "framework/Host.h"
#include "framework/WinApp.h"
#include "image/MotFile.h"
#include "link/SaveIni.h"
#include "link/SerialComm.h"
#include "res/Resource.h"

ICommandContext& CommandContext()
{
    return dynamic_cast<ICommandContext&>(*AfxGetApp());
}

int CCommand::HexDigitValue(char& character)
{
    const unsigned char c = static_cast<unsigned char>(character);
    if (c < 0x80 && std::isxdigit(c)) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return c - 'A' + 10;
    }
    character = '0';
    return 0;
}

int CCommand::CheckStatusBit(CSerialComm& link, const std::string& operation)
{
    loader::CEngine engine(link);
    loader::StatusRegister status;
    const loader::Step step = operation == "program" ? loader::Step::ProgramStatus : loader::Step::Status;
    const loader::Result result = loader::ReadStatus(engine, m_report, status, step);
    if (result.outcome == loader::Outcome::DeviceError) return 1;
    if (!result.Ok()) {
        CommandContext().TimeoutRecovery();
        return 1;
    }
    if (operation == "erase") return status.EraseError() ? 1 : 0;
    return 0;
}

CFlashWriting::CFlashWriting()
{
    Host().BlockShutdown("Torvane is writing the panel's flash; ending now would leave the panel unusable.");
}

CFlashWriting::~CFlashWriting()
{
    Host().UnblockShutdown();
}

CCommandProgress::CCommandProgress(std::string message, std::string title, uint32_t start, uint32_t end)
    : m_strMessage(std::move(message)), m_strTitle(std::move(title)), m_dwStart(start), m_dwEnd(end)
{
}

CCommandProgress::~CCommandProgress()
{
    Finish();
}

void CCommandProgress::OnStart(uint32_t)
{
    if (m_strTitle.empty() || m_window) return;
    m_window = CommandContext().StartProgress(m_strMessage, m_strTitle,
                                              loader::CEngine::ProgressSteps(m_dwStart, m_dwEnd));
}

void CCommandProgress::OnPage(uint32_t, uint32_t, uint32_t address)
{
    if (!m_window) return;
    m_window->SetPos((address - m_dwStart) / kProgressStepBytes);
    if (!m_pauseLink) {
        PumpPage();
        return;
    }
    // One pump per page, whatever happens: a pause too short for the last one gets it here.
    if (m_bPumpDue) PumpPage();
    m_bPumpDue = true;
    m_pauseLink->WaitHookDueNow();
}

void CCommandProgress::OnWait()
{
    if (m_bPumpDue && m_window) {
        PumpPage();
        return;
    }
    // With a progress window open its Stop must still be heard at the page's own pump.
    KeepWindowsResponsive(!m_window);
}

void CCommandProgress::PumpPage()
{
    m_bPumpDue = false;
    m_bCancelled = m_window->PumpAndCheckCancel();
}

void CCommandProgress::OnNoReply()
{
    CommandContext().TimeoutRecovery();
}

void CCommandProgress::OnRepliesHeld(uint32_t heldMs)
{
    static bool told = false;
    if (std::exchange(told, true)) return;
    std::fprintf(stderr, "torvane: the adapter holds replies for %u ms: set its latency timer to 1 ms\n",
                 static_cast<unsigned>(heldMs));
}

void CCommandProgress::Finish()
{
    if (!m_window) return;
    m_window->Finish();
    m_window.reset();
}

uint32_t CCheckMemorryCmd::HexToNumber(std::string text)
{
    uint32_t result = 0;
    for (char& c : text)
        result = result * 16 + static_cast<uint32_t>(HexDigitValue(c));
    return result;
}

std::string CCheckMemorryCmd::ToHex6(uint32_t number)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), digits[number % 16]);
        number /= 16;
    } while (number != 0);
    if (text.size() < 6) text.insert(0, 6 - text.size(), '0');
    return text;
}

void CCheckMemorryCmd::SplitAddress(uint32_t address, uint8_t& high, uint8_t& middle)
{
    high = static_cast<uint8_t>(address / 65536);
    middle = static_cast<uint8_t>(address / 256);
}

int CCheckMemorryCmd::FillPageErased(uint8_t* page)
{
    std::memset(page, 0xFF, kPageSize);
    return -1;
}

int CCheckMemorryCmd::FillPageZero(uint8_t* page)
{
    std::memset(page, 0x00, kPageSize);
    return 0;
}

loader::PageSource CCheckMemorryCmd::ImagePages()
{
    CMotFile& image = CommandContext().CommandImage();
    return [&image](uint8_t* page, uint32_t index) { return image.GetPage(page, index) != nullptr; };
}

void CCheckMemorryCmd::ScanImage(uint32_t& start, uint32_t& end)
{
    const CMotFile& image = CommandContext().CommandImage();
    for (uint32_t page = 0; page < CMotFile::kPageCount; ++page) {
        if (image.HasPage(page)) {
            const uint32_t address = page * kPageSize;
            if (start == 0) start = address;
            end = address + 255;
        }
    }
}

void CCheckMemorryCmd::GetImageRange(uint32_t& start, uint32_t& end)
{
    ScanImage(start, end);
    if (start == 0) {
        start = 0xC0000;
        end = 0xFFFFF;
    }
    start -= start % kPageSize;
    end = end - end % kPageSize + 255;
}

BOOL CCheckMemorryCmd::AskImageRange(uint32_t& start, uint32_t& end)
{
    ScanImage(start, end);
    return AskAddressRange(start, end);
}

BOOL CCheckMemorryCmd::AskAddressRange(uint32_t& start, uint32_t& end)
{
    CSetAddressDlg dialog;
    if (start != 0 || end != 0) dialog.SetRange(ToHex6(start), ToHex6(end));
    if (dialog.DoModal() != IDOK) return FALSE;
    std::string startText, endText;
    if (!dialog.GetAddressText("start", startText) || !dialog.GetAddressText("end", endText)) return FALSE;
    if (!CSetAddressDlg::IsAddressText(startText) || !CSetAddressDlg::IsAddressText(endText)) return FALSE;
    start = HexToNumber(startText);
    end = HexToNumber(endText);
    start -= start % kPageSize;
    end = end - end % kPageSize + 255;
    return TRUE;
}

uint32_t CCheckMemorryCmd::PageReadTimeout(CSerialComm& link)
{
    const uint32_t inForce = link.GetTimeout();
    CSaveIni settings;
    const int pageRead = settings.GetPageReadTimeout(static_cast<int>(inForce));
    // A zero or negative value would mean "wait for ever": keep the time-out in force then.
    return pageRead > 0 ? static_cast<uint32_t>(pageRead) : inForce;
}

BOOL CCheckMemorryCmd::ReadPage(CSerialComm& link, uint8_t* buffer, uint32_t address)
{
    CCommandProgress recovery;
    loader::CEngine engine(link, &recovery);
    std::vector<uint8_t> page;
    if (!loader::ReadRange(engine, m_report, loader::Step::Read, address, address + kPageSize,
                           PageReadTimeout(link), page)
             .Ok())
        return FALSE;
    std::copy(page.begin(), page.end(), buffer);
    return TRUE;
}

uint32_t CCheckMemorryCmd::PagePause()
{
    return CommandContext().CommandPagePause();
}

CCheckMemorryCmd::ProgramOutcome CCheckMemorryCmd::ProgramRange(CSerialComm& link, uint32_t start,
                                                                uint32_t end, uint32_t pagePause)
{
    const CFlashWriting writing;
    CCommandProgress progress("Program.", "Program", start, end);
    progress.PumpInPagePauses(link);
    loader::CEngine engine(link, &progress);
    loader::ProgramOptions options;
    options.pagePause = pagePause;
    const loader::Result result = loader::Program(engine, m_report, ImagePages(), start, end, options);
    switch (result.outcome) {
    case loader::Outcome::Done:
        return ProgramOutcome::Done;
    case loader::Outcome::Cancelled:
        AfxMessageBox(IDS_STOP_PROGRAMMING, MB_ICONINFORMATION);
        return ProgramOutcome::Stopped;
    default:
        // An unanswered page has had its recovery (the listener ran it at that moment).
        return ProgramOutcome::PageFailed;
    }
}

CCheckMemorryCmd::VerifyOutcome CCheckMemorryCmd::VerifyRange(CSerialComm& link, uint32_t start, uint32_t end,
                                                              VerifyMode mode, const std::string& title,
                                                              const std::string& message)
{
    CCommandProgress progress(message, title, start, end);
    loader::CEngine engine(link, &progress);
    const loader::CheckMode checkMode = mode == VerifyMode::Blank ? loader::CheckMode::Blank
                                        : mode == VerifyMode::CompareAll
                                            ? loader::CheckMode::CompareAll
                                            : loader::CheckMode::CompareSkipErased;
    const loader::Step step = mode == VerifyMode::Blank ? loader::Step::BlankCheck : loader::Step::Verify;
    const loader::Result result =
        loader::Check(engine, m_report, step, ImagePages(), start, end, checkMode, PageReadTimeout(link));
    switch (result.outcome) {
    case loader::Outcome::Done:
        return VerifyOutcome::Passed;
    case loader::Outcome::Mismatch: {
        const unsigned textId = mode == VerifyMode::Blank ? IDS_NOT_BLANK : IDS_NOT_MATCH;
        AfxMessageBox(AfxLoadString(textId) + ToHex6(result.address), MB_OK);
        return VerifyOutcome::Mismatch;
    }
    case loader::Outcome::Cancelled:
        return VerifyOutcome::Cancelled;
    default:
        return VerifyOutcome::ReadFailed;
    }
}
