#pragma once
// The panel's serial boot loader as a model: flash, status registers, ID check,
// speed changes and the faults a real panel shows. Time is given by the caller in
// microseconds (the transport knows the wire); replies come out as bytes stamped
// with the time they have fully arrived at the host's end.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// How long N characters back to back take on the wire (ten bits each), rounded up to the
// microsecond once for the run: a character time truncated to whole microseconds makes
// 256 bytes at 115200 bit/s arrive 0.9 % early.
uint64_t WireTimeUs(uint32_t baud, uint64_t characters);

struct BootLoaderConfig
{
    std::array<uint8_t, 7> id{0xB6, 0xB6, 0xB6, 0xB6, 0xB6, 0xB6, 0xB6};
    bool idVerifiedAtStart = false; // SRD2 bits 3..2 = 11 from power-on
    bool ignoreFlashUntilId = true; // flash commands ignored while the ID is not verified
    uint32_t eraseTimeMs = 2000;
    char version[8] = {'V', 'E', 'R', '.', '1', '.', '0', '0'};
    uint32_t programTimeMs = 2; // page program busy time (a status request waits for it)
};

enum class Fault {
    Silent,               // answers nothing at all
    SilentAfterBytes,     // goes silent after N more received bytes
    RefuseBaudCode,       // no echo (and no change) for one speed code
    FailProgramAtPage,    // that page's program sets the program-error bit, flash untouched
    FailErase,            // erase sets the erase-error bit, flash kept
    PowerCycleAfterBytes, // after N more received bytes: back to power-on state, flash kept
    LineErrorOnNextRead,  // the host's next read sees a framing error
};

// What the device has received since it was made (power cycles do not reset them), so that
// tests can count what a host put on the wire.
struct FrameCounters
{
    uint32_t pageFrames = 0;          // whole page-program frames (0x41)
    uint32_t pageFramesWhileBusy = 0; // of those, begun while SRD1 bit 7 was clear: not programmed
    uint32_t eraseCommands = 0;       // whole erase frames (0xA7 0xD0)
    uint32_t pageReads = 0;           // whole page-read frames (0xFF)
    uint32_t statusRequests = 0;      // 0x70
    uint32_t bytesLost = 0;           // bytes that arrived while the power was off
};

struct WireEvent
{
    uint64_t timeMs = 0;
    enum Kind {
        HostToDevice,   // byte fully arrived at the device
        DeviceToHost,   // byte fully arrived at the host
        SpeedChange,    // device speed now deviceBaud (or the host's, with text "host")
        Erase,          // text "ok" or "failed"
        PageProgrammed, // address = page; text "ok" or "failed"
        IdResult,       // text "match" or "mismatch"
        Dropped,        // the byte before was lost: both ends run at different speeds
        PowerCycle,
        Note,
    } kind = Note;
    uint8_t byte = 0;
    uint32_t hostBaud = 0;
    uint32_t deviceBaud = 0;
    uint32_t address = 0;
    std::string text;
    uint64_t timeUs = 0;
};

std::string FormatWireEvent(const WireEvent& event);

struct DeviceByte
{
    uint8_t byte;
    uint64_t arrivalUs; // fully received by the host
    uint32_t baud;      // the device's speed while it was sent
};

class CBootLoader
{
public:
    static constexpr uint32_t kPageSize = 256;
    static constexpr uint32_t kPowerOnBaud = 9600;
    // A frame whose next byte does not come within this time is abandoned, as a real
    // boot loader's receive time-out would (and SRD2 bit 1 reports it).
    static constexpr uint64_t kFrameTimeoutUs = 1'000'000;

    explicit CBootLoader(BootLoaderConfig config = {});

    // Where "now" comes from for PowerCycleNow and the time-dependent getters.
    void SetTimeSource(std::function<uint64_t()> nowUs);

    // Transport side: a byte the host sent, fully arrived at the device at atUs
    // while the host's end ran at hostBaud.
    void Receive(uint8_t byte, uint64_t atUs, uint32_t hostBaud);
    // Device bytes that have fully arrived by nowUs, oldest first (removed from the queue).
    std::vector<DeviceByte> TakeOutput(uint64_t nowUs);
    std::optional<uint64_t> NextOutputUs() const;
    // The device's speed at a given time (a pending change after an echo included).
    uint32_t BaudAt(uint64_t atUs) const;
    // Takes the injected line error, if any.
    bool TakeLineError();
    // Appends a transport event (bytes the host received, host speed changes).
    void Log(WireEvent event);
    std::vector<WireEvent> Trace() const;
    void ClearTrace();

    uint8_t ReadFlash(uint32_t address) const; // 0xFF when erased or never written
    void WriteFlash(uint32_t address, uint8_t value);
    std::vector<uint8_t> ReadFlashRange(uint32_t start, uint32_t length) const;
    // Addresses of the pages holding anything but 0xFF, ascending.
    std::vector<uint32_t> NonBlankPages() const;
    std::vector<uint32_t> ProgrammedPages() const; // programmed since power-on, in order
    uint32_t Baud() const;
    uint8_t Srd1() const;
    uint8_t Srd2() const;
    bool IdVerified() const;
    const std::vector<uint8_t>& DownloadedProgram() const;
    bool Busy() const;

    void SetSilent(bool silent);
    void SilentAfterBytes(uint32_t count);
    void RefuseBaudCode(uint8_t code);
    void FailProgramAtPage(uint32_t pageAddress);
    void FailErase(bool fail);
    // A cell that keeps this value whatever its page is programmed with, and no error bit says so.
    void StickByte(uint32_t address, uint8_t value);
    void PowerCycleAfterBytes(uint32_t count);
    void PowerCycleNow();
    // The supply. Off cuts what is in progress where it stands (an erase leaves the pages it
    // had not reached, a page program the bytes it had not written), drops every reply
    // still on its way and hears nothing; on starts the boot loader afresh (9600 bit/s,
    // status and ID check reset, flash kept).
    void PowerOff();
    void PowerOn();
    bool PoweredOn() const;
    // An erase that reports success but leaves this page holding its old data.
    void EraseLeavesPage(uint32_t pageAddress);
    // After each page program SRD1 bit 7 stays clear for this long; a status request is
    // answered at once meanwhile, and a page frame begun meanwhile is counted and dropped.
    void SetBusyAfterPageMs(uint32_t milliseconds);
    FrameCounters Counters() const;
    void ResetCounters();
    void LineErrorOnNextRead();
    void SetEraseTimeMs(uint32_t milliseconds);
    void SetProgramTimeMs(uint32_t milliseconds);
    void SetVersion(const std::string& text); // padded with blanks / cut to 8 bytes
    void SetId(const std::array<uint8_t, 7>& id);
    void SetIdVerified(bool verified);
    void SetIgnoreFlashUntilId(bool ignore);
    void SetReplyDelayMs(uint32_t milliseconds);
    // A USB-serial adapter between the panel and the PC, as an FTDI chip is: what the panel
    // sends waits in the chip until its free-running latency timer fires, or goes at once
    // when it fills a USB packet (62 bytes). 0: a plain serial line.
    void SetAdapterLatencyMs(uint32_t milliseconds);
    static constexpr uint32_t kUsbPacketBytes = 62;

private:
    enum IdState : uint8_t { IdNotChecked = 0x00, IdMismatch = 0x01, IdVerifiedState = 0x03 };

    uint64_t NowUs() const;
    void ApplyPendingBaud(uint64_t atUs);
    void PowerCycleAt(uint64_t atUs);
    void CutPower(uint64_t atUs);
    void RestorePower(uint64_t atUs);
    void Execute(uint64_t atUs);
    void Send(const std::vector<uint8_t>& bytes, uint64_t notBeforeUs);
    bool FlashAllowed() const;
    void ProgramPage(uint32_t page, const uint8_t* data, uint64_t atUs);
    void CountFrame(uint8_t code);
    void EraseAll(uint64_t atUs);
    void CheckId(uint64_t atUs);
    void Download(uint64_t atUs);
    size_t FrameLength() const;
    void AddEvent(WireEvent::Kind kind, uint64_t atUs, uint32_t address = 0, std::string text = {},
                  uint8_t byte = 0, uint32_t hostBaud = 0);

    mutable std::recursive_mutex m_mutex;
    BootLoaderConfig m_config;
    std::function<uint64_t()> m_nowUs;
    uint64_t m_lastUs = 0;

    std::map<uint32_t, std::array<uint8_t, kPageSize>> m_flash;
    std::vector<uint32_t> m_programmed;
    std::vector<uint8_t> m_download;

    uint32_t m_baud = kPowerOnBaud;
    uint32_t m_pendingBaud = 0;
    uint64_t m_pendingBaudUs = 0;
    uint8_t m_srd1Errors = 0;
    uint8_t m_srd2 = 0;
    uint64_t m_busyUntilUs = 0;
    uint64_t m_txFreeUs = 0;

    std::vector<uint8_t> m_frame;
    uint64_t m_lastByteUs = 0;
    std::deque<DeviceByte> m_output;

    bool m_silent = false;
    std::optional<uint32_t> m_silentAfter;
    std::optional<uint32_t> m_powerCycleAfter;
    std::vector<uint8_t> m_refusedBaudCodes;
    std::vector<uint32_t> m_failingPages;
    std::map<uint32_t, uint8_t> m_stuckBytes;
    bool m_failErase = false;
    bool m_lineError = false;
    uint32_t m_replyDelayMs = 0;
    uint64_t m_adapterLatencyUs = 0;
    uint64_t m_adapterTickUs = 0; // the latency timer's next expiry
    uint32_t m_adapterHeld = 0;   // bytes waiting for it
    uint64_t HeldByAdapter(uint64_t arrivalUs);

    bool m_poweredOn = true;
    std::optional<uint32_t> m_eraseLeavesPage;
    uint32_t m_busyAfterPageMs = 0;
    uint64_t m_readyAtUs = 0; // SRD1 bit 7 clear before this (busy after a page)
    uint64_t m_frameStartUs = 0;
    FrameCounters m_counters;

    // The work in progress, so that a power cut can leave it half done.
    struct Progress
    {
        uint64_t fromUs = 0;
        uint64_t untilUs = 0;
    };
    Progress m_erase;
    std::map<uint32_t, std::array<uint8_t, kPageSize>> m_flashBeforeErase;
    Progress m_pageProgram;
    uint32_t m_pageInProgress = 0;
    std::array<uint8_t, kPageSize> m_pageBefore{};

    std::vector<WireEvent> m_trace;
};

} // namespace sim
