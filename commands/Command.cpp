#include "commands/Command.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "app/ProgressDlg.h"
#include "app/TorvaneApp.h"
#include "commands/SetAddressDlg.h"
#include "framework/Host.h"
#include "framework/WinApp.h"
#include "link/SaveIni.h"
#include "link/SetCommDlg.h"
#include "platform/Clock.h"
#include "res/Resource.h"

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
    const uint8_t request = bootcode::kReadStatus;
    uint8_t reply[2] = {0, 0};
    link.Write(&request, 1);
    if (link.Read(reply, 2) == 0) {
        TheApp().TimeoutRecovery();
        return 1;
    }
    if (operation == "erase") return (reply[0] & status::kSrd1EraseError) ? 1 : 0;
    if (operation == "program") return (reply[0] & status::kSrd1ProgramError) ? 1 : 0;
    return 0;
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

void CCheckMemorryCmd::ScanImage(uint32_t& start, uint32_t& end)
{
    uint8_t scratch[kPageSize];
    CMotFile& image = TheApp().m_image;
    for (uint32_t page = 0; page < 65536; ++page) {
        if (image.GetPage(scratch, page)) {
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

BOOL CCheckMemorryCmd::ReadPage(CSerialComm& link, uint8_t* buffer, uint32_t address)
{
    const uint32_t previousTimeout = link.GetTimeout();
    CSaveIni settings;
    const int pageRead = settings.GetPageReadTimeout(static_cast<int>(previousTimeout));
    // A zero or negative value would mean "wait for ever": keep the time-out in force then.
    link.SetTimeout(pageRead > 0 ? static_cast<uint32_t>(pageRead) : previousTimeout);

    uint8_t frame[3] = {bootcode::kPageRead, 0, 0};
    SplitAddress(address, frame[2], frame[1]);
    link.Purge(0);
    link.Write(frame, sizeof frame);
    BOOL result = TRUE;
    if (link.Read(buffer, kPageSize) == 0) {
        TheApp().TimeoutRecovery();
        result = FALSE;
    }
    link.SetTimeout(previousTimeout);
    return result;
}

uint32_t CCheckMemorryCmd::WritePageFrame(CSerialComm& link, uint32_t address)
{
    uint8_t frame[3 + kPageSize];
    frame[0] = bootcode::kPageProgram;
    SplitAddress(address, frame[2], frame[1]);
    FillPageErased(frame + 3);
    TheApp().m_image.GetPage(frame + 3, address / kPageSize);
    return link.Write(frame, sizeof frame);
}

uint32_t CCheckMemorryCmd::ProgressSteps(uint32_t start, uint32_t end)
{
    if (end - start < 2 * kPageSize - 1) return 0;
    return (end - start - kPageSize) / kProgressStepBytes;
}

uint32_t CCheckMemorryCmd::PagePause()
{
    uint32_t pause = g_dwPagePause;
    CSetCommDlg().GetPagePause(pause);
    return pause;
}

CCheckMemorryCmd::ProgramOutcome CCheckMemorryCmd::ProgramRange(CSerialComm& link, uint32_t start,
                                                                uint32_t end, uint32_t pagePause)
{
    const uint8_t clearStatus = bootcode::kClearStatus;
    link.Write(&clearStatus, 1);
    Sleep(linktime::kCommandPause);

    int cancel = 0;
    CProgressDlg* progress = CProgressDlg::Start(&cancel);
    CProgressDlg::SetUp(progress, "Program.", "Program", 0, ProgressSteps(start, end), 0);
    link.SetTimeout(linktime::kPageStatusTimeout);

    ProgramOutcome outcome = ProgramOutcome::Done;
    for (uint32_t address = start; address < end; address += kPageSize) {
        WritePageFrame(link, address);
        CProgressDlg::SetPos(progress, (address - start) / kProgressStepBytes);
        PumpWaitingMessages();
        if (cancel) {
            AfxMessageBox(IDS_STOP_PROGRAMMING, MB_ICONINFORMATION);
            outcome = ProgramOutcome::Stopped;
            break;
        }
        Sleep(pagePause);
        if (CheckStatusBit(link, "program")) {
            outcome = ProgramOutcome::PageFailed;
            break;
        }
        if (address > 0xFFFFFFFF - kPageSize) break; // the last page of a 32-bit range
    }
    link.SetTimeout(linktime::kNormalReadTimeout);
    CProgressDlg::Finish(progress);
    return outcome;
}

CCheckMemorryCmd::VerifyOutcome CCheckMemorryCmd::VerifyRange(CSerialComm& link, uint32_t start, uint32_t end,
                                                              VerifyMode mode, const std::string& title,
                                                              const std::string& message)
{
    int cancel = 0;
    CProgressDlg* progress = CProgressDlg::Start(&cancel);
    CProgressDlg::SetUp(progress, message, title, 0, ProgressSteps(start, end), 0);

    uint8_t flash[kPageSize];
    uint8_t image[kPageSize];
    VerifyOutcome outcome = VerifyOutcome::Passed;
    for (uint32_t address = start; address < end; address += kPageSize) {
        link.Purge(0);
        if (!ReadPage(link, flash, address)) {
            outcome = VerifyOutcome::ReadFailed;
            break;
        }
        if (mode != VerifyMode::Blank) {
            FillPageErased(image);
            TheApp().m_image.GetPage(image, address / kPageSize);
        }
        int offender = -1;
        for (int i = 0; i < static_cast<int>(kPageSize) && offender < 0; ++i) {
            switch (mode) {
            case VerifyMode::Blank:
                if (flash[i] != 0xFF) offender = i;
                break;
            case VerifyMode::CompareAll:
                if (flash[i] != image[i]) offender = i;
                break;
            case VerifyMode::CompareSkipErased:
                if (image[i] != 0xFF && flash[i] != image[i]) offender = i;
                break;
            }
        }
        if (offender >= 0) {
            const unsigned textId = mode == VerifyMode::Blank ? IDS_NOT_BLANK : IDS_NOT_MATCH;
            AfxMessageBox(AfxLoadString(textId) + ToHex6(address + static_cast<uint32_t>(offender)), MB_OK);
            outcome = VerifyOutcome::Mismatch;
            break;
        }
        CProgressDlg::SetPos(progress, (address - start) / kProgressStepBytes);
        PumpWaitingMessages();
        if (cancel) {
            outcome = VerifyOutcome::Cancelled;
            break;
        }
        if (address > 0xFFFFFFFF - kPageSize) break;
    }
    CProgressDlg::Finish(progress);
    return outcome;
}
