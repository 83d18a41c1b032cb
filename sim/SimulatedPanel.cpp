#include "sim/SimulatedPanel.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <utility>

#include "platform/Clock.h"
#include "platform/SerialDriver.h"

namespace sim {

namespace {

uint64_t NowMs()
{
    if (platform::CVirtualClock* clock = platform::VirtualClock()) return clock->Now();
    return platform::Clock().GetTickCount();
}

uint64_t CeilMs(uint64_t us)
{
    return (us + 999) / 1000;
}

} // namespace

struct CSimulatedPanel::Shared
{
    explicit Shared(BootLoaderConfig config) : device(config) {}

    std::recursive_mutex mutex;
    CBootLoader device;
    bool open = false;
    // The adapter pulled out: the name leads nowhere, and a handle opened before any pull
    // never works again, even once it is plugged back.
    bool unplugged = false;
    uint32_t plugging = 0;
    platform::SerialLineSettings host{9600, 8, 0, 0};
    uint64_t hostTxFreeUs = 0;
    std::deque<uint8_t> received;
    uint32_t errors = 0;

    // Moves what the device has fully sent by now into the host's receive queue.
    void Sync()
    {
        const uint64_t nowUs = NowMs() * 1000;
        for (const DeviceByte& b : device.TakeOutput(nowUs)) {
            WireEvent e;
            e.timeUs = b.arrivalUs;
            e.kind = WireEvent::DeviceToHost;
            e.byte = b.byte;
            e.hostBaud = host.baudRate;
            e.deviceBaud = b.baud;
            device.Log(e);
            if (b.baud != host.baudRate) {
                e.kind = WireEvent::Dropped;
                device.Log(e);
                continue;
            }
            received.push_back(b.byte);
        }
        if (device.TakeLineError()) errors |= platform::kLineErrorFrame;
    }
};

namespace {

class CSimPort final : public platform::ISerialDriver
{
public:
    explicit CSimPort(std::shared_ptr<CSimulatedPanel::Shared> shared)
        : m_shared(std::move(shared)), m_plugging(m_shared->plugging)
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->open = true;
        m_shared->Sync();
        m_shared->received.clear(); // nobody listened while the port was closed
        m_shared->errors = 0;
    }

    ~CSimPort() override
    {
        std::lock_guard lock(m_shared->mutex);
        if (!Lost()) m_shared->open = false;
    }

    bool Lost() const override
    {
        std::lock_guard lock(m_shared->mutex);
        return m_shared->unplugged || m_plugging != m_shared->plugging;
    }

    bool GetSettings(platform::SerialLineSettings& settings) override
    {
        std::lock_guard lock(m_shared->mutex);
        if (Lost()) return false;
        settings = m_shared->host;
        return true;
    }

    bool SetSettings(const platform::SerialLineSettings& settings) override
    {
        std::lock_guard lock(m_shared->mutex);
        if (settings.baudRate == 0 || Lost()) return false;
        // What arrived so far was received at the old speed.
        m_shared->Sync();
        const bool speedChanged = settings.baudRate != m_shared->host.baudRate;
        m_shared->host = settings;
        if (speedChanged) {
            WireEvent e;
            e.timeUs = NowMs() * 1000;
            e.kind = WireEvent::SpeedChange;
            e.hostBaud = settings.baudRate;
            e.deviceBaud = m_shared->device.BaudAt(e.timeUs);
            e.text = "host";
            m_shared->device.Log(e);
        }
        return true;
    }

    bool TakeErrors(uint32_t& errors, uint32_t& queued) override
    {
        std::lock_guard lock(m_shared->mutex);
        if (Lost()) return false;
        m_shared->Sync();
        errors = std::exchange(m_shared->errors, 0);
        queued = static_cast<uint32_t>(m_shared->received.size());
        return true;
    }

    int Read(uint8_t* buffer, uint32_t count) override
    {
        std::lock_guard lock(m_shared->mutex);
        if (Lost()) return -1;
        m_shared->Sync();
        uint32_t n = 0;
        while (n < count && !m_shared->received.empty()) {
            buffer[n++] = m_shared->received.front();
            m_shared->received.pop_front();
        }
        return static_cast<int>(n);
    }

    int Write(const uint8_t* buffer, uint32_t count) override
    {
        std::lock_guard lock(m_shared->mutex);
        if (Lost()) return -1;
        m_shared->Sync();
        const uint64_t startMs = NowMs();
        const uint64_t first = std::max(startMs * 1000, m_shared->hostTxFreeUs);
        const uint32_t baud = m_shared->host.baudRate;
        for (uint32_t i = 0; i < count; ++i)
            m_shared->device.Receive(buffer[i], first + WireTimeUs(baud, i + 1), baud);
        const uint64_t t = first + WireTimeUs(baud, count);
        m_shared->hostTxFreeUs = t;
        // Returns once the last stop bit has left, as a drained real port does.
        const uint64_t endMs = CeilMs(t);
        if (endMs > startMs) platform::Clock().Sleep(static_cast<uint32_t>(endMs - startMs));
        return static_cast<int>(count);
    }

    bool DiscardInput() override
    {
        std::lock_guard lock(m_shared->mutex);
        if (Lost()) return false;
        m_shared->Sync();
        m_shared->received.clear();
        return true;
    }

    bool RaiseDtr() override { return true; }

    platform::WaitResult WaitForInput(uint32_t queued, uint32_t, uint32_t milliseconds) override
    {
        std::unique_lock lock(m_shared->mutex);
        const uint64_t deadlineMs = NowMs() + milliseconds;
        for (;;) {
            if (Lost()) return platform::WaitResult::HungUp;
            m_shared->Sync();
            if (m_shared->received.size() > queued || m_shared->errors) return platform::WaitResult::Ready;
            const uint64_t nowMs = NowMs();
            if (nowMs >= deadlineMs) return platform::WaitResult::Timeout;
            uint64_t wakeMs = deadlineMs;
            if (auto next = m_shared->device.NextOutputUs()) wakeMs = std::min(wakeMs, CeilMs(*next));
            // On the real clock another thread may write meanwhile.
            lock.unlock();
            platform::Clock().Sleep(static_cast<uint32_t>(std::max<uint64_t>(wakeMs, nowMs + 1) - nowMs));
            lock.lock();
        }
    }

private:
    std::shared_ptr<CSimulatedPanel::Shared> m_shared;
    const uint32_t m_plugging;
};

} // namespace

CSimulatedPanel::CSimulatedPanel(std::string portName, BootLoaderConfig config)
    : m_portName(std::move(portName)), m_shared(std::make_shared<Shared>(config))
{
    m_shared->device.SetTimeSource([] { return NowMs() * 1000; });
    std::weak_ptr<Shared> weak = m_shared;
    platform::RegisterSerialPort(
        m_portName, [weak](platform::OpenError& error) -> std::unique_ptr<platform::ISerialDriver> {
            auto shared = weak.lock();
            if (!shared) {
                error = platform::OpenError::NotFound;
                return nullptr;
            }
            std::lock_guard lock(shared->mutex);
            if (shared->unplugged) {
                error = platform::OpenError::NotFound;
                return nullptr;
            }
            if (shared->open) {
                error = platform::OpenError::InUse;
                return nullptr;
            }
            error = platform::OpenError::None;
            return std::make_unique<CSimPort>(shared);
        });
}

CSimulatedPanel::~CSimulatedPanel()
{
    platform::UnregisterSerialPort(m_portName);
}

CBootLoader& CSimulatedPanel::Device()
{
    return m_shared->device;
}

const std::vector<WireEvent>& CSimulatedPanel::Trace() const
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->Sync();
    m_traceCopy = m_shared->device.Trace();
    // Each end logs in its own order; one timeline reads better.
    std::stable_sort(m_traceCopy.begin(), m_traceCopy.end(),
                     [](const WireEvent& a, const WireEvent& b) { return a.timeUs < b.timeUs; });
    return m_traceCopy;
}

void CSimulatedPanel::ClearTrace()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->Sync();
    m_shared->device.ClearTrace();
}

std::vector<uint8_t> CSimulatedPanel::HostBytes() const
{
    std::vector<uint8_t> bytes;
    for (const WireEvent& e : Trace())
        if (e.kind == WireEvent::HostToDevice) bytes.push_back(e.byte);
    return bytes;
}

std::vector<std::pair<uint8_t, uint32_t>> CSimulatedPanel::HostBytesWithBaud() const
{
    std::vector<std::pair<uint8_t, uint32_t>> bytes;
    for (const WireEvent& e : Trace())
        if (e.kind == WireEvent::HostToDevice) bytes.emplace_back(e.byte, e.hostBaud);
    return bytes;
}

std::vector<uint8_t> CSimulatedPanel::DeviceBytes() const
{
    std::vector<uint8_t> bytes;
    for (const WireEvent& e : Trace())
        if (e.kind == WireEvent::DeviceToHost) bytes.push_back(e.byte);
    return bytes;
}

void CSimulatedPanel::Unplug()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->unplugged = true;
    ++m_shared->plugging;
    m_shared->open = false;
}

void CSimulatedPanel::PlugBack()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->unplugged = false;
}

bool CSimulatedPanel::PortOpen() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->open;
}

uint32_t CSimulatedPanel::HostBaud() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->host.baudRate;
}

} // namespace sim
