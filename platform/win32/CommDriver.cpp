#include "platform/win32/CommDriver.h"

#include <algorithm>
#include <string_view>
#include <thread>

#include "platform/Paths.h"

namespace platform {

namespace {

thread_local DWORD t_lastOpenFailure = 0;

OpenError FromLastError(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_NAME:
        return OpenError::NotFound;
    case ERROR_ACCESS_DENIED: // what Windows says for a COM port that another program holds
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return OpenError::InUse;
    default:
        return OpenError::Other;
    }
}

// Returns at once with whatever is queued.
constexpr COMMTIMEOUTS kNoWait{MAXDWORD, 0, 0, 0, 0};

constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;
constexpr WORD kFlowLimit = 1024; // a quarter of the usual 4 KiB queue

// Beyond each frame's own wire time: a driver that takes nothing for this long is stuck.
constexpr DWORD kWriteSlackMs = 1000;

uint32_t TranslateErrors(DWORD errors)
{
    return errors & (CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK | CE_RXOVER);
}

// What the USB-serial drivers answer on a handle whose adapter was pulled out: the handle
// stays valid and is never good again.
bool MeansDeviceGone(DWORD code)
{
    return code == ERROR_ACCESS_DENIED || code == ERROR_BAD_COMMAND || code == ERROR_DEVICE_REMOVED ||
           code == ERROR_DEVICE_NOT_CONNECTED;
}

// Timed reads that return at once with nothing, in a row, before the handle is asked
// whether it still answers at all: some drivers lose their device without an error code.
constexpr int kEmptyReturnsOfAGoneDevice = 8;

} // namespace

CCommDriver::CCommDriver(OpenKey, win32::CFileHandle handle, win32::CKernelHandle portLock)
    : m_handle(std::move(handle)), m_portLock(std::move(portLock))
{
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif
    m_timer.Reset(
        CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS));
    if (!m_timer.Valid()) m_timer.Reset(CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS));
}

bool CCommDriver::Failed()
{
    if (MeansDeviceGone(GetLastError())) m_lost = true;
    return false;
}

void CCommDriver::WaitUntil(std::chrono::steady_clock::time_point until)
{
    using namespace std::chrono;
    // The timer fires late by a fairly steady amount (about 0.8 ms under Wine); it is
    // set that much early, learnt from the last waits, and the few microseconds left
    // when it fires early are yielded away. So a frame ends on time without spinning.
    for (auto now = steady_clock::now(); now < until; now = steady_clock::now()) {
        const int64_t leftUs = duration_cast<microseconds>(until - now).count();
        if (leftUs <= m_timerLateUs / 4 + 50 || !m_timer.Valid()) {
            std::this_thread::yield();
            continue;
        }
        const int64_t aimUs = std::max<int64_t>(leftUs - m_timerLateUs, 1);
        LARGE_INTEGER due;
        due.QuadPart = -aimUs * 10; // relative, in 100 ns
        if (!SetWaitableTimer(m_timer.Get(), &due, 0, nullptr, nullptr, FALSE) ||
            WaitForSingleObject(m_timer.Get(), INFINITE) != WAIT_OBJECT_0) {
            std::this_thread::sleep_for(until - now);
            continue;
        }
        const int64_t lateUs = duration_cast<microseconds>(steady_clock::now() - now).count() - aimUs;
        m_timerLateUs = std::clamp<int64_t>((m_timerLateUs * 3 + lateUs) / 4, 0, 1000);
    }
}

unsigned ComDeviceNumber(const std::string& name)
{
    // "\\.\COM12" as some tools print it names the same port as "COM12".
    constexpr std::string_view kDevicePrefix = "\\\\.\\";
    if (name.size() > kDevicePrefix.size() && name.compare(0, kDevicePrefix.size(), kDevicePrefix) == 0)
        return ComPortNumber(name.substr(kDevicePrefix.size()));
    return ComPortNumber(name);
}

namespace {

// One name per port, held while it is open. Without it we would have no guard against
// a second opener on drivers that allow one, so an open that cannot make it fails.
win32::CKernelHandle LockPort(unsigned comNumber, OpenError& error)
{
    const std::wstring name = L"Local\\torvane-port-COM" + std::to_wstring(comNumber);
    win32::CKernelHandle lock(CreateMutexW(nullptr, FALSE, name.c_str()));
    const DWORD code = GetLastError();
    if (lock.Valid() && code == ERROR_ALREADY_EXISTS) {
        lock.Reset();
        error = OpenError::InUse;
    } else if (!lock.Valid()) {
        // Denied: it exists and belongs to a program running with other rights.
        error = code == ERROR_ACCESS_DENIED ? OpenError::InUse : OpenError::Other;
    }
    return lock;
}

} // namespace

OpenError CCommDriver::NoteOpenFailure(DWORD code)
{
    t_lastOpenFailure = code;
    return FromLastError(code);
}

std::string CCommDriver::LastOpenFailureText()
{
    return t_lastOpenFailure ? win32::ErrorText(t_lastOpenFailure) : std::string();
}

std::unique_ptr<ISerialDriver> CCommDriver::Open(unsigned comNumber, OpenError& error)
{
    error = OpenError::None;
    t_lastOpenFailure = 0;
    win32::CKernelHandle portLock = LockPort(comNumber, error);
    if (!portLock.Valid()) return nullptr;
    const std::wstring device = L"\\\\.\\COM" + std::to_wstring(comNumber);
    // Identification only: should the name ever lead to a pipe, its server cannot act
    // as this user.
    win32::CFileHandle handle(
        CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (!handle.Valid()) {
        error = NoteOpenFailure(GetLastError());
        return nullptr;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle.Get(), &dcb)) { // what answers this is a serial port
        error = OpenError::NotATerminal;
        return nullptr;
    }
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    // Unused with flow control off, but some virtual COM drivers report 0 for both
    // characters and then refuse their own state back (XON equal to XOFF).
    dcb.XonChar = kXon;
    dcb.XoffChar = kXoff;
    dcb.XonLim = kFlowLimit;
    dcb.XoffLim = kFlowLimit;
    if (!SetCommState(handle.Get(), &dcb)) {
        NoteOpenFailure(GetLastError());
        error = OpenError::Other;
        return nullptr;
    }
    auto driver = std::make_unique<CCommDriver>(OpenKey{}, std::move(handle), std::move(portLock));
    driver->SizeWriteTimeout(dcb.BaudRate);
    if (!driver->SetTimeouts(kNoWait)) {
        error = OpenError::Other;
        return nullptr;
    }
    return driver;
}

bool CCommDriver::SetTimeouts(const COMMTIMEOUTS& readTimeouts)
{
    COMMTIMEOUTS timeouts = readTimeouts;
    timeouts.WriteTotalTimeoutMultiplier = m_writeMsPerByte;
    timeouts.WriteTotalTimeoutConstant = kWriteSlackMs;
    if (m_timeoutsKnown && memcmp(&timeouts, &m_timeouts, sizeof timeouts) == 0) return true;
    if (!SetCommTimeouts(m_handle.Get(), &timeouts)) return false;
    m_timeouts = timeouts;
    m_timeoutsKnown = true;
    return true;
}

void CCommDriver::SizeWriteTimeout(uint32_t baudRate)
{
    // Twelve bits a character covers every framing; a whole millisecond at least.
    m_writeMsPerByte = baudRate > 0 ? std::max<DWORD>(1, (12 * 1000 + baudRate - 1) / baudRate) : 12;
}

bool CCommDriver::GetSettings(SerialLineSettings& settings)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (m_lost) return false;
    if (!GetCommState(m_handle.Get(), &dcb)) return Failed();
    // The record's codes are the DCB's own.
    settings.baudRate = dcb.BaudRate;
    settings.byteSize = dcb.ByteSize;
    settings.parity = dcb.Parity;
    settings.stopBits = dcb.StopBits;
    return true;
}

bool CCommDriver::SetSettings(const SerialLineSettings& settings)
{
    if (settings.baudRate == 0 || settings.byteSize < 5 || settings.byteSize > 8 || settings.parity > 4 ||
        settings.stopBits > 2)
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (m_lost) return false;
    if (!GetCommState(m_handle.Get(), &dcb)) return Failed();
    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = settings.byteSize;
    dcb.Parity = settings.parity;
    dcb.StopBits = settings.stopBits;
    dcb.fParity = settings.parity != NOPARITY;
    if (!SetCommState(m_handle.Get(), &dcb)) return Failed();
    SizeWriteTimeout(settings.baudRate);
    // The speed is set either way; should the driver refuse the new write limit, the old
    // one only makes a slow write come back in parts, which Write offers again.
    SetTimeouts(m_timeoutsKnown ? m_timeouts : kNoWait);
    return true;
}

bool CCommDriver::TakeErrors(uint32_t& errors, uint32_t& queued)
{
    DWORD flags = 0;
    COMSTAT status{};
    errors = 0;
    queued = 0;
    if (m_lost || !ClearCommError(m_handle.Get(), &flags, &status)) return Failed();
    errors = TranslateErrors(flags) | m_pendingErrors;
    m_pendingErrors = 0;
    queued = status.cbInQue + static_cast<uint32_t>(m_pending.size());
    return true;
}

bool CCommDriver::ReadIntoPending(uint32_t count, const COMMTIMEOUTS& timeouts)
{
    if (count == 0) return true;
    if (!SetTimeouts(timeouts)) return false;
    const size_t before = m_pending.size();
    m_pending.resize(before + count);
    DWORD n = 0;
    const BOOL ok = ReadFile(m_handle.Get(), m_pending.data() + before, count, &n, nullptr);
    if (!ok) Failed();
    m_pending.resize(before + (ok ? n : 0));
    return ok != FALSE;
}

int CCommDriver::Read(uint8_t* buffer, uint32_t count)
{
    uint32_t done = std::min<uint32_t>(count, static_cast<uint32_t>(m_pending.size()));
    std::copy_n(m_pending.begin(), done, buffer);
    m_pending.erase(m_pending.begin(), m_pending.begin() + done);
    if (done == count) return static_cast<int>(done);
    DWORD n = 0;
    if (m_lost || !SetTimeouts(kNoWait) ||
        !ReadFile(m_handle.Get(), buffer + done, count - done, &n, nullptr)) {
        Failed();
        return done > 0 ? static_cast<int>(done) : -1;
    }
    return static_cast<int>(done + n);
}

uint32_t CCommDriver::BitsPerCharacter()
{
    SerialLineSettings settings;
    if (!GetSettings(settings)) return 10;
    return 1 + settings.byteSize + (settings.parity != 0 ? 1 : 0) + (settings.stopBits != 0 ? 2 : 1);
}

int CCommDriver::Write(const uint8_t* buffer, uint32_t count)
{
    using namespace std::chrono;
    const auto start = steady_clock::now();
    // The write time-out ends a WriteFile that the driver cannot finish; should it report
    // fewer bytes (Wine has been seen to report 0 of 1 byte right after a purge, the byte
    // leaving later), the rest is offered again. Only a failure or a port that takes
    // nothing for 2 s ends the write.
    uint32_t done = 0;
    auto lastProgress = start;
    if (m_lost) return -1;
    while (done < count) {
        DWORD n = 0;
        if (!WriteFile(m_handle.Get(), buffer + done, count - done, &n, nullptr)) {
            Failed();
            return done > 0 ? static_cast<int>(done) : -1;
        }
        const auto now = steady_clock::now();
        if (n > 0) {
            done += n;
            lastProgress = now;
            continue;
        }
        if (now - lastProgress > seconds(2)) {
            m_lost = true; // a handle that takes nothing for so long no longer answers
            return done > 0 ? static_cast<int>(done) : -1;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    if (count == 0) return 0;

    // The protocol's timing needs the bytes gone from the wire. FlushFileBuffers would
    // say so but stalls on some USB drivers; the output queue running empty is asked
    // instead, and the wire time waited out, since many drivers empty their queue into
    // the adapter before the bytes are sent.
    SerialLineSettings settings;
    const uint32_t baudRate = GetSettings(settings) && settings.baudRate > 0 ? settings.baudRate : 9600;
    const uint64_t bits = static_cast<uint64_t>(count) * BitsPerCharacter();
    const auto wire = microseconds((bits * 1'000'000 + baudRate - 1) / baudRate);
    WaitUntil(start + wire);
    const auto giveUp = start + wire + milliseconds(kWriteSlackMs);
    for (;;) {
        DWORD flags = 0;
        COMSTAT status{};
        if (!ClearCommError(m_handle.Get(), &flags, &status)) break;
        m_pendingErrors |= TranslateErrors(flags);
        if (status.cbOutQue == 0 || steady_clock::now() >= giveUp) break;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return static_cast<int>(done);
}

bool CCommDriver::DiscardInput()
{
    m_pending.clear();
    if (m_lost) return false;
    return PurgeComm(m_handle.Get(), PURGE_RXCLEAR) != FALSE || Failed();
}

bool CCommDriver::RaiseDtr()
{
    return EscapeCommFunction(m_handle.Get(), SETDTR) != FALSE;
}

WaitResult CCommDriver::WaitForInput(uint32_t queued, uint32_t wanted, uint32_t milliseconds)
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + std::chrono::milliseconds(milliseconds);
    const uint32_t target = std::max(wanted, queued + 1);
    if (m_lost) return WaitResult::HungUp;
    for (;;) {
        DWORD flags = 0;
        COMSTAT status{};
        if (!ClearCommError(m_handle.Get(), &flags, &status)) {
            Failed();
            return WaitResult::HungUp;
        }
        m_pendingErrors |= TranslateErrors(flags);
        const uint32_t have = static_cast<uint32_t>(m_pending.size()) + status.cbInQue;
        if (have >= target || m_pendingErrors != 0) return WaitResult::Ready;
        const int64_t left = duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0) return WaitResult::Timeout;
        // Blocks until the rest of the reply is there or the time is up, whichever first.
        const COMMTIMEOUTS timed{0, 0, static_cast<DWORD>(left), 0, 0};
        const size_t before = m_pending.size();
        if (!ReadIntoPending(target - have + status.cbInQue, timed)) {
            // A pulled adapter fails the read; bytes that came before it are still worth reading.
            return m_pending.size() > queued ? WaitResult::Ready : WaitResult::HungUp;
        }
        if (m_pending.size() == before && steady_clock::now() < deadline) {
            // Returned early with nothing and no error: the device is gone or misbehaves;
            // do not spin on it.
            if (++m_emptyReturns >= kEmptyReturnsOfAGoneDevice) {
                m_emptyReturns = 0;
                DCB dcb{};
                dcb.DCBlength = sizeof dcb;
                if (!GetCommState(m_handle.Get(), &dcb)) {
                    m_lost = true; // it no longer answers even for its settings
                    return WaitResult::HungUp;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else {
            m_emptyReturns = 0;
        }
    }
}

} // namespace platform
