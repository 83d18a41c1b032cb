// The in-process serial driver: wire timing on the virtual clock, port ownership,
// the wire trace, and a whole upgrade through the real CSerialComm.
#include <gtest/gtest.h>

#include <chrono>

#include "SimTestSupport.h"
#include "link/SerialComm.h"
#include "link/SerialCommState.h"

using simtest::Bytes;
using simtest::PanelTest;

namespace {

class SimulatedPortTest : public PanelTest
{
};

TEST_F(SimulatedPortTest, a_page_frame_at_9600_takes_its_wire_time)
{
    PassId();
    const uint64_t start = Now();
    Send(simtest::PageFrame(0xF0000, Bytes(256, 0)));
    EXPECT_EQ(Now() - start, 270u); // 259 characters of 10 bits
}

TEST_F(SimulatedPortTest, a_status_reply_arrives_two_character_times_after_the_request)
{
    Send({0x70});
    const uint64_t sent = Now();
    uint32_t errors = 0, queued = 0;
    port->TakeErrors(errors, queued);
    EXPECT_EQ(queued, 0u); // nothing is there before its time
    EXPECT_EQ(Receive(2), (Bytes{0x80, 0x00}));
    EXPECT_EQ(Now() - sent, 2u);
}

TEST_F(SimulatedPortTest, at_115200_a_page_frame_is_quick)
{
    Send({0xB4});
    Receive(1);
    SetHostBaud(115200);
    const uint64_t start = Now();
    Send(Bytes(259, 0x00));
    EXPECT_EQ(Now() - start, 23u);
}

TEST_F(SimulatedPortTest, waiting_for_a_silent_device_lasts_until_the_deadline)
{
    const uint64_t start = Now();
    EXPECT_EQ(port->WaitForInput(0, 1, 150), platform::WaitResult::Timeout);
    EXPECT_EQ(Now() - start, 150u);
}

TEST_F(SimulatedPortTest, waiting_returns_when_the_first_byte_arrives)
{
    Send({0xFB});
    const uint64_t sent = Now();
    EXPECT_EQ(port->WaitForInput(0, 1, 5000), platform::WaitResult::Ready);
    EXPECT_EQ(Now() - sent, 1u); // one character time, 1.04 ms
}

TEST_F(SimulatedPortTest, discard_input_drops_what_came)
{
    Send({0xFB});
    clock.Advance(20);
    ASSERT_TRUE(port->DiscardInput());
    EXPECT_EQ(Receive(1, 100), Bytes{});
}

TEST_F(SimulatedPortTest, settings_start_at_9600_8n1_and_follow_the_host)
{
    platform::SerialLineSettings settings;
    ASSERT_TRUE(port->GetSettings(settings));
    EXPECT_EQ(settings.baudRate, 9600u);
    EXPECT_EQ(settings.byteSize, 8);
    SetHostBaud(38400);
    ASSERT_TRUE(port->GetSettings(settings));
    EXPECT_EQ(settings.baudRate, 38400u);
    EXPECT_EQ(panel.HostBaud(), 38400u);
}

TEST_F(SimulatedPortTest, a_second_open_is_refused_while_the_port_is_open)
{
    platform::OpenError error = platform::OpenError::None;
    EXPECT_FALSE(platform::OpenSerialDriver("simtest", error));
    EXPECT_EQ(error, platform::OpenError::InUse);
    port.reset();
    EXPECT_FALSE(panel.PortOpen());
    port = platform::OpenSerialDriver("SIMTEST", error);
    ASSERT_TRUE(port);
    EXPECT_EQ(Status(), (Bytes{0x80, 0x00}));
}

TEST_F(SimulatedPortTest, trace_records_bytes_with_both_speeds_and_events)
{
    PassId();
    panel.ClearTrace();
    Send({0xB4});
    Receive(1);
    SetHostBaud(115200);
    Send({0xB4});
    Receive(1);
    Send(simtest::PageFrame(0xF0000, Bytes(256, 0x00)));
    Send({0x70});
    Receive(2);

    const auto hostBytes = panel.HostBytesWithBaud();
    ASSERT_EQ(hostBytes.size(), 1u + 1u + 259u + 1u);
    EXPECT_EQ(hostBytes[0], std::make_pair(uint8_t{0xB4}, 9600u));
    EXPECT_EQ(hostBytes[1], std::make_pair(uint8_t{0xB4}, 115200u));
    EXPECT_EQ(panel.DeviceBytes(), (Bytes{0xB4, 0xB4, 0x80, 0x0C}));

    const auto& trace = panel.Trace();
    auto find = [&](sim::WireEvent::Kind kind) {
        return std::find_if(trace.begin(), trace.end(),
                            [kind](const sim::WireEvent& e) { return e.kind == kind; });
    };
    auto speed = find(sim::WireEvent::SpeedChange);
    ASSERT_NE(speed, trace.end());
    EXPECT_EQ(speed->deviceBaud, 115200u);
    auto programmed = find(sim::WireEvent::PageProgrammed);
    ASSERT_NE(programmed, trace.end());
    EXPECT_EQ(programmed->address, 0xF0000u);
    EXPECT_EQ(programmed->text, "ok");
    EXPECT_TRUE(
        std::is_sorted(trace.begin(), trace.end(),
                       [](const sim::WireEvent& a, const sim::WireEvent& b) { return a.timeUs < b.timeUs; }));
    const std::string line = sim::FormatWireEvent(*programmed);
    EXPECT_TRUE(line.ends_with(" program  0F0000 ok")) << line;
}

// Through the real port class, the way the application drives the panel.
class SerialCommOnSimulatorTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(link.Open("SIMPANEL")); }

    void WriteByte(uint8_t b) { ASSERT_EQ(link.Write(&b, 1), 1u); }

    uint8_t ReadByte()
    {
        uint8_t b = 0;
        EXPECT_EQ(link.Read(&b, 1), 1u);
        return b;
    }

    void SetBaud(uint32_t baud)
    {
        CSerialCommState state;
        state.m_dwBaudRate = baud;
        state.m_byByteSize = 8;
        ASSERT_TRUE(link.SetState(state));
    }

    platform::CVirtualClock clock;
    platform::CScopedClock scopedClock{clock};
    sim::CSimulatedPanel panel;
    CSerialComm link;
};

TEST_F(SerialCommOnSimulatorTest, full_upgrade_of_64_kib_never_waits_in_real_time)
{
    const auto realStart = std::chrono::steady_clock::now();
    link.SetTimeout(5000);
    WriteByte(0xB0);
    Sleep(50);
    for (int i = 0; i < 16; ++i) {
        WriteByte(0x00);
        Sleep(20);
    }
    EXPECT_EQ(ReadByte(), 0xB0);
    for (uint8_t code : {0xB0, 0xB4}) {
        WriteByte(code);
        EXPECT_EQ(ReadByte(), code);
        Sleep(1000);
    }
    SetBaud(115200);
    WriteByte(0xB4);
    EXPECT_EQ(ReadByte(), 0xB4);

    const Bytes id = simtest::IdFrame();
    ASSERT_EQ(link.Write(id.data(), static_cast<uint32_t>(id.size())), id.size());
    Sleep(50);
    const uint8_t erase[] = {0xA7, 0xD0};
    WriteByte(0x50);
    WriteByte(0x75);
    ASSERT_EQ(link.Write(erase, 2), 2u);
    Sleep(50);
    link.SetTimeout(40000);
    WriteByte(0x70);
    uint8_t status[2] = {};
    ASSERT_EQ(link.Read(status, 2), 2u);
    EXPECT_EQ(status[0], 0x80);
    EXPECT_EQ(status[1], 0x0C);

    link.SetTimeout(150);
    for (uint32_t page = 0xF0000; page < 0xFFFFF; page += 256) {
        const Bytes frame = simtest::PageFrame(page, simtest::Pattern(static_cast<uint8_t>(page >> 8)));
        ASSERT_EQ(link.Write(frame.data(), static_cast<uint32_t>(frame.size())), frame.size());
        Sleep(40);
        WriteByte(0x70);
        ASSERT_EQ(link.Read(status, 2), 2u) << std::hex << page;
        ASSERT_EQ(status[0], 0x80);
    }
    // Some 15 s of protocol time: a wait on the real clock anywhere would show at once.
    // (How fast it runs is the benchmark's business, not this test's.)
    const auto realTime = std::chrono::steady_clock::now() - realStart;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(realTime).count(), 10000);
    EXPECT_EQ(panel.Device().ProgrammedPages().size(), 256u);
    EXPECT_EQ(panel.Device().ReadFlashRange(0xFFF00, 256), simtest::Pattern(0xFF));
}

TEST_F(SerialCommOnSimulatorTest, read_times_out_on_a_silent_device_after_the_read_timeout)
{
    panel.Device().SetSilent(true);
    link.SetTimeout(5000);
    const uint64_t start = clock.Now();
    WriteByte(0x70);
    uint8_t status[2];
    EXPECT_EQ(link.Read(status, 2), 0u);
    EXPECT_GE(clock.Now() - start, 5000u);
    EXPECT_LE(clock.Now() - start, 5010u);
}

} // namespace
