// CSerialComm's own logic over a scripted driver on the virtual clock.
#include <gtest/gtest.h>

#include <deque>
#include <mutex>

#include "link/SerialComm.h"
#include "platform/Clock.h"

using platform::WaitResult;

namespace {

// The far end: bytes that arrive at given virtual times, line errors, a hang-up.
struct ScriptedLine
{
    std::mutex lock;
    platform::CVirtualClock* clock = nullptr;
    std::deque<std::pair<uint64_t, uint8_t>> incoming; // arrival time, byte
    uint32_t pendingErrors = 0;
    bool hungUp = false;
    bool settingsFail = false;
    bool dtrRaised = false;
    int waits = 0;
    platform::SerialLineSettings settings{9600, 8, 0, 0};

    void Arrive(uint64_t atMs, std::initializer_list<uint8_t> bytes)
    {
        std::lock_guard guard(lock);
        for (uint8_t b : bytes)
            incoming.emplace_back(atMs, b);
    }
    uint32_t Queued()
    {
        uint32_t n = 0;
        for (const auto& [at, b] : incoming)
            if (at <= clock->Now()) ++n;
        return n;
    }
};

class ScriptedDriver final : public platform::ISerialDriver
{
public:
    explicit ScriptedDriver(std::shared_ptr<ScriptedLine> line) : m_line(std::move(line)) {}

    bool GetSettings(platform::SerialLineSettings& settings) override
    {
        if (m_line->settingsFail) return false;
        settings = m_line->settings;
        return true;
    }
    bool SetSettings(const platform::SerialLineSettings& settings) override
    {
        if (m_line->settingsFail || settings.baudRate == 12345) return false;
        m_line->settings = settings;
        return true;
    }
    bool TakeErrors(uint32_t& errors, uint32_t& queued) override
    {
        std::lock_guard guard(m_line->lock);
        errors = std::exchange(m_line->pendingErrors, 0);
        queued = m_line->Queued();
        return true;
    }
    int Read(uint8_t* buffer, uint32_t count) override
    {
        std::lock_guard guard(m_line->lock);
        uint32_t n = 0;
        while (n < count && !m_line->incoming.empty() &&
               m_line->incoming.front().first <= m_line->clock->Now()) {
            buffer[n++] = m_line->incoming.front().second;
            m_line->incoming.pop_front();
        }
        return static_cast<int>(n);
    }
    int Write(const uint8_t*, uint32_t count) override { return static_cast<int>(count); }
    bool DiscardInput() override
    {
        std::lock_guard guard(m_line->lock);
        while (!m_line->incoming.empty() && m_line->incoming.front().first <= m_line->clock->Now())
            m_line->incoming.pop_front();
        return true;
    }
    bool RaiseDtr() override
    {
        m_line->dtrRaised = true;
        return true;
    }
    WaitResult WaitForInput(uint32_t queued, uint32_t, uint32_t milliseconds) override
    {
        std::lock_guard guard(m_line->lock);
        ++m_line->waits;
        if (m_line->hungUp) return WaitResult::HungUp;
        const uint64_t deadline = m_line->clock->Now() + milliseconds;
        for (const auto& [at, b] : m_line->incoming) {
            if (at > m_line->clock->Now() && at <= deadline) {
                m_line->clock->AdvanceTo(at);
                return WaitResult::Ready;
            }
        }
        m_line->clock->AdvanceTo(deadline);
        return WaitResult::Timeout;
    }

private:
    std::shared_ptr<ScriptedLine> m_line;
};

class SerialCommReadTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_line->clock = &m_clock;
        std::weak_ptr<ScriptedLine> weak = m_line;
        platform::RegisterSerialPort("SCRIPTED1", [weak](platform::OpenError&) {
            return std::make_unique<ScriptedDriver>(weak.lock());
        });
        ASSERT_TRUE(m_port.Open("scripted1"));
        m_start = m_clock.Now();
    }
    void TearDown() override
    {
        m_port.Close();
        platform::UnregisterSerialPort("SCRIPTED1");
    }

    platform::CVirtualClock m_clock;
    platform::CScopedClock m_scope{m_clock};
    std::shared_ptr<ScriptedLine> m_line = std::make_shared<ScriptedLine>();
    CSerialComm m_port;
    uint64_t m_start = 0;
};

TEST_F(SerialCommReadTest, OpenStoresTheNameAndRaisesDtr)
{
    EXPECT_TRUE(m_port.IsOpen());
    EXPECT_EQ(m_port.DeviceName(), "scripted1");
    EXPECT_TRUE(m_line->dtrRaised);
    EXPECT_EQ(m_port.LastOpenError(), platform::OpenError::None);
}

TEST_F(SerialCommReadTest, TimeOutIsStrict)
{
    m_port.SetTimeout(150);
    uint8_t reply[2];
    EXPECT_EQ(m_port.Read(reply, 2), 0u);
    EXPECT_EQ(m_clock.Now() - m_start, 151u);
    EXPECT_LE(m_line->waits, 3) << "Read polled instead of waiting";

    // A reply complete exactly at the limit is still in time.
    m_start = m_clock.Now();
    m_line->Arrive(m_start + 100, {0x80});
    m_line->Arrive(m_start + 150, {0x01});
    EXPECT_EQ(m_port.Read(reply, 2), 2u);
    EXPECT_EQ(reply[0], 0x80);
    EXPECT_EQ(reply[1], 0x01);
}

TEST_F(SerialCommReadTest, ReadTakesOnlyWhatWasAskedFor)
{
    m_port.SetTimeout(5000);
    m_line->Arrive(m_start, {1, 2, 3});
    uint8_t buffer[3] = {};
    EXPECT_EQ(m_port.Read(buffer, 2), 2u);
    EXPECT_EQ(m_port.Read(buffer, 1), 1u);
    EXPECT_EQ(buffer[0], 3);
    EXPECT_EQ(m_port.Read(buffer, 0), 0u);
}

TEST_F(SerialCommReadTest, LineErrorFailsOneReadAndKeepsTheBytes)
{
    m_port.SetTimeout(5000);
    m_line->Arrive(m_start, {0xB0});
    m_line->pendingErrors = platform::kLineErrorFrame;
    uint8_t byte = 0;
    EXPECT_EQ(m_port.Read(&byte, 1), 0u);
    EXPECT_EQ(m_clock.Now(), m_start) << "an error must fail at once";
    EXPECT_EQ(m_port.Read(&byte, 1), 1u);
    EXPECT_EQ(byte, 0xB0);
}

TEST_F(SerialCommReadTest, ZeroTimeOutWaitsWithoutLimit)
{
    m_port.SetTimeout(0);
    m_line->Arrive(m_start + 60'000, {0x70, 0x71});
    uint8_t reply[2];
    EXPECT_EQ(m_port.Read(reply, 2), 2u);
    EXPECT_EQ(m_clock.Now(), m_start + 60'000);
}

TEST_F(SerialCommReadTest, WaitHookRunsInsideTheWaitAndNeverLengthensIt)
{
    // A front end's pump that costs 5 ms each time.
    std::vector<uint64_t> runs;
    m_port.SetWaitHook([&] {
        runs.push_back(m_clock.Now() - m_start);
        m_clock.Advance(5);
    });
    m_port.Pause(40);
    EXPECT_EQ(m_clock.Now() - m_start, 40u);
    EXPECT_TRUE(runs.empty()) << "a page pause shorter than a slice pumps nothing";

    m_start = m_clock.Now();
    runs.clear();
    m_port.Pause(200);
    EXPECT_EQ(m_clock.Now() - m_start, 200u);
    EXPECT_EQ(runs, (std::vector<uint64_t>{10, 65, 120, 175}));

    m_start = m_clock.Now();
    runs.clear();
    m_port.SetTimeout(120);
    uint8_t reply = 0;
    EXPECT_EQ(m_port.Read(&reply, 1), 0u);
    EXPECT_EQ(m_clock.Now() - m_start, 121u) << "the hook ran after the last slice";
    EXPECT_EQ(runs, (std::vector<uint64_t>{30, 85}));
}

TEST_F(SerialCommReadTest, AHookMadeDueRunsAtTheStartOfTheNextPauseWithinIt)
{
    // The windows' page pump: once per page, inside the page pause, which it must not lengthen.
    std::vector<uint64_t> runs;
    m_port.SetWaitHook([&] {
        runs.push_back(m_clock.Now() - m_start);
        m_clock.Advance(5);
    });
    m_port.WaitHookDueNow();
    m_port.Pause(40);
    EXPECT_EQ(m_clock.Now() - m_start, 40u);
    EXPECT_EQ(runs, (std::vector<uint64_t>{0}));

    m_port.WaitHookDueNow();
    m_port.Pause(5); // no room for a run that took 5 ms
    EXPECT_EQ(m_clock.Now() - m_start, 45u);
    EXPECT_EQ(runs.size(), 1u);

    // A pump that ends between two ticks: the pause still ends 40 ms after it began, not
    // up to a tick later on every page.
    m_port.SetWaitHook([&] { m_clock.SleepMicroseconds(2'700); });
    const uint64_t began = m_clock.NowMicroseconds();
    m_port.WaitHookDueNow();
    m_port.Pause(40);
    EXPECT_EQ(m_clock.NowMicroseconds() - began, 40'000u);
}

TEST_F(SerialCommReadTest, HangUpEndsTheRead)
{
    m_port.SetTimeout(0);
    m_line->hungUp = true;
    uint8_t byte = 0;
    EXPECT_EQ(m_port.Read(&byte, 1), 0u);
}

TEST_F(SerialCommReadTest, PurgeClearsErrorsAndStaleBytesAndReportsZero)
{
    m_port.SetTimeout(100);
    m_line->Arrive(m_start, {9, 9});
    m_line->pendingErrors = platform::kLineErrorOverrun;
    EXPECT_EQ(m_port.Purge(0), FALSE);
    m_line->Arrive(m_start, {0x42});
    uint8_t byte = 0;
    EXPECT_EQ(m_port.Read(&byte, 1), 1u);
    EXPECT_EQ(byte, 0x42);
}

TEST_F(SerialCommReadTest, StateChangesOnlyWhatTheDriverAccepts)
{
    CSerialCommState state;
    state.m_dwBaudRate = 57600;
    state.m_byByteSize = 8;
    EXPECT_TRUE(m_port.SetState(state));
    CSerialCommState read;
    EXPECT_TRUE(m_port.GetState(read));
    EXPECT_EQ(read.m_dwBaudRate, 57600u);

    state.m_dwBaudRate = 12345;
    EXPECT_FALSE(m_port.SetState(state));
    EXPECT_EQ(m_line->settings.baudRate, 57600u);

    CIoState foreign;
    EXPECT_FALSE(m_port.SetState(foreign));
    EXPECT_FALSE(m_port.GetState(foreign));

    m_line->settingsFail = true;
    EXPECT_FALSE(m_port.GetState(read));
    EXPECT_EQ(read.m_dwBaudRate, 0u);
    EXPECT_EQ(read.m_byByteSize, 0);
    EXPECT_EQ(read.m_byParity, 0);
    EXPECT_EQ(read.m_byStopBits, 0);
}

TEST_F(SerialCommReadTest, OpenAndCloseLifecycle)
{
    EXPECT_FALSE(m_port.Open("SCRIPTED1")) << "the open link was replaced";
    EXPECT_EQ(m_port.LastOpenError(), platform::OpenError::InUse);
    EXPECT_TRUE(m_port.IsOpen());
    m_port.SetTimeout(777);
    EXPECT_TRUE(m_port.Close());
    EXPECT_TRUE(m_port.Close());
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_EQ(m_port.DeviceName(), "");
    EXPECT_EQ(m_port.GetTimeout(), 777u) << "the time-out belongs to the object, not the open device";

    CSerialComm other;
    EXPECT_FALSE(other.Open("no-such-port-here"));
    EXPECT_FALSE(other.IsOpen());
    EXPECT_EQ(other.LastOpenError(), platform::OpenError::NotFound);
}

} // namespace
