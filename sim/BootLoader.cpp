#include "sim/BootLoader.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

namespace sim {

namespace {

constexpr uint8_t kCmdSyncFiller = 0x00;
constexpr uint8_t kCmdBaud9600 = 0xB0;
constexpr uint8_t kCmdBaud115200 = 0xB4;
constexpr uint8_t kCmdReadStatus = 0x70;
constexpr uint8_t kCmdClearStatus = 0x50;
constexpr uint8_t kCmdLockBitDisable = 0x75;
constexpr uint8_t kCmdEraseAll = 0xA7;
constexpr uint8_t kEraseConfirm = 0xD0;
constexpr uint8_t kCmdPageProgram = 0x41;
constexpr uint8_t kCmdPageRead = 0xFF;
constexpr uint8_t kCmdIdCheck = 0xF5;
constexpr uint8_t kCmdDownload = 0xFA;
constexpr uint8_t kCmdVersion = 0xFB;

constexpr size_t kPageFrameLength = 3 + CBootLoader::kPageSize;
constexpr size_t kPageReadFrameLength = 3;
constexpr size_t kIdHeaderLength = 5; // code, three address bytes, count
constexpr size_t kDownloadHeaderLength = 4;
constexpr size_t kLengthUnknownYet = std::numeric_limits<size_t>::max();

constexpr uint8_t kSrd1Ready = 0x80;
constexpr uint8_t kSrd1EraseError = 0x20;
constexpr uint8_t kSrd1ProgramError = 0x10;
constexpr uint8_t kSrd1ErrorBits = 0x38;
constexpr uint8_t kSrd2ChecksumMatch = 0x10;
constexpr uint8_t kSrd2IdField = 0x0C;
constexpr uint8_t kSrd2ReceiveTimeout = 0x02;
constexpr uint8_t kSrd2OverNumber = 0x01;

constexpr uint32_t kBaudByCode[] = {9600, 19200, 38400, 57600, 115200};

} // namespace

uint64_t WireTimeUs(uint32_t baud, uint64_t characters)
{
    // Ten bits per character: start, eight data, stop.
    return baud ? (characters * 10'000'000ull + baud - 1) / baud : 0;
}

std::string FormatWireEvent(const WireEvent& e)
{
    char head[64];
    std::snprintf(head, sizeof head, "%10llu.%03llu ", static_cast<unsigned long long>(e.timeUs / 1000),
                  static_cast<unsigned long long>(e.timeUs % 1000));
    char body[160];
    switch (e.kind) {
    case WireEvent::HostToDevice:
        std::snprintf(body, sizeof body, "host>dev %02X  host %u dev %u", e.byte, e.hostBaud, e.deviceBaud);
        break;
    case WireEvent::DeviceToHost:
        std::snprintf(body, sizeof body, "dev>host %02X  host %u dev %u", e.byte, e.hostBaud, e.deviceBaud);
        break;
    case WireEvent::SpeedChange:
        std::snprintf(body, sizeof body, "speed    %s %u", e.text == "host" ? "host" : "device",
                      e.text == "host" ? e.hostBaud : e.deviceBaud);
        break;
    case WireEvent::Erase:
        std::snprintf(body, sizeof body, "erase    %s", e.text.c_str());
        break;
    case WireEvent::PageProgrammed:
        std::snprintf(body, sizeof body, "program  %06X %s", e.address, e.text.c_str());
        break;
    case WireEvent::IdResult:
        std::snprintf(body, sizeof body, "id       %s", e.text.c_str());
        break;
    case WireEvent::Dropped:
        std::snprintf(body, sizeof body, "dropped  %02X  host %u dev %u", e.byte, e.hostBaud, e.deviceBaud);
        break;
    case WireEvent::PowerCycle:
        std::snprintf(body, sizeof body, "power cycle");
        break;
    case WireEvent::Note:
        std::snprintf(body, sizeof body, "note     %s", e.text.c_str());
        break;
    }
    return std::string(head) + body;
}

CBootLoader::CBootLoader(BootLoaderConfig config) : m_config(config)
{
    m_srd2 = m_config.idVerifiedAtStart ? kSrd2IdField : 0;
}

void CBootLoader::SetTimeSource(std::function<uint64_t()> nowUs)
{
    std::lock_guard lock(m_mutex);
    m_nowUs = std::move(nowUs);
}

uint64_t CBootLoader::NowUs() const
{
    return m_nowUs ? std::max(m_nowUs(), m_lastUs) : m_lastUs;
}

void CBootLoader::AddEvent(WireEvent::Kind kind, uint64_t atUs, uint32_t address, std::string text,
                           uint8_t byte, uint32_t hostBaud)
{
    WireEvent e;
    e.timeUs = atUs;
    e.timeMs = atUs / 1000;
    e.kind = kind;
    e.byte = byte;
    e.hostBaud = hostBaud;
    e.deviceBaud = BaudAt(atUs);
    e.address = address;
    e.text = std::move(text);
    m_trace.push_back(std::move(e));
}

void CBootLoader::Log(WireEvent event)
{
    std::lock_guard lock(m_mutex);
    event.timeMs = event.timeUs / 1000;
    m_trace.push_back(std::move(event));
}

std::vector<WireEvent> CBootLoader::Trace() const
{
    std::lock_guard lock(m_mutex);
    return m_trace;
}

void CBootLoader::ClearTrace()
{
    std::lock_guard lock(m_mutex);
    m_trace.clear();
}

uint32_t CBootLoader::BaudAt(uint64_t atUs) const
{
    std::lock_guard lock(m_mutex);
    return m_pendingBaud && atUs >= m_pendingBaudUs ? m_pendingBaud : m_baud;
}

void CBootLoader::ApplyPendingBaud(uint64_t atUs)
{
    if (m_pendingBaud && atUs >= m_pendingBaudUs) {
        m_baud = m_pendingBaud;
        m_pendingBaud = 0;
        AddEvent(WireEvent::SpeedChange, m_pendingBaudUs);
    }
}

void CBootLoader::Receive(uint8_t byte, uint64_t atUs, uint32_t hostBaud)
{
    std::lock_guard lock(m_mutex);
    m_lastUs = std::max(m_lastUs, atUs);
    ApplyPendingBaud(atUs);
    AddEvent(WireEvent::HostToDevice, atUs, 0, {}, byte, hostBaud);
    if (!m_poweredOn) {
        ++m_counters.bytesLost;
        return;
    }

    if (m_silentAfter) {
        if (*m_silentAfter == 0) {
            m_silent = true;
            m_silentAfter.reset();
            AddEvent(WireEvent::Note, atUs, 0, "device falls silent");
        } else {
            --*m_silentAfter;
        }
    }

    if (hostBaud != m_baud) {
        // A UART at the wrong speed sees framing garbage, not this byte.
        AddEvent(WireEvent::Dropped, atUs, 0, {}, byte, hostBaud);
    } else if (!m_silent) {
        if (!m_frame.empty() && atUs - m_lastByteUs > kFrameTimeoutUs) {
            AddEvent(WireEvent::Note, atUs, 0, "incomplete frame abandoned");
            m_frame.clear();
            m_srd2 |= kSrd2ReceiveTimeout;
        }
        m_lastByteUs = atUs;
        if (m_frame.empty()) m_frameStartUs = atUs;
        m_frame.push_back(byte);
        if (m_frame.size() == FrameLength()) {
            Execute(atUs);
            m_frame.clear();
        }
    }

    if (m_powerCycleAfter && --*m_powerCycleAfter == 0) {
        m_powerCycleAfter.reset();
        PowerCycleAt(atUs);
    }
}

size_t CBootLoader::FrameLength() const
{
    switch (m_frame[0]) {
    case kCmdEraseAll:
        return 2;
    case kCmdPageProgram:
        return kPageFrameLength;
    case kCmdPageRead:
        return kPageReadFrameLength;
    case kCmdIdCheck:
        return m_frame.size() < kIdHeaderLength ? kLengthUnknownYet : kIdHeaderLength + m_frame[4];
    case kCmdDownload: {
        if (m_frame.size() < 3) return kLengthUnknownYet;
        size_t length = m_frame[1] | (m_frame[2] << 8);
        if (length == 0) length = 0x10000; // 256 pages: the 16-bit size wraps to 0
        return kDownloadHeaderLength + length;
    }
    default:
        return 1;
    }
}

bool CBootLoader::FlashAllowed() const
{
    return !m_config.ignoreFlashUntilId || (m_srd2 & kSrd2IdField) == kSrd2IdField;
}

void CBootLoader::Execute(uint64_t atUs)
{
    const uint8_t code = m_frame[0];
    CountFrame(code);
    const bool flashCommand = code == kCmdEraseAll || code == kCmdPageProgram || code == kCmdPageRead;
    if (flashCommand && !FlashAllowed()) {
        AddEvent(WireEvent::Note, atUs, 0, "flash command ignored: ID not verified");
        return;
    }
    switch (code) {
    case kCmdSyncFiller:
        break;
    case kCmdReadStatus: {
        // The status register is only read out when the flash is idle again.
        const uint64_t readAtUs = std::max(atUs, m_busyUntilUs);
        const uint8_t ready = readAtUs >= m_readyAtUs ? kSrd1Ready : 0;
        Send({static_cast<uint8_t>(ready | m_srd1Errors), m_srd2}, readAtUs);
        break;
    }
    case kCmdClearStatus:
        m_srd1Errors = 0;
        m_srd2 &= static_cast<uint8_t>(~(kSrd2ReceiveTimeout | kSrd2OverNumber));
        break;
    case kCmdLockBitDisable:
        break;
    case kCmdEraseAll:
        if (m_frame[1] == kEraseConfirm)
            EraseAll(atUs);
        else
            AddEvent(WireEvent::Note, atUs, 0, "erase without confirmation byte ignored");
        break;
    case kCmdPageProgram:
        if (m_frameStartUs < m_readyAtUs) {
            ++m_counters.pageFramesWhileBusy;
            AddEvent(WireEvent::Note, atUs, 0, "page frame begun while busy dropped");
            break;
        }
        ProgramPage((m_frame[2] << 16) | (m_frame[1] << 8), m_frame.data() + 3, atUs);
        break;
    case kCmdPageRead: {
        const uint32_t page = (m_frame[2] << 16) | (m_frame[1] << 8);
        Send(ReadFlashRange(page, kPageSize), std::max(atUs, m_busyUntilUs));
        break;
    }
    case kCmdIdCheck:
        CheckId(atUs);
        break;
    case kCmdDownload:
        Download(atUs);
        break;
    case kCmdVersion:
        Send(std::vector<uint8_t>(m_config.version, m_config.version + sizeof m_config.version), atUs);
        break;
    default:
        if (code >= kCmdBaud9600 && code <= kCmdBaud115200) {
            if (std::find(m_refusedBaudCodes.begin(), m_refusedBaudCodes.end(), code) !=
                m_refusedBaudCodes.end()) {
                AddEvent(WireEvent::Note, atUs, 0, "speed code refused");
                break;
            }
            // The echo still leaves at the old speed; the switch follows its stop bit.
            Send({code}, atUs);
            m_pendingBaud = kBaudByCode[code - kCmdBaud9600];
            m_pendingBaudUs = m_txFreeUs;
            break;
        }
        AddEvent(WireEvent::Note, atUs, 0, "unknown command ignored");
        break;
    }
}

void CBootLoader::Send(const std::vector<uint8_t>& bytes, uint64_t notBeforeUs)
{
    const uint64_t start = std::max(notBeforeUs + uint64_t{m_replyDelayMs} * 1000, m_txFreeUs);
    const uint32_t baud = BaudAt(start);
    uint64_t sent = 0;
    for (uint8_t b : bytes)
        m_output.push_back({b, HeldByAdapter(start + WireTimeUs(baud, ++sent)), baud});
    m_txFreeUs = start + WireTimeUs(baud, sent);
}

uint64_t CBootLoader::HeldByAdapter(uint64_t arrivalUs)
{
    if (m_adapterLatencyUs == 0) return arrivalUs;
    if (m_adapterTickUs < arrivalUs) {
        // The timer fired meanwhile and took what it held.
        m_adapterTickUs += ((arrivalUs - m_adapterTickUs) / m_adapterLatencyUs + 1) * m_adapterLatencyUs;
        m_adapterHeld = 0;
    }
    if (++m_adapterHeld < kUsbPacketBytes) return m_adapterTickUs;
    // A full packet leaves now, the bytes held before this one with it.
    for (auto it = m_output.rbegin(); it != m_output.rend() && --m_adapterHeld > 0; ++it)
        it->arrivalUs = arrivalUs;
    m_adapterHeld = 0;
    m_adapterTickUs = arrivalUs + m_adapterLatencyUs;
    return arrivalUs;
}

void CBootLoader::CountFrame(uint8_t code)
{
    switch (code) {
    case kCmdPageProgram:
        ++m_counters.pageFrames;
        break;
    case kCmdEraseAll:
        if (m_frame[1] == kEraseConfirm) ++m_counters.eraseCommands;
        break;
    case kCmdPageRead:
        ++m_counters.pageReads;
        break;
    case kCmdReadStatus:
        ++m_counters.statusRequests;
        break;
    default:
        break;
    }
}

void CBootLoader::EraseAll(uint64_t atUs)
{
    const uint64_t startUs = std::max(atUs, m_busyUntilUs);
    m_busyUntilUs = startUs + uint64_t{m_config.eraseTimeMs} * 1000;
    if (m_failErase) {
        m_srd1Errors |= kSrd1EraseError;
        AddEvent(WireEvent::Erase, atUs, 0, "failed");
        return;
    }
    m_flashBeforeErase = std::exchange(m_flash, {});
    m_erase = {startUs, m_busyUntilUs};
    if (m_eraseLeavesPage) {
        if (auto kept = m_flashBeforeErase.find(*m_eraseLeavesPage); kept != m_flashBeforeErase.end())
            m_flash.insert(*kept);
    }
    AddEvent(WireEvent::Erase, atUs, 0, "ok");
}

void CBootLoader::ProgramPage(uint32_t page, const uint8_t* data, uint64_t atUs)
{
    const uint64_t startUs = std::max(atUs, m_busyUntilUs);
    m_busyUntilUs = startUs + uint64_t{m_config.programTimeMs} * 1000;
    if (m_busyAfterPageMs) m_readyAtUs = atUs + uint64_t{m_busyAfterPageMs} * 1000;
    if (std::find(m_failingPages.begin(), m_failingPages.end(), page) != m_failingPages.end()) {
        m_srd1Errors |= kSrd1ProgramError;
        AddEvent(WireEvent::PageProgrammed, atUs, page, "failed");
        return;
    }
    m_pageInProgress = page;
    m_pageProgram = {startUs, m_busyUntilUs};
    if (auto it = m_flash.find(page); it != m_flash.end())
        m_pageBefore = it->second;
    else
        m_pageBefore.fill(0xFF);
    bool overZero = false;
    const bool allBlank = std::all_of(data, data + kPageSize, [](uint8_t b) { return b == 0xFF; });
    if (!allBlank || m_flash.count(page)) {
        auto [it, fresh] = m_flash.try_emplace(page);
        if (fresh) it->second.fill(0xFF);
        for (uint32_t i = 0; i < kPageSize; ++i) {
            // Programming only pulls bits to 0; a 1 wanted over a 0 stays 0 and is an error.
            if (data[i] & ~it->second[i]) overZero = true;
            it->second[i] &= data[i];
        }
    }
    for (auto stuck = m_stuckBytes.lower_bound(page);
         stuck != m_stuckBytes.end() && stuck->first < page + kPageSize; ++stuck) {
        auto [it, fresh] = m_flash.try_emplace(page);
        if (fresh) it->second.fill(0xFF);
        it->second[stuck->first - page] = stuck->second;
    }
    if (overZero) m_srd1Errors |= kSrd1ProgramError;
    m_programmed.push_back(page);
    AddEvent(WireEvent::PageProgrammed, atUs, page, overZero ? "failed" : "ok");
}

void CBootLoader::CheckId(uint64_t atUs)
{
    const size_t count = m_frame[4];
    const bool match = count == m_config.id.size() &&
                       std::equal(m_config.id.begin(), m_config.id.end(), m_frame.begin() + kIdHeaderLength);
    m_srd2 = static_cast<uint8_t>((m_srd2 & ~kSrd2IdField) | (match ? 0x0C : 0x04));
    AddEvent(WireEvent::IdResult, atUs, 0, match ? "match" : "mismatch");
}

void CBootLoader::Download(uint64_t atUs)
{
    m_download.assign(m_frame.begin() + kDownloadHeaderLength, m_frame.end());
    uint8_t sum = 0;
    for (uint8_t b : m_download)
        sum = static_cast<uint8_t>(sum + b);
    const bool match = sum == m_frame[3];
    if (match)
        m_srd2 |= kSrd2ChecksumMatch;
    else
        m_srd2 &= static_cast<uint8_t>(~kSrd2ChecksumMatch);
    AddEvent(WireEvent::Note, atUs, 0, match ? "download checksum match" : "download checksum mismatch");
}

std::vector<DeviceByte> CBootLoader::TakeOutput(uint64_t nowUs)
{
    std::lock_guard lock(m_mutex);
    m_lastUs = std::max(m_lastUs, nowUs);
    ApplyPendingBaud(nowUs);
    std::vector<DeviceByte> due;
    while (!m_output.empty() && m_output.front().arrivalUs <= nowUs) {
        due.push_back(m_output.front());
        m_output.pop_front();
    }
    return due;
}

std::optional<uint64_t> CBootLoader::NextOutputUs() const
{
    std::lock_guard lock(m_mutex);
    if (m_output.empty()) return std::nullopt;
    return m_output.front().arrivalUs;
}

bool CBootLoader::TakeLineError()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_lineError, false);
}

void CBootLoader::PowerCycleAt(uint64_t atUs)
{
    CutPower(atUs);
    RestorePower(atUs);
    AddEvent(WireEvent::PowerCycle, atUs);
}

void CBootLoader::CutPower(uint64_t atUs)
{
    // Whatever was still on its way out is cut off with the supply.
    while (!m_output.empty() && m_output.back().arrivalUs > atUs)
        m_output.pop_back();
    if (atUs < m_erase.untilUs) {
        // The erase works up from the lowest block; the pages it had not reached keep their data.
        const uint64_t doneUs = atUs - std::min(atUs, m_erase.fromUs);
        const size_t reached =
            static_cast<size_t>(m_flashBeforeErase.size() * doneUs / (m_erase.untilUs - m_erase.fromUs));
        size_t index = 0;
        for (const auto& [page, data] : m_flashBeforeErase)
            if (index++ >= reached) m_flash[page] = data;
        AddEvent(WireEvent::Note, atUs, 0, "erase cut off");
    }
    m_erase = {};
    m_flashBeforeErase.clear();
    if (atUs < m_pageProgram.untilUs) {
        const uint64_t doneUs = atUs - std::min(atUs, m_pageProgram.fromUs);
        const size_t written =
            static_cast<size_t>(kPageSize * doneUs / (m_pageProgram.untilUs - m_pageProgram.fromUs));
        auto [it, fresh] = m_flash.try_emplace(m_pageInProgress);
        if (fresh) it->second.fill(0xFF);
        std::copy(m_pageBefore.begin() + written, m_pageBefore.end(), it->second.begin() + written);
        AddEvent(WireEvent::Note, atUs, m_pageInProgress, "page program cut off");
    }
    m_pageProgram = {};
    m_frame.clear();
    m_busyUntilUs = 0;
    m_readyAtUs = 0;
    m_pendingBaud = 0;
    m_poweredOn = false;
}

void CBootLoader::RestorePower(uint64_t atUs)
{
    m_baud = kPowerOnBaud;
    m_pendingBaud = 0;
    m_srd1Errors = 0;
    m_srd2 = m_config.idVerifiedAtStart ? kSrd2IdField : 0;
    m_busyUntilUs = 0;
    m_readyAtUs = 0;
    m_txFreeUs = atUs;
    m_frame.clear();
    m_programmed.clear();
    m_download.clear();
    m_poweredOn = true;
}

void CBootLoader::PowerOff()
{
    std::lock_guard lock(m_mutex);
    if (!m_poweredOn) return;
    const uint64_t nowUs = NowUs();
    CutPower(nowUs);
    AddEvent(WireEvent::Note, nowUs, 0, "power off");
}

void CBootLoader::PowerOn()
{
    std::lock_guard lock(m_mutex);
    if (m_poweredOn) return;
    const uint64_t nowUs = NowUs();
    RestorePower(nowUs);
    AddEvent(WireEvent::Note, nowUs, 0, "power on");
}

bool CBootLoader::PoweredOn() const
{
    std::lock_guard lock(m_mutex);
    return m_poweredOn;
}

void CBootLoader::EraseLeavesPage(uint32_t pageAddress)
{
    std::lock_guard lock(m_mutex);
    m_eraseLeavesPage = pageAddress & ~(kPageSize - 1);
}

void CBootLoader::SetBusyAfterPageMs(uint32_t milliseconds)
{
    std::lock_guard lock(m_mutex);
    m_busyAfterPageMs = milliseconds;
}

FrameCounters CBootLoader::Counters() const
{
    std::lock_guard lock(m_mutex);
    return m_counters;
}

void CBootLoader::ResetCounters()
{
    std::lock_guard lock(m_mutex);
    m_counters = {};
}

uint8_t CBootLoader::ReadFlash(uint32_t address) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_flash.find(address & ~(kPageSize - 1));
    return it == m_flash.end() ? 0xFF : it->second[address % kPageSize];
}

void CBootLoader::WriteFlash(uint32_t address, uint8_t value)
{
    std::lock_guard lock(m_mutex);
    auto [it, fresh] = m_flash.try_emplace(address & ~(kPageSize - 1));
    if (fresh) it->second.fill(0xFF);
    it->second[address % kPageSize] = value;
}

std::vector<uint8_t> CBootLoader::ReadFlashRange(uint32_t start, uint32_t length) const
{
    std::lock_guard lock(m_mutex);
    std::vector<uint8_t> bytes(length);
    for (uint32_t i = 0; i < length; ++i)
        bytes[i] = ReadFlash(start + i);
    return bytes;
}

std::vector<uint32_t> CBootLoader::NonBlankPages() const
{
    std::lock_guard lock(m_mutex);
    std::vector<uint32_t> pages;
    for (const auto& [page, data] : m_flash)
        if (std::any_of(data.begin(), data.end(), [](uint8_t b) { return b != 0xFF; })) pages.push_back(page);
    return pages;
}

std::vector<uint32_t> CBootLoader::ProgrammedPages() const
{
    std::lock_guard lock(m_mutex);
    return m_programmed;
}

uint32_t CBootLoader::Baud() const
{
    std::lock_guard lock(m_mutex);
    return BaudAt(NowUs());
}

bool CBootLoader::Busy() const
{
    std::lock_guard lock(m_mutex);
    const uint64_t nowUs = NowUs();
    return nowUs < m_busyUntilUs || nowUs < m_readyAtUs;
}

uint8_t CBootLoader::Srd1() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<uint8_t>((Busy() ? 0 : kSrd1Ready) | m_srd1Errors);
}

uint8_t CBootLoader::Srd2() const
{
    std::lock_guard lock(m_mutex);
    return m_srd2;
}

bool CBootLoader::IdVerified() const
{
    std::lock_guard lock(m_mutex);
    return (m_srd2 & kSrd2IdField) == kSrd2IdField;
}

const std::vector<uint8_t>& CBootLoader::DownloadedProgram() const
{
    std::lock_guard lock(m_mutex);
    return m_download;
}

void CBootLoader::SetSilent(bool silent)
{
    std::lock_guard lock(m_mutex);
    m_silent = silent;
    m_silentAfter.reset();
}

void CBootLoader::SilentAfterBytes(uint32_t count)
{
    std::lock_guard lock(m_mutex);
    m_silentAfter = count;
}

void CBootLoader::RefuseBaudCode(uint8_t code)
{
    std::lock_guard lock(m_mutex);
    m_refusedBaudCodes.push_back(code);
}

void CBootLoader::FailProgramAtPage(uint32_t pageAddress)
{
    std::lock_guard lock(m_mutex);
    m_failingPages.push_back(pageAddress & ~(kPageSize - 1));
}

void CBootLoader::StickByte(uint32_t address, uint8_t value)
{
    std::lock_guard lock(m_mutex);
    m_stuckBytes[address] = value;
}

void CBootLoader::FailErase(bool fail)
{
    std::lock_guard lock(m_mutex);
    m_failErase = fail;
}

void CBootLoader::PowerCycleAfterBytes(uint32_t count)
{
    std::lock_guard lock(m_mutex);
    if (count == 0) {
        m_powerCycleAfter.reset();
        PowerCycleAt(NowUs());
    } else {
        m_powerCycleAfter = count;
    }
}

void CBootLoader::PowerCycleNow()
{
    std::lock_guard lock(m_mutex);
    PowerCycleAt(NowUs());
}

void CBootLoader::LineErrorOnNextRead()
{
    std::lock_guard lock(m_mutex);
    m_lineError = true;
}

void CBootLoader::SetEraseTimeMs(uint32_t milliseconds)
{
    std::lock_guard lock(m_mutex);
    m_config.eraseTimeMs = milliseconds;
}

void CBootLoader::SetProgramTimeMs(uint32_t milliseconds)
{
    std::lock_guard lock(m_mutex);
    m_config.programTimeMs = milliseconds;
}

void CBootLoader::SetVersion(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    for (size_t i = 0; i < sizeof m_config.version; ++i)
        m_config.version[i] = i < text.size() ? text[i] : ' ';
}

void CBootLoader::SetId(const std::array<uint8_t, 7>& id)
{
    std::lock_guard lock(m_mutex);
    m_config.id = id;
}

void CBootLoader::SetIdVerified(bool verified)
{
    std::lock_guard lock(m_mutex);
    m_srd2 = static_cast<uint8_t>((m_srd2 & ~kSrd2IdField) | (verified ? kSrd2IdField : 0));
}

void CBootLoader::SetIgnoreFlashUntilId(bool ignore)
{
    std::lock_guard lock(m_mutex);
    m_config.ignoreFlashUntilId = ignore;
}

void CBootLoader::SetReplyDelayMs(uint32_t milliseconds)
{
    std::lock_guard lock(m_mutex);
    m_replyDelayMs = milliseconds;
}

void CBootLoader::SetAdapterLatencyMs(uint32_t milliseconds)
{
    std::lock_guard lock(m_mutex);
    m_adapterLatencyUs = uint64_t{milliseconds} * 1000;
    m_adapterTickUs = 0;
    m_adapterHeld = 0;
}

} // namespace sim
