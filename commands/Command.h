#pragma once
// The boot-loader commands' common base: the status-bit check, hex text conversions,
// the image scan, the page read and the page loops with their progress windows, all
// on the boot-loader engine.
#include <cstdint>
#include <memory>
#include <string>

#include "commands/CommandContext.h"
#include "loader/Engine.h"
#include "loader/Road.h"
#include "platform/KeepAwake.h"
#include "platform/WinTypes.h"

class CSerialComm;

class CCommand
{
public:
    virtual ~CCommand() = default;

    // Hex digit value; any other character is overwritten with '0' and counts 0.
    static int HexDigitValue(char& character);
    // Writes 0x70 and reads the two status bytes. "erase" gives SRD1 bit 5, "program"
    // bit 4 (1 = error). No reply: the time-out recovery runs and the result is 1.
    int CheckStatusBit(CSerialComm& link, const std::string& operation);

    // Each step this command took with the panel.
    const loader::RunReport& Report() const { return m_report; }

protected:
    loader::RunReport m_report;
};

// The engine's listener of a command: the progress window, its stop, and the time-out
// recovery at the moment a reply fails to come.
class CCommandProgress : public loader::IProgress
{
public:
    // With no title no window is opened (a single exchange that only needs the recovery).
    CCommandProgress(std::string message = {}, std::string title = {}, uint32_t start = 0, uint32_t end = 0);
    ~CCommandProgress() override;

    void OnStart(uint32_t totalPages) override;
    void OnPage(uint32_t done, uint32_t total, uint32_t address) override;
    bool Cancelled() override { return m_bCancelled; }
    void OnWait() override;
    void OnNoReply() override;
    // On standard error, once a run: the windows' boxes and texts stay as they are.
    void OnRepliesHeld(uint32_t heldMs) override;
    // Closes the window (after any box that belongs inside it).
    void Finish();
    // Each page is followed by a pause on this link (programming, download): the page's
    // pump runs at the start of that pause instead of adding its time to the page.
    void PumpInPagePauses(CSerialComm& link) { m_pauseLink = &link; }

private:
    void PumpPage();

    std::string m_strMessage, m_strTitle;
    uint32_t m_dwStart, m_dwEnd;
    std::unique_ptr<IProgressWindow> m_window;
    bool m_bCancelled = false;
    CSerialComm* m_pauseLink = nullptr;
    bool m_bPumpDue = false; // a page's pump still to run
};

// Held while the windows write the panel's flash (erase, page programming): the PC
// stays awake and the session's end is held off with a reason, since a panel cut off
// mid-erase or mid-page no longer starts.
class CFlashWriting
{
public:
    CFlashWriting();
    ~CFlashWriting();
    CFlashWriting(const CFlashWriting&) = delete;
    CFlashWriting& operator=(const CFlashWriting&) = delete;

private:
    platform::CKeepAwake m_awake;
};

class CCheckMemorryCmd : public CCommand
{
public:
    static uint32_t HexToNumber(std::string text);
    static std::string ToHex6(uint32_t number);
    static void SplitAddress(uint32_t address, uint8_t& high, uint8_t& middle);
    static BOOL IsBelow(uint32_t a, uint32_t b) { return a < b ? TRUE : FALSE; }
    static int FillPageErased(uint8_t* page);
    static int FillPageZero(uint8_t* page);

    // The image's range with the default 0xC0000..0xFFFFF when it holds no page, aligned.
    void GetImageRange(uint32_t& start, uint32_t& end);
    // The image's range offered for editing in "Input Address".
    BOOL AskImageRange(uint32_t& start, uint32_t& end);
    BOOL AskAddressRange(uint32_t& start, uint32_t& end);
    // One page read with the settings file's "pageread" time-out; the time-out in force
    // before is restored on every path.
    BOOL ReadPage(CSerialComm& link, uint8_t* buffer, uint32_t address);

protected:
    enum class ProgramOutcome { Done, Stopped, PageFailed };
    // Clears the status, then programs every page from start while below end with a
    // progress window ("Program."), the page pause and a status read per page. A stop
    // shows "Stop programming." before the window closes. The read time-out is back at
    // its normal value and the window closed when this returns.
    ProgramOutcome ProgramRange(CSerialComm& link, uint32_t start, uint32_t end, uint32_t pagePause);

    enum class VerifyMode { Blank, CompareAll, CompareSkipErased };
    enum class VerifyOutcome { Passed, Mismatch, ReadFailed, Cancelled };
    // Reads every page from start while below end and checks it: blank (0xFF), equal to
    // the image, or equal where the image holds something other than 0xFF. The first
    // offending byte is reported with its address. Opens and closes its progress window.
    VerifyOutcome VerifyRange(CSerialComm& link, uint32_t start, uint32_t end, VerifyMode mode,
                              const std::string& title, const std::string& message);

    // The page pause of the programming loops ("Set baudrate" holds it).
    static uint32_t PagePause();
    // The settings file's "pageread" time-out, or the one in force.
    static uint32_t PageReadTimeout(CSerialComm& link);
    // The application's image as the engine reads it.
    static loader::PageSource ImagePages();

    // Lowest and highest page with data (start stays 0 for a page at 0 or none).
    void ScanImage(uint32_t& start, uint32_t& end);
    static uint32_t ProgressSteps(uint32_t start, uint32_t end)
    {
        return loader::CEngine::ProgressSteps(start, end);
    }
};
