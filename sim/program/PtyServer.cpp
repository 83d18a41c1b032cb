#include "sim/program/PtyServer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr int kIdlePollMs = 100;

uint64_t SteadyNs()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

uint32_t SpeedToBaud(speed_t speed)
{
    switch (speed) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    default:
        return 0;
    }
}

} // namespace

CPtyServer::CPtyServer(CBootLoader& device, PtyServerOptions options)
    : m_device(device), m_options(options), m_startNs(SteadyNs())
{
    m_device.SetTimeSource([this] { return NowUs(); });
}

CPtyServer::~CPtyServer()
{
    m_device.SetTimeSource({});
    if (!m_alias.empty()) {
        std::error_code ec;
        // Only our own alias: another simulator may have taken the name meanwhile.
        if (std::filesystem::read_symlink(m_alias, ec) == m_slavePath) std::filesystem::remove(m_alias, ec);
    }
}

// Offset by a second so that no time computed by the model ever goes below zero.
uint64_t CPtyServer::NowUs() const
{
    return (SteadyNs() - m_startNs) / 1000 + 1'000'000;
}

bool CPtyServer::Open(std::string& error)
{
    m_master.Reset(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (!m_master.Valid() || grantpt(m_master.Get()) != 0 || unlockpt(m_master.Get()) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ptsname(m_master.Get());
    if (!name) {
        error = "cannot name the pseudo-terminal";
        return false;
    }
    m_slavePath = name;
    // Raw before the host opens the slave, or it starts with echo and line editing.
    termios tio{};
    if (tcgetattr(m_master.Get(), &tio) != 0) {
        error = std::string("cannot read the terminal settings: ") + std::strerror(errno);
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(m_master.Get(), TCSANOW, &tio) != 0) {
        error = std::string("cannot set the terminal raw: ") + std::strerror(errno);
        return false;
    }
    m_slave.Reset(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (!m_slave.Valid()) {
        error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool CPtyServer::CreateAlias(const std::filesystem::path& alias, std::string& error)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(alias.parent_path(), ec);
    if (fs::is_symlink(fs::symlink_status(alias, ec))) fs::remove(alias, ec);
    fs::create_symlink(m_slavePath, alias, ec);
    if (ec) {
        error = "cannot create " + alias.string() + ": " + ec.message();
        return false;
    }
    m_alias = alias;
    return true;
}

uint32_t CPtyServer::HostBaud() const
{
    // The kernel keeps the slave's speed in the pair's shared settings.
    termios tio{};
    if (tcgetattr(m_master.Get(), &tio) != 0) return 0;
    return SpeedToBaud(cfgetospeed(&tio));
}

void CPtyServer::TakeHostBytes()
{
    uint8_t buffer[4096];
    const ssize_t n = ::read(m_master.Get(), buffer, sizeof buffer);
    if (n <= 0) return;
    const uint32_t baud = HostBaud();
    const uint64_t now = NowUs();
    for (ssize_t i = 0; i < n; ++i) {
        // A byte has fully arrived one character time after it started, and no earlier
        // than the byte before it ended; bytes back to back are timed from the first.
        if (now > m_lastArrivalUs || baud != m_burstBaud) {
            m_burstStartUs = std::max(now, m_lastArrivalUs);
            m_burstBaud = baud;
            m_burstCount = 0;
        }
        m_lastArrivalUs = m_burstStartUs + (m_options.realtime ? WireTimeUs(baud, ++m_burstCount) : 0);
        m_device.Receive(buffer[i], m_lastArrivalUs, baud);
        ++m_receivedCount;
        if (m_options.lineErrorAfterBytes && m_receivedCount == *m_options.lineErrorAfterBytes)
            m_device.LineErrorOnNextRead();
    }
}

void CPtyServer::DeliverDeviceBytes()
{
    const std::vector<DeviceByte> due = m_device.TakeOutput(NowUs());
    if (due.empty()) return;
    const uint32_t hostBaud = HostBaud();
    for (const DeviceByte& b : due) {
        WireEvent e;
        e.timeUs = b.arrivalUs;
        e.kind = WireEvent::DeviceToHost;
        e.byte = b.byte;
        e.hostBaud = hostBaud;
        e.deviceBaud = b.baud;
        m_device.Log(e);
        if (b.baud != hostBaud) {
            e.kind = WireEvent::Dropped;
            m_device.Log(e);
            continue;
        }
        uint8_t byte = b.byte;
        if (m_device.TakeLineError()) byte = static_cast<uint8_t>(~byte);
        for (;;) {
            if (::write(m_master.Get(), &byte, 1) == 1) break;
            if (errno != EAGAIN && errno != EINTR) break;
            pollfd pfd{m_master.Get(), POLLOUT, 0};
            ::poll(&pfd, 1, kIdlePollMs);
        }
    }
}

void CPtyServer::Run(const std::atomic<bool>& stop)
{
    while (!stop) {
        // Microsecond waits: a reply rounded up to whole milliseconds would reach the host
        // late on every page.
        uint64_t timeoutUs = static_cast<uint64_t>(kIdlePollMs) * 1000;
        if (auto next = m_device.NextOutputUs()) {
            const uint64_t now = NowUs();
            timeoutUs = *next <= now ? 0 : std::min<uint64_t>(*next - now, timeoutUs);
        }
        if (m_options.busyWait) timeoutUs = 0;
        pollfd pfd{m_master.Get(), POLLIN, 0};
        timespec timeout{static_cast<time_t>(timeoutUs / 1'000'000),
                         static_cast<long>(timeoutUs % 1'000'000) * 1000};
        const int ready = ::ppoll(&pfd, 1, &timeout, nullptr);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0 && (pfd.revents & POLLIN)) TakeHostBytes();
        DeliverDeviceBytes();
    }
}

} // namespace sim
