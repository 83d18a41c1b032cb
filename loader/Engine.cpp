#include "loader/Engine.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "link/SerialComm.h"
#include "link/SerialCommState.h"
#include "platform/Clock.h"

namespace loader {

namespace {

constexpr uint32_t kIdAddressLow = 0xDF, kIdAddressMiddle = 0xFF, kIdAddressHigh = 0x0F;
constexpr uint32_t kDownloadHeaderSize = 4; // code, size low, size high, checksum


void SplitAddress(uint32_t address, uint8_t& middle, uint8_t& high)
{
    middle = static_cast<uint8_t>(address / 256);
    high = static_cast<uint8_t>(address / 65536);
}

// The last page of a 32-bit range: the address would wrap on the next step.
bool LastPageOfAddressSpace(uint32_t address)
{
    return address > 0xFFFFFFFF - kPageSize;
}

uint32_t PagesIn(uint32_t start, uint32_t end)
{
    return end > start ? (end - start + kPageSize - 1) / kPageSize : 0;
}

} // namespace

uint8_t BaudCode(uint32_t baudRate)
{
    for (size_t i = 0; i < std::size(kBaudRates); ++i) {
        if (kBaudRates[i] == baudRate) return static_cast<uint8_t>(bootcode::kBaud9600 + i);
    }
    return 0x00;
}

uint32_t BaudRateOfCode(uint8_t code)
{
    for (const uint32_t rate : kBaudRates) {
        if (BaudCode(rate) == code) return rate;
    }
    return 0;
}

const char* OutcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Done:
        return "done";
    case Outcome::Silent:
        return "silent";
    case Outcome::LineError:
        return "line error";
    case Outcome::DeviceError:
        return "device error";
    case Outcome::Mismatch:
        return "mismatch";
    case Outcome::Cancelled:
        return "cancelled";
    case Outcome::PortLost:
        return "port lost";
    }
    return "?";
}

CEngine::CEngine(CSerialComm& link, IProgress* progress) : m_link(link), m_progress(progress)
{
    if (m_progress) m_previousHook = m_link.SetWaitHook([this] { OnLinkWait(); });
}

void CEngine::OnLinkWait()
{
    m_progress->OnWait();
    if (m_waitDeadline != 0) m_progress->OnWaiting(GetTickCount() - m_waitStarted, m_waitDeadline);
}

CEngine::~CEngine()
{
    if (m_progress) m_link.SetWaitHook(std::move(m_previousHook));
}

bool CEngine::SetLinkRate(uint32_t baudRate)
{
    CSerialCommState state;
    state.m_dwBaudRate = baudRate;
    state.m_byByteSize = kByteSize;
    state.m_byParity = kNoParity;
    state.m_byStopBits = kOneStopBit;
    return m_link.SetState(state) != FALSE;
}

uint32_t CEngine::LinkRate()
{
    CSerialCommState state;
    // A closed port has no speed.
    return m_link.GetState(state) ? state.m_dwBaudRate : 0;
}

void CEngine::Pause(uint32_t milliseconds)
{
    m_link.Pause(milliseconds);
}

uint32_t CEngine::ProgressSteps(uint32_t start, uint32_t end)
{
    if (end - start < 2 * kPageSize - 1) return 0;
    return (end - start - kPageSize) / kProgressStepBytes;
}

bool CEngine::Send(const uint8_t* bytes, uint32_t count)
{
    return m_link.Write(bytes, count) == count;
}

Result CEngine::Failure(Outcome outcome) const
{
    Result result;
    result.outcome = outcome;
    return result;
}

Result CEngine::Receive(uint8_t* buffer, uint32_t count)
{
    if (m_link.Read(buffer, count) == count) return {};
    switch (m_link.LastReadEnd()) {
    case CSerialComm::ReadEnd::LineError:
        return Failure(Outcome::LineError);
    case CSerialComm::ReadEnd::HungUp:
    case CSerialComm::ReadEnd::NotOpen:
        return Failure(Outcome::PortLost);
    case CSerialComm::ReadEnd::Complete:
    case CSerialComm::ReadEnd::TimedOut:
        break;
    }
    return Failure(Outcome::Silent);
}

// A reply that did not come whole: silence, a garbled byte, or a port that went away.
static bool NoReplyCame(Outcome outcome)
{
    return outcome == Outcome::Silent || outcome == Outcome::LineError || outcome == Outcome::PortLost;
}

bool CEngine::Stop()
{
    return !m_stopsHeld && m_progress && m_progress->Cancelled();
}

void CEngine::NoReply()
{
    m_noReply = NoReplyMark{GetTickCount(), LinkRate()};
    if (m_progress) m_progress->OnNoReply();
}

void CEngine::DiscardStaleInput()
{
    m_link.Purge(0);
    Pause(linktime::kAdapterFlushTime);
    m_link.Purge(0);
}

Result CEngine::SendSyncBurst(uint32_t fillerPause)
{
    if (!Send(bootcode::kBaud9600)) return Failure(Outcome::PortLost);
    Pause(linktime::kSyncEdgePause);
    constexpr int kFillerCount = 16;
    for (int i = 0; i < kFillerCount; ++i) {
        if (!Send(bootcode::kSyncFiller)) return Failure(Outcome::PortLost);
        Pause(fillerPause);
    }
    Pause(linktime::kSyncEdgePause);
    return {};
}

Result CEngine::ReadByte(uint8_t& byte)
{
    return Receive(&byte, 1);
}

Result CEngine::ReadStatus(StatusRegister& status)
{
    const uint32_t sent = GetTickCount();
    if (!Send(bootcode::kReadStatus)) return Failure(Outcome::PortLost);
    uint8_t reply[2] = {0, 0};
    Result result = Receive(reply, sizeof reply);
    if (result.Ok()) {
        status = {reply[0], reply[1]};
        NoteStatusRoundTrip(GetTickCount() - sent);
    }
    result.status = status;
    return result;
}

void CEngine::NoteStatusRoundTrip(uint32_t milliseconds)
{
    // Five are enough to see a latency timer (16 ms on FTDI's chips) and few enough to say
    // so before the erase; a slow one alone (the panel busy) is not the adapter.
    constexpr size_t kSamples = 5;
    constexpr uint32_t kTold = 4; // ms beyond the wire time
    if (m_statusHolds.size() >= kSamples) return;
    const uint32_t rate = LinkRate();
    const uint32_t wireMs = rate ? (3 * 10 * 1000 + rate - 1) / rate : 0; // 0x70 out, two bytes back
    m_statusHolds.push_back(milliseconds > wireMs ? milliseconds - wireMs : 0);
    if (m_statusHolds.size() < kSamples) return;
    std::vector<uint32_t> sorted = m_statusHolds;
    std::nth_element(sorted.begin(), sorted.begin() + kSamples / 2, sorted.end());
    const uint32_t median = sorted[kSamples / 2];
    if (median >= kTold && m_progress) m_progress->OnRepliesHeld(median);
}

Result CEngine::ClearStatus()
{
    if (!Send(bootcode::kClearStatus)) return Failure(Outcome::PortLost);
    Pause(linktime::kCommandPause);
    return {};
}

Result CEngine::DisableLockBits()
{
    // Without it the erase leaves the locked blocks as they were.
    if (!Send(bootcode::kLockBitDisable)) return Failure(Outcome::PortLost);
    Pause(linktime::kCommandPause);
    return {};
}

Result CEngine::EraseAll()
{
    Result result = ClearStatus();
    if (result.Ok()) result = DisableLockBits();
    if (!result.Ok()) return result;
    const uint8_t eraseAll[2] = {bootcode::kEraseAll, bootcode::kEraseConfirm};
    if (!Send(eraseAll, sizeof eraseAll)) return Failure(Outcome::PortLost);
    Pause(linktime::kCommandPause);
    const uint32_t previousTimeout = m_link.GetTimeout();
    m_link.SetTimeout(linktime::kEraseStatusTimeout);
    m_waitStarted = GetTickCount();
    m_waitDeadline = linktime::kEraseStatusTimeout;
    StatusRegister status;
    result = ReadStatus(status);
    m_waitDeadline = 0;
    if (NoReplyCame(result.outcome)) NoReply();
    m_link.SetTimeout(previousTimeout);
    if (result.Ok() && status.EraseError()) result.outcome = Outcome::DeviceError;
    return result;
}

Result CEngine::PageStatus(const ProgramOptions& options, StatusRegister& status)
{
    const uint32_t started = GetTickCount();
    for (;;) {
        Result result = ReadStatus(status);
        if (!result.Ok()) return result;
        if (status.ProgramError()) {
            result.outcome = Outcome::DeviceError;
            return result;
        }
        if (!options.waitForReady || status.Ready()) return result;
        if (GetTickCount() - started >= linktime::kPageStatusTimeout) {
            // Still busy when the page's time is up: the next frame would be lost.
            result.outcome = Outcome::DeviceError;
            return result;
        }
    }
}

Result CEngine::PageFrame(const PageSource& image, uint32_t address, bool* blank)
{
    uint8_t frame[3 + kPageSize];
    frame[0] = bootcode::kPageProgram;
    SplitAddress(address, frame[1], frame[2]);
    std::memset(frame + 3, 0xFF, kPageSize);
    if (image) image(frame + 3, address / kPageSize);
    if (blank) {
        *blank = std::all_of(frame + 3, frame + 3 + kPageSize, [](uint8_t b) { return b == 0xFF; });
        if (*blank) return {};
    }
    if (!Send(frame, sizeof frame)) return Failure(Outcome::PortLost);
    return {};
}

Result CEngine::ProgramPage(uint32_t address, const uint8_t* data, uint32_t pagePause)
{
    const uint32_t previousTimeout = m_link.GetTimeout();
    const PageSource page = [data](uint8_t* buffer, uint32_t) {
        std::memcpy(buffer, data, kPageSize);
        return true;
    };
    Result result = PageFrame(page, address, nullptr);
    if (result.Ok()) {
        Pause(pagePause);
        m_link.SetTimeout(linktime::kPageStatusTimeout);
        StatusRegister status;
        result = PageStatus({}, status);
        if (NoReplyCame(result.outcome)) NoReply();
        m_link.SetTimeout(previousTimeout);
    }
    result.address = address;
    return result;
}

Result CEngine::ProgramRange(const PageSource& image, uint32_t start, uint32_t end,
                             const ProgramOptions& options)
{
    Result result = ClearStatus();
    if (!result.Ok()) return result;

    uint32_t total = 0;
    for (uint32_t address = start; address < end; address += kPageSize) {
        bool blank = false;
        if (options.skipBlankPages) {
            uint8_t page[kPageSize];
            std::memset(page, 0xFF, kPageSize);
            if (image) image(page, address / kPageSize);
            blank = std::all_of(page, page + kPageSize, [](uint8_t b) { return b == 0xFF; });
        }
        if (!blank) ++total;
        if (LastPageOfAddressSpace(address)) break;
    }

    if (m_progress) m_progress->OnStart(total);
    const uint32_t previousTimeout = m_link.GetTimeout();
    m_link.SetTimeout(linktime::kPageStatusTimeout);
    uint32_t sent = 0;
    StatusRegister status;
    for (uint32_t address = start; address < end; address += kPageSize) {
        bool blank = false;
        // A frame that did not go out whole is told by the status read that follows.
        std::ignore = PageFrame(image, address, options.skipBlankPages ? &blank : nullptr);
        result = {};
        if (!blank) {
            ++sent;
            if (m_progress) m_progress->OnPage(sent, total, address);
            if (Stop()) {
                result.outcome = Outcome::Cancelled;
            } else {
                Pause(options.pagePause);
                // A listener may hear its stop in the pause (the windows pump there).
                if (Stop()) {
                    result.outcome = Outcome::Cancelled;
                } else {
                    result = PageStatus(options, status);
                    if (NoReplyCame(result.outcome)) NoReply();
                }
            }
        }
        result.address = address;
        if (!result.Ok() || LastPageOfAddressSpace(address)) break;
    }
    m_link.SetTimeout(previousTimeout);
    result.status = status;
    result.pagesSent = sent;
    return result;
}

Result CEngine::ReadPage(uint32_t address, uint8_t* page, uint32_t timeout)
{
    const uint32_t previousTimeout = m_link.GetTimeout();
    m_link.SetTimeout(timeout);
    uint8_t frame[3] = {bootcode::kPageRead, 0, 0};
    SplitAddress(address, frame[1], frame[2]);
    m_link.Purge(0);
    Result result = Send(frame, sizeof frame) ? Receive(page, kPageSize) : Failure(Outcome::PortLost);
    if (NoReplyCame(result.outcome)) NoReply();
    m_link.SetTimeout(previousTimeout);
    result.address = address;
    return result;
}

Result CEngine::CheckRange(const PageSource& image, uint32_t start, uint32_t end, CheckMode mode,
                           uint32_t pageTimeout)
{
    const uint32_t total = PagesIn(start, end);
    if (m_progress) m_progress->OnStart(total);
    uint32_t done = 0;
    uint8_t flash[kPageSize];
    uint8_t expected[kPageSize];
    for (uint32_t address = start; address < end; address += kPageSize) {
        m_link.Purge(0);
        Result result = ReadPage(address, flash, pageTimeout);
        if (!result.Ok()) return result;
        std::memset(expected, 0xFF, kPageSize);
        if (mode != CheckMode::Blank && image) image(expected, address / kPageSize);
        for (uint32_t i = 0; i < kPageSize; ++i) {
            const bool differs = mode == CheckMode::CompareSkipErased
                                     ? expected[i] != 0xFF && flash[i] != expected[i]
                                     : flash[i] != expected[i];
            if (differs) {
                result.outcome = Outcome::Mismatch;
                result.address = address + i;
                return result;
            }
        }
        if (m_progress) m_progress->OnPage(++done, total, address);
        if (Stop()) return Failure(Outcome::Cancelled);
        if (LastPageOfAddressSpace(address)) break;
    }
    return {};
}

Result CEngine::ReadRange(uint32_t start, uint32_t end, uint32_t pageTimeout, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    const uint32_t total = PagesIn(start, end);
    if (m_progress) m_progress->OnStart(total);
    uint32_t done = 0;
    uint8_t page[kPageSize];
    for (uint32_t address = start; address < end; address += kPageSize) {
        Result result = ReadPage(address, page, pageTimeout);
        if (!result.Ok()) return result;
        bytes.insert(bytes.end(), page, page + kPageSize);
        if (m_progress) m_progress->OnPage(++done, total, address);
        if (Stop()) return Failure(Outcome::Cancelled);
        if (LastPageOfAddressSpace(address)) break;
    }
    return {};
}

Result CEngine::CheckId(const std::array<uint8_t, kIdLength>& id, StatusRegister& after)
{
    uint8_t frame[5 + kIdLength] = {bootcode::kIdCheck, kIdAddressLow, kIdAddressMiddle, kIdAddressHigh,
                                    static_cast<uint8_t>(kIdLength)};
    std::copy(id.begin(), id.end(), frame + 5);
    if (!Send(frame, sizeof frame)) return Failure(Outcome::PortLost);
    Pause(linktime::kCommandPause);
    return ReadStatus(after);
}

Result CEngine::ReadVersion(std::string& text)
{
    if (!Send(bootcode::kVersion)) return Failure(Outcome::PortLost);
    char reply[kVersionLength] = {};
    Result result = Receive(reinterpret_cast<uint8_t*>(reply), kVersionLength);
    if (result.Ok()) text.assign(reply, kVersionLength);
    return result;
}

Result CEngine::SendBaudCode(uint8_t code)
{
    if (!Send(code)) return Failure(Outcome::PortLost);
    uint8_t echo = 0;
    Result result = Receive(&echo, 1);
    if (result.Ok() && echo != code) result.outcome = Outcome::LineError;
    return result;
}

Result CEngine::NegotiateRate(uint32_t currentRate, uint32_t newRate)
{
    const uint8_t codes[2] = {BaudCode(currentRate), BaudCode(newRate)};
    m_link.Purge(0);
    Pause(linktime::kCommandPause);
    // The first code proves the device still listens at this speed; the second moves it.
    for (const uint8_t code : codes) {
        const Result result = SendBaudCode(code);
        if (!result.Ok()) {
            m_link.Purge(0);
            return result;
        }
        Pause(linktime::kCodeSettleTime);
    }
    return {};
}

Result CEngine::ConfirmRate(uint32_t rate)
{
    // An echo that came late after a failed negotiation must not be taken for this one.
    m_link.Purge(0);
    return SendBaudCode(BaudCode(rate));
}

Result CEngine::DownloadRange(const PageSource& image, uint32_t start, uint32_t end, uint32_t pagePause)
{
    const uint32_t length = end - start + 1;
    uint8_t page[kPageSize];
    auto fill = [&](uint32_t address) {
        std::memset(page, 0x00, kPageSize);
        if (image) image(page, address / kPageSize);
    };
    uint8_t checksum = 0;
    for (uint32_t address = start; address < end; address += kPageSize) {
        fill(address);
        for (const uint8_t byte : page)
            checksum = static_cast<uint8_t>(checksum + byte);
        if (LastPageOfAddressSpace(address)) break;
    }

    const uint32_t total = PagesIn(start, end);
    if (m_progress) m_progress->OnStart(total);
    Result result;
    std::vector<uint8_t> frame;
    frame.reserve(kDownloadHeaderSize + kPageSize);
    for (uint32_t address = start; address < end; address += kPageSize) {
        fill(address);
        frame.clear();
        if (address == start) {
            // The size travels in 16 bits; a range of 256 pages sends 0x00 0x00.
            frame.push_back(bootcode::kDownload);
            frame.push_back(static_cast<uint8_t>(length % 256));
            frame.push_back(static_cast<uint8_t>((length / 256) % 256));
            frame.push_back(checksum);
        }
        frame.insert(frame.end(), page, page + kPageSize);
        result.address = address;
        if (!Send(frame.data(), static_cast<uint32_t>(frame.size()))) {
            result.outcome = Outcome::PortLost;
            return result;
        }
        ++result.pagesSent;
        if (m_progress) m_progress->OnPage(result.pagesSent, total, address);
        if (Stop()) {
            result.outcome = Outcome::Cancelled;
            return result;
        }
        Pause(pagePause);
        if (Stop()) {
            result.outcome = Outcome::Cancelled;
            return result;
        }
        if (LastPageOfAddressSpace(address)) break;
    }
    return result;
}

} // namespace loader
