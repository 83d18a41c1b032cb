#include "platform/posix/TermiosDriver.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "platform/Clock.h"

namespace platform {

namespace {

struct SpeedCode
{
    uint32_t baud;
    speed_t code;
};

constexpr SpeedCode kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedFromBaud(uint32_t baud, speed_t& code)
{
    for (const SpeedCode& entry : kSpeeds) {
        if (entry.baud == baud) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

uint32_t BaudFromSpeed(speed_t code)
{
    for (const SpeedCode& entry : kSpeeds)
        if (entry.code == code) return entry.baud;
    return 0;
}

OpenError FromErrno(int err)
{
    switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return OpenError::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return OpenError::AccessDenied;
    case EBUSY:
    case EWOULDBLOCK:
        return OpenError::InUse;
    case EISDIR:
    case ENOTDIR:
    case ENOTTY:
        return OpenError::NotATerminal;
    default:
        return OpenError::Other;
    }
}

// What the kernel answers on a descriptor whose device went away: a USB adapter pulled
// out (EIO once the tty is hung up, ENODEV or ENXIO from its driver), a pseudo-terminal
// whose other side ended.
bool MeansDeviceGone(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV;
}

} // namespace

CTermiosDriver::CTermiosDriver(OpenKey, CUniqueFd fd, std::filesystem::path path, dev_t node)
    : m_fd(std::move(fd)), m_path(std::move(path)), m_node(node)
{
    m_hasCounts = ReadCounts(m_counts);
}

bool CTermiosDriver::Failed() const
{
    if (MeansDeviceGone(errno)) m_lost = true;
    return false;
}

bool CTermiosDriver::Lost() const
{
    if (m_lost) return true;
    // A device that goes leaves its old descriptor working on some drivers; its node tells.
    struct stat info = {};
    if (stat(m_path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR || MeansDeviceGone(errno)) m_lost = true;
    } else if (!S_ISCHR(info.st_mode) || info.st_rdev != m_node) {
        m_lost = true;
    }
    return m_lost;
}

namespace {
// USB-serial adapters otherwise hold received bytes for their latency timer (often
// 16 ms), which every page's two-byte status reply would wait out. Drivers without
// the request simply keep their timing.
void RequestLowLatency(int fd)
{
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    if (serial.flags & ASYNC_LOW_LATENCY) return;
    serial.flags |= ASYNC_LOW_LATENCY;
    (void)ioctl(fd, TIOCSSERIAL, &serial);
}
} // namespace

bool IsTerminalDevice(dev_t device)
{
    // Pseudo-terminal slaves have no entry under /sys/dev/char; their majors are fixed.
    constexpr unsigned kFirstPtySlaveMajor = 136, kPtySlaveMajors = 8;
    const unsigned major = ::major(device);
    if (major >= kFirstPtySlaveMajor && major < kFirstPtySlaveMajor + kPtySlaveMajors) return true;
    // Opening a device can act by itself (a watchdog starts counting): the kernel's class of
    // the device is asked first, and only a terminal is opened.
    const std::string entry =
        "/sys/dev/char/" + std::to_string(major) + ":" + std::to_string(::minor(device)) + "/subsystem";
    std::error_code ec;
    const std::filesystem::path subsystem = std::filesystem::read_symlink(entry, ec);
    return !ec && subsystem.filename() == "tty";
}

CTermiosDriver::~CTermiosDriver()
{
    // The exclusive mark outlives this descriptor while another one keeps the device
    // open (a simulator's own side): lift it so that the port can be opened again.
    if (m_fd.Valid()) (void)ioctl(m_fd.Get(), TIOCNXCL);
}

std::unique_ptr<ISerialDriver> CTermiosDriver::Open(const std::filesystem::path& path, OpenError& error)
{
    // Look before opening: opening some device nodes has effects of its own, and a
    // regular file would be destroyed by the frames written into it.
    struct stat info = {};
    if (stat(path.c_str(), &info) != 0) {
        error = FromErrno(errno);
        return nullptr;
    }
    if (!S_ISCHR(info.st_mode) || !IsTerminalDevice(info.st_rdev)) {
        error = OpenError::NotATerminal;
        return nullptr;
    }
    CUniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) {
        error = FromErrno(errno);
        return nullptr;
    }
    if (fstat(fd.Get(), &info) != 0 || !S_ISCHR(info.st_mode) || !isatty(fd.Get())) {
        error = OpenError::NotATerminal;
        return nullptr;
    }
    // TIOCEXCL does not keep root out; a lock on the device does, across processes
    // and through any alias of it.
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? OpenError::InUse : FromErrno(errno);
        return nullptr;
    }
    // flock binds only programs that use it: a terminal program or a desktop's modem
    // manager probing a new USB adapter would still open the port and take bytes of
    // the exchange. The kernel refuses them every further open while we hold it.
    if (ioctl(fd.Get(), TIOCEXCL) != 0) {
        error = FromErrno(errno);
        return nullptr;
    }
    RequestLowLatency(fd.Get());
    termios tio{};
    if (tcgetattr(fd.Get(), &tio) != 0) {
        error = OpenError::NotATerminal;
        return nullptr;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // Reads never block (O_NONBLOCK); VMIN only decides when poll reports input.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd.Get(), TCSANOW, &tio) != 0) {
        error = FromErrno(errno);
        return nullptr;
    }
    error = OpenError::None;
    return std::make_unique<CTermiosDriver>(OpenKey{}, std::move(fd), path, info.st_rdev);
}

bool CTermiosDriver::GetSettings(SerialLineSettings& settings)
{
    termios tio{};
    if (m_lost) return false;
    if (tcgetattr(m_fd.Get(), &tio) != 0) return Failed();
    settings.baudRate = BaudFromSpeed(cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        settings.byteSize = 5;
        break;
    case CS6:
        settings.byteSize = 6;
        break;
    case CS7:
        settings.byteSize = 7;
        break;
    default:
        settings.byteSize = 8;
        break;
    }
    settings.parity = 0;
    if (tio.c_cflag & PARENB) {
        const bool odd = (tio.c_cflag & PARODD) != 0;
        settings.parity = odd ? 1 : 2;
#ifdef CMSPAR
        if (tio.c_cflag & CMSPAR) settings.parity = odd ? 3 : 4;
#endif
    }
    settings.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
    return true;
}

bool CTermiosDriver::SetSettings(const SerialLineSettings& settings)
{
    termios tio{};
    if (m_lost) return false;
    if (tcgetattr(m_fd.Get(), &tio) != 0) return Failed();
    const termios before = tio;

    speed_t speed = 0;
    if (!SpeedFromBaud(settings.baudRate, speed)) return false;

    tcflag_t size = 0;
    switch (settings.byteSize) {
    case 5:
        size = CS5;
        break;
    case 6:
        size = CS6;
        break;
    case 7:
        size = CS7;
        break;
    case 8:
        size = CS8;
        break;
    default:
        return false;
    }

    tcflag_t parity = 0;
    switch (settings.parity) {
    case 0:
        break;
    case 1:
        parity = PARENB | PARODD;
        break;
    case 2:
        parity = PARENB;
        break;
#ifdef CMSPAR
    case 3:
        parity = PARENB | PARODD | CMSPAR;
        break;
    case 4:
        parity = PARENB | CMSPAR;
        break;
#endif
    default:
        return false;
    }

    tcflag_t stop = 0;
    switch (settings.stopBits) {
    case 0:
        break;
    case 1: // one and a half: the nearest the hardware offers
    case 2:
        stop = CSTOPB;
        break;
    default:
        return false;
    }

    tcflag_t mask = CSIZE | PARENB | PARODD | CSTOPB;
#ifdef CMSPAR
    mask |= CMSPAR;
#endif
    tio.c_cflag = (tio.c_cflag & ~mask) | size | parity | stop;
    if (parity != 0) {
        tio.c_iflag |= INPCK;
    } else {
        tio.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    }
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return false;
    // tcsetattr succeeds when any part was taken; a port that ignored some of it
    // (pseudo-terminals keep 8 bits, no parity) has refused the settings.
    SerialLineSettings taken;
    const uint8_t expectedStop = settings.stopBits == 1 ? 2 : settings.stopBits;
    if (tcsetattr(m_fd.Get(), TCSANOW, &tio) != 0) return Failed();
    if (!GetSettings(taken) || taken.baudRate != settings.baudRate || taken.byteSize != settings.byteSize ||
        taken.parity != settings.parity || taken.stopBits != expectedStop) {
        tcsetattr(m_fd.Get(), TCSANOW, &before);
        return false;
    }
    return true;
}

bool CTermiosDriver::ReadCounts(ErrorCounts& counts)
{
#ifdef TIOCGICOUNT
    serial_icounter_struct icount{};
    if (ioctl(m_fd.Get(), TIOCGICOUNT, &icount) != 0) return false;
    counts.frame = icount.frame;
    counts.overrun = icount.overrun + icount.buf_overrun;
    counts.parity = icount.parity;
    counts.brk = icount.brk;
    return true;
#else
    (void)counts;
    return false;
#endif
}

bool CTermiosDriver::TakeErrors(uint32_t& errors, uint32_t& queued)
{
    errors = 0;
    queued = 0;
    {
        std::lock_guard guard(m_countsLock);
        ErrorCounts now;
        if (m_hasCounts && ReadCounts(now)) {
            if (now.frame != m_counts.frame) errors |= kLineErrorFrame;
            if (now.overrun != m_counts.overrun) errors |= kLineErrorOverrun;
            if (now.parity != m_counts.parity) errors |= kLineErrorParity;
            if (now.brk != m_counts.brk) errors |= kLineErrorBreak;
            m_counts = now;
        }
    }
    int length = 0;
    if (m_lost) return false;
    if (ioctl(m_fd.Get(), FIONREAD, &length) != 0) return Failed();
    queued = length > 0 ? static_cast<uint32_t>(length) : 0;
    return true;
}

int CTermiosDriver::Read(uint8_t* buffer, uint32_t count)
{
    if (m_lost) return -1;
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = read(m_fd.Get(), buffer + done, count - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || errno == EAGAIN) break;
        Failed();
        return done > 0 ? static_cast<int>(done) : -1;
    }
    return static_cast<int>(done);
}

int64_t CTermiosDriver::CharacterMicroseconds()
{
    SerialLineSettings settings;
    if (!GetSettings(settings) || settings.baudRate == 0) return 1000;
    return std::max<int64_t>(1, static_cast<int64_t>(BitsPerCharacter()) * 1'000'000 / settings.baudRate);
}

uint32_t CTermiosDriver::BitsPerCharacter()
{
    SerialLineSettings settings;
    if (!GetSettings(settings)) return 10;
    uint32_t bits = 1 + settings.byteSize + (settings.parity != 0 ? 1 : 0);
    bits += settings.stopBits != 0 ? 2 : 1;
    return bits;
}

int CTermiosDriver::Write(const uint8_t* buffer, uint32_t count)
{
    // Measured on the steady clock in microseconds: a whole-millisecond floor would add
    // up to a millisecond to every frame, and an upgrade has 256 of them.
    const auto start = std::chrono::steady_clock::now();
    if (m_lost) return -1;
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = write(m_fd.Get(), buffer + done, count - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd pfd{m_fd.Get(), POLLOUT, 0};
            if (poll(&pfd, 1, -1) < 0 && errno != EINTR) return -1;
            if (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) {
                m_lost = true;
                return -1;
            }
            continue;
        }
        Failed();
        return -1;
    }
    tcdrain(m_fd.Get());

    // Some drivers (pseudo-terminals, some USB adapters) report an empty buffer while
    // the bytes are still on their way; the protocol's timing needs them gone.
    SerialLineSettings settings;
    if (count > 0 && GetSettings(settings) && settings.baudRate > 0) {
        const uint64_t bits = static_cast<uint64_t>(count) * BitsPerCharacter();
        const auto wire =
            std::chrono::microseconds((bits * 1'000'000 + settings.baudRate - 1) / settings.baudRate);
        std::this_thread::sleep_until(start + wire);
    }
    return static_cast<int>(done);
}

bool CTermiosDriver::DiscardInput()
{
    if (m_lost) return false;
    return tcflush(m_fd.Get(), TCIFLUSH) == 0 || Failed();
}

bool CTermiosDriver::RaiseDtr()
{
    int bits = TIOCM_DTR;
    return ioctl(m_fd.Get(), TIOCMBIS, &bits) == 0;
}

void CTermiosDriver::SetWakeCount(uint32_t count)
{
    if (count == m_wakeCount) return;
    termios tio{};
    if (tcgetattr(m_fd.Get(), &tio) != 0) return;
    tio.c_cc[VMIN] = static_cast<cc_t>(count);
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(m_fd.Get(), TCSANOW, &tio) == 0) m_wakeCount = count;
}

WaitResult CTermiosDriver::WaitForInput(uint32_t queued, uint32_t wanted, uint32_t milliseconds)
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + std::chrono::milliseconds(milliseconds);
    const uint32_t target = std::max(wanted, queued + 1);
    if (m_lost) return WaitResult::HungUp;
    // With VMIN at the reply's length the line discipline keeps poll asleep until the
    // whole reply is there: one wake-up a reply instead of one a byte, each of them late.
    // VMIN counts to 255 at most; the rest of a longer reply is timed by the wire.
    SetWakeCount(std::min<uint32_t>(target, 255));
    for (;;) {
        int length = 0;
        if (ioctl(m_fd.Get(), FIONREAD, &length) != 0) {
            Failed();
            return WaitResult::HungUp;
        }
        if (length >= static_cast<int64_t>(target)) return WaitResult::Ready;

        const int64_t leftUs = duration_cast<microseconds>(deadline - steady_clock::now()).count();
        if (leftUs <= 0) return WaitResult::Timeout;
        const bool counted = length < static_cast<int64_t>(m_wakeCount);
        pollfd pfd{m_fd.Get(), static_cast<short>(counted ? POLLIN : 0), 0};
        const int64_t napUs =
            counted ? leftUs : std::min<int64_t>(leftUs, (target - length) * CharacterMicroseconds());
        timespec timeout{static_cast<time_t>(napUs / 1'000'000), static_cast<long>(napUs % 1'000'000) * 1000};
        const int ready = ppoll(&pfd, 1, &timeout, nullptr);
        if (ready < 0 && errno != EINTR) {
            Failed();
            return WaitResult::HungUp;
        }
        if (ready > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            // Bytes that arrived before the hang-up are still worth reading.
            if (ioctl(m_fd.Get(), FIONREAD, &length) == 0 && length > static_cast<int64_t>(queued))
                return WaitResult::Ready;
            // We keep CLOCAL set: a hang-up here is the device going, not a carrier.
            m_lost = true;
            return WaitResult::HungUp;
        }
        if (m_hasCounts) {
            std::lock_guard guard(m_countsLock);
            ErrorCounts now;
            if (ReadCounts(now) && (now.frame != m_counts.frame || now.overrun != m_counts.overrun ||
                                    now.parity != m_counts.parity || now.brk != m_counts.brk))
                return WaitResult::Ready;
        }
    }
}

} // namespace platform
