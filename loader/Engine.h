#pragma once
// The boot loader's protocol as plain calls on an open link. Each call sends its bytes,
// keeps its waits and returns what happened; none of them shows anything, retries or
// recovers. Front ends (the windows, the command line, the station) decide what a
// result means.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "loader/Progress.h"
#include "loader/Result.h"

class CSerialComm;

namespace loader {

// Copies page `index` (address / 256) into the buffer when the image holds it and
// returns true; leaves the buffer untouched and returns false otherwise.
using PageSource = std::function<bool(uint8_t* page, uint32_t index)>;

struct ProgramOptions
{
    uint32_t pagePause = linktime::kDefaultPagePause;
    // Send only pages that hold a byte other than 0xFF. Only sound after an erase whose
    // status reported success, and with a verify of the whole area afterwards.
    bool skipBlankPages = false;
    // Ask for the status again until the ready bit is set (within the page's 150 ms),
    // so that a page pause shorter than the panel's programming time never sends the
    // next frame into a busy panel.
    bool waitForReady = false;
};

enum class CheckMode {
    Blank,             // every byte 0xFF
    CompareAll,        // every byte equal to the image (absent pages as 0xFF)
    CompareSkipErased, // equal where the image holds something other than 0xFF
};

class CEngine
{
public:
    // The progress interface is optional; while it is given, the link's waits call it.
    explicit CEngine(CSerialComm& link, IProgress* progress = nullptr);
    ~CEngine();
    CEngine(const CEngine&) = delete;
    CEngine& operator=(const CEngine&) = delete;

    CSerialComm& Link() { return m_link; }
    // The front end's listener, or none.
    IProgress* Progress() const { return m_progress; }

    // Speed and framing of the PC's end (8 data bits, no parity, one stop bit).
    bool SetLinkRate(uint32_t baudRate);
    uint32_t LinkRate();

    // Where the link starts over: purge, wait, purge again, so bytes a USB adapter still
    // held back (its latency timer) cannot land in the next reply.
    void DiscardStaleInput();

    // 0xB0, a pause, sixteen 0x00 fillers each followed by fillerPause, a pause. The
    // boot loader answers with one 0xB0, which the caller reads (ReadByte) or discards.
    [[nodiscard]] Result SendSyncBurst(uint32_t fillerPause);
    [[nodiscard]] Result ReadByte(uint8_t& byte);

    // 0x70: SRD1 and SRD2.
    [[nodiscard]] Result ReadStatus(StatusRegister& status);
    // 0x50, then the command pause.
    [[nodiscard]] Result ClearStatus();
    // 0x75, then the command pause.
    [[nodiscard]] Result DisableLockBits();
    // Clear status, lock-bit disable, 0xA7 0xD0, then the status within 40 s; a status
    // with the erase-error bit is a DeviceError. The time-out in force before is back
    // afterwards.
    [[nodiscard]] Result EraseAll();
    // One page frame, the page pause and the status within 150 ms (previous time-out
    // restored); the program-error bit is a DeviceError.
    [[nodiscard]] Result ProgramPage(uint32_t address, const uint8_t* data, uint32_t pagePause);
    // Purge, 0xFF with the page address, and the 256 bytes within `timeout`; the time-out
    // in force before is restored.
    [[nodiscard]] Result ReadPage(uint32_t address, uint8_t* page, uint32_t timeout);
    // The ID frame with seven ID bytes, the command pause, then the status (whose ID
    // field is the verdict).
    [[nodiscard]] Result CheckId(const std::array<uint8_t, kIdLength>& id, StatusRegister& after);
    // 0xFB: eight bytes of text.
    [[nodiscard]] Result ReadVersion(std::string& text);
    // One speed code and its echo.
    [[nodiscard]] Result SendBaudCode(uint8_t code);
    // Purge, a pause, then the current speed's code and the new one, each echoed and
    // followed by the settle time. On a wrong or missing echo the input is purged. The
    // PC's end is left at the current speed.
    [[nodiscard]] Result NegotiateRate(uint32_t currentRate, uint32_t newRate);
    // Purge, then the speed's code once more at the PC's (already changed) speed.
    [[nodiscard]] Result ConfirmRate(uint32_t rate);

    // Clear status, then every page of [start, end) with the page pause and a status
    // read after each, progress after each frame and the stop asked between the frame
    // and its pause and again after the pause. pagesSent counts the frames sent; address names a failed page.
    // The time-out in force before is back afterwards.
    [[nodiscard]] Result ProgramRange(const PageSource& image, uint32_t start, uint32_t end,
                                      const ProgramOptions& options);
    // Reads every page of [start, end) and checks it; the first offending byte's address
    // comes with Mismatch. `image` may be empty for the blank check.
    [[nodiscard]] Result CheckRange(const PageSource& image, uint32_t start, uint32_t end, CheckMode mode,
                                    uint32_t pageTimeout);
    // Reads [start, end) into bytes.
    [[nodiscard]] Result ReadRange(uint32_t start, uint32_t end, uint32_t pageTimeout,
                                   std::vector<uint8_t>& bytes);
    // The boot-program download: 0xFA, the length in 16 bits and the checksum ahead of
    // the first page, every page of [start, end) (absent bytes as 0x00) with the page
    // pause after each. A range longer than 0x10000 bytes is refused by the caller.
    [[nodiscard]] Result DownloadRange(const PageSource& image, uint32_t start, uint32_t end,
                                       uint32_t pagePause);

    // While held, the front end's stop waits: what must reach the panel whatever happens
    // (its own pages back after an erase) is not cut short between pages.
    void HoldStops(bool hold) { m_stopsHeld = hold; }

    // The pause the protocol asks for, with the front end called at least every 100 ms
    // (through the link's wait hook: the listener's, or one the front end installed).
    void Pause(uint32_t milliseconds);

    // The progress bars' position for an address of a range (500-byte steps).
    static uint32_t ProgressSteps(uint32_t start, uint32_t end);

    // The moment a reply last failed to come, taken before the front end's recovery ran
    // (a box, a power cycle, a rate dialog): the step ended there, at that speed.
    struct NoReplyMark
    {
        uint32_t tick = 0;
        uint32_t rate = 0;
    };
    std::optional<NoReplyMark> TakeNoReply() { return std::exchange(m_noReply, std::nullopt); }

private:
    bool Send(const uint8_t* bytes, uint32_t count);
    bool Send(uint8_t byte) { return Send(&byte, 1); }
    Result Receive(uint8_t* buffer, uint32_t count);
    Result Failure(Outcome outcome) const;
    Result PageFrame(const PageSource& image, uint32_t address, bool* blank);
    Result PageStatus(const ProgramOptions& options, StatusRegister& status);
    bool Stop();
    void NoReply();
    void OnLinkWait();

    CSerialComm& m_link;
    IProgress* m_progress;
    std::function<void()> m_previousHook;
    // The wait with a deadline of its own that is running, if any (the erase's status).
    uint32_t m_waitStarted = 0, m_waitDeadline = 0;
    bool m_stopsHeld = false;
    std::optional<NoReplyMark> m_noReply;
    // The first status round trips beyond their wire time, until they are judged.
    std::vector<uint32_t> m_statusHolds;
    void NoteStatusRoundTrip(uint32_t milliseconds);
};

} // namespace loader
