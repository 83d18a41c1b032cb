// What the simulated boot loader answers, command by command.
#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "sim/FlashRecords.h"

using simtest::Bytes;
using simtest::PanelTest;

namespace {

class BootLoaderTest : public PanelTest
{
};

class VerifiedBootLoaderTest : public PanelTest
{
protected:
    static sim::BootLoaderConfig Verified()
    {
        sim::BootLoaderConfig config;
        config.idVerifiedAtStart = true;
        return config;
    }
    VerifiedBootLoaderTest() : PanelTest(Verified()) {}
};

TEST_F(BootLoaderTest, status_after_power_on_is_ready_with_id_not_yet_checked)
{
    EXPECT_EQ(Status(), (Bytes{0x80, 0x00}));
}

TEST_F(VerifiedBootLoaderTest, status_shows_id_verified_when_configured_so)
{
    EXPECT_EQ(Status(), (Bytes{0x80, 0x0C}));
}

TEST_F(BootLoaderTest, start_up_synchronisation_echoes_only_the_speed_code)
{
    Send({0xB0});
    for (int i = 0; i < 16; ++i) {
        Send({0x00});
        clock.Advance(20);
    }
    EXPECT_EQ(Receive(2, 100), (Bytes{0xB0}));
    EXPECT_EQ(panel.Device().Baud(), 9600u);
}

TEST_F(BootLoaderTest, id_check_with_the_right_code_verifies)
{
    Send(simtest::IdFrame());
    EXPECT_EQ(Receive(1, 50), Bytes{}); // the verdict is read with a status request
    EXPECT_EQ(Status(), (Bytes{0x80, 0x0C}));
    EXPECT_TRUE(panel.Device().IdVerified());
}

TEST_F(BootLoaderTest, id_check_with_a_wrong_code_reports_mismatch)
{
    Send(simtest::IdFrame(0xFF));
    EXPECT_EQ(Status(), (Bytes{0x80, 0x04}));
    EXPECT_FALSE(panel.Device().IdVerified());
}

TEST_F(BootLoaderTest, id_check_against_a_configured_code)
{
    panel.Device().SetId({1, 2, 3, 4, 5, 6, 7});
    Send(simtest::IdFrame());
    EXPECT_EQ(Status()[1], 0x04);
    Send({0xF5, 0xDF, 0xFF, 0x0F, 0x07, 1, 2, 3, 4, 5, 6, 7});
    EXPECT_EQ(Status()[1], 0x0C);
}

TEST_F(BootLoaderTest, flash_commands_are_ignored_until_the_id_is_verified)
{
    Send(simtest::PageFrame(0xF0000, simtest::Pattern(1)));
    Send({0xA7, 0xD0});
    Send(simtest::PageReadFrame(0xF0000));
    EXPECT_EQ(Receive(256, 1000), Bytes{});
    EXPECT_EQ(panel.Device().ReadFlash(0xF0000), 0xFF);
    EXPECT_TRUE(panel.Device().ProgrammedPages().empty());
    // The ignored frames were still consumed whole: the next command is understood.
    EXPECT_EQ(Status(), (Bytes{0x80, 0x00}));
}

TEST_F(BootLoaderTest, page_program_then_page_read_returns_the_data)
{
    PassId();
    const Bytes data = simtest::Pattern(3);
    Send(simtest::PageFrame(0xF1200, data));
    EXPECT_EQ(Status(), (Bytes{0x80, 0x0C}));
    Send(simtest::PageReadFrame(0xF1200));
    EXPECT_EQ(Receive(256), data);
    EXPECT_EQ(panel.Device().ReadFlashRange(0xF1200, 256), data);
    EXPECT_EQ(panel.Device().ProgrammedPages(), (std::vector<uint32_t>{0xF1200}));
}

TEST_F(BootLoaderTest, page_read_of_unwritten_flash_gives_erased_bytes)
{
    PassId();
    Send(simtest::PageReadFrame(0xC0000));
    EXPECT_EQ(Receive(256), Bytes(256, 0xFF));
}

TEST_F(BootLoaderTest, programming_a_one_over_a_zero_is_a_program_error_and_the_bit_stays_zero)
{
    PassId();
    panel.Device().WriteFlash(0xC0123, 0x7F);
    Bytes data(256, 0xFF);
    data[0x23] = 0xFF; // asks for bit 7 back
    data[0x24] = 0x0F;
    Send(simtest::PageFrame(0xC0100, data));
    EXPECT_EQ(Status(), (Bytes{0x90, 0x0C}));
    EXPECT_EQ(panel.Device().ReadFlash(0xC0123), 0x7F);
    EXPECT_EQ(panel.Device().ReadFlash(0xC0124), 0x0F);
}

TEST_F(BootLoaderTest, programming_only_clears_bits)
{
    PassId();
    panel.Device().WriteFlash(0xC0000, 0xF0);
    Bytes data(256, 0xFF);
    data[0] = 0x30;
    Send(simtest::PageFrame(0xC0000, data));
    EXPECT_EQ(Status()[0], 0x80);
    EXPECT_EQ(panel.Device().ReadFlash(0xC0000), 0x30);
}

TEST_F(BootLoaderTest, clear_status_clears_error_bits_but_keeps_the_id_state)
{
    PassId();
    panel.Device().FailErase(true);
    Send({0xA7, 0xD0});
    EXPECT_EQ(Status(), (Bytes{0xA0, 0x0C}));
    Send({0x50});
    EXPECT_EQ(Status(), (Bytes{0x80, 0x0C}));
}

TEST_F(BootLoaderTest, erase_blanks_the_flash)
{
    PassId();
    panel.Device().WriteFlash(0xF0010, 0x12);
    panel.Device().WriteFlash(0x00100, 0x34);
    Send({0x50});
    Send({0x75});
    Send({0xA7, 0xD0});
    EXPECT_EQ(Status(), (Bytes{0x80, 0x0C}));
    EXPECT_EQ(panel.Device().ReadFlash(0xF0010), 0xFF);
    EXPECT_EQ(panel.Device().ReadFlash(0x00100), 0xFF);
    EXPECT_TRUE(panel.Device().NonBlankPages().empty());
}

TEST_F(BootLoaderTest, status_during_an_erase_is_answered_only_when_it_ends)
{
    PassId();
    panel.Device().SetEraseTimeMs(3000);
    Send({0xA7, 0xD0});
    const uint64_t eraseSent = Now();
    clock.Advance(50);
    EXPECT_TRUE(panel.Device().Busy());
    EXPECT_EQ(panel.Device().Srd1() & 0x80, 0);
    Send({0x70});
    EXPECT_EQ(Receive(2, 2000), Bytes{}); // still erasing after 2 s
    EXPECT_EQ(Receive(2, 40000), (Bytes{0x80, 0x0C}));
    EXPECT_GE(Now() - eraseSent, 3000u);
    EXPECT_LE(Now() - eraseSent, 3005u);
}

TEST_F(BootLoaderTest, erase_without_its_confirmation_byte_does_nothing)
{
    PassId();
    panel.Device().WriteFlash(0xF0000, 0x00);
    Send({0xA7, 0x00});
    EXPECT_EQ(Status(), (Bytes{0x80, 0x0C}));
    EXPECT_EQ(panel.Device().ReadFlash(0xF0000), 0x00);
}

TEST_F(BootLoaderTest, version_request_returns_eight_bytes_of_text)
{
    Send({0xFB});
    EXPECT_EQ(Receive(8), (Bytes{'V', 'E', 'R', '.', '1', '.', '0', '0'}));
    panel.Device().SetVersion("M16C");
    Send({0xFB});
    EXPECT_EQ(Receive(8), (Bytes{'M', '1', '6', 'C', ' ', ' ', ' ', ' '}));
}

TEST_F(BootLoaderTest, unknown_codes_and_filler_are_ignored)
{
    Send({0x00, 0x12, 0xEE, 0x00});
    EXPECT_EQ(Receive(1, 100), Bytes{});
    EXPECT_EQ(Status(), (Bytes{0x80, 0x00}));
}

TEST_F(BootLoaderTest, download_captures_the_program_and_checks_its_sum)
{
    Bytes program = simtest::Pattern(9);
    Bytes second = simtest::Pattern(100);
    program.insert(program.end(), second.begin(), second.end());
    uint8_t sum = 0;
    for (uint8_t b : program)
        sum = static_cast<uint8_t>(sum + b);
    Bytes frame{0xFA, 0x00, 0x02, sum};
    frame.insert(frame.end(), program.begin(), program.begin() + 256);
    Send(frame);
    clock.Advance(40);
    Send(Bytes(program.begin() + 256, program.end()));
    EXPECT_EQ(Status(), (Bytes{0x80, 0x10}));
    EXPECT_EQ(panel.Device().DownloadedProgram(), program);

    frame[3] = static_cast<uint8_t>(sum + 1);
    Send(frame);
    Send(Bytes(program.begin() + 256, program.end()));
    EXPECT_EQ(Status(), (Bytes{0x80, 0x00}));
}

TEST_F(BootLoaderTest, an_incomplete_frame_is_abandoned_after_a_second_of_silence)
{
    PassId();
    Send({0x41, 0x00, 0x0F, 0x01, 0x02});
    clock.Advance(1500);
    EXPECT_EQ(Status(), (Bytes{0x80, 0x0E})); // receive time-out reported
    EXPECT_TRUE(panel.Device().ProgrammedPages().empty());
}

TEST_F(BootLoaderTest, an_incomplete_frame_swallows_the_next_command_within_the_second)
{
    PassId();
    Send({0xFF, 0x00}); // page read missing its last address byte
    // 0x70 completes the page read as its address byte: page data comes, not the status.
    EXPECT_EQ(Status(), (Bytes{0xFF, 0xFF}));
}

// Speeds

TEST_F(BootLoaderTest, speed_code_is_echoed_at_the_old_speed_then_the_device_switches)
{
    Send({0xB4});
    EXPECT_EQ(Receive(1), (Bytes{0xB4}));
    EXPECT_EQ(panel.Device().Baud(), 115200u);
    SetHostBaud(115200);
    Send({0xB4});
    EXPECT_EQ(Receive(1), (Bytes{0xB4}));
    EXPECT_EQ(Status(), (Bytes{0x80, 0x00}));
}

TEST_F(BootLoaderTest, each_speed_code_selects_its_speed)
{
    const std::pair<uint8_t, uint32_t> codes[] = {
        {0xB1, 19200}, {0xB2, 38400}, {0xB3, 57600}, {0xB4, 115200}, {0xB0, 9600}};
    for (auto [code, baud] : codes) {
        Send({code});
        EXPECT_EQ(Receive(1), Bytes{code});
        EXPECT_EQ(panel.Device().Baud(), baud);
        SetHostBaud(baud);
    }
}

TEST_F(BootLoaderTest, at_different_speeds_nothing_gets_through_either_way)
{
    Send({0xB3});
    EXPECT_EQ(Receive(1), (Bytes{0xB3}));
    // The host stays at 9600: the device, at 57600, does not understand it.
    Send({0x70});
    EXPECT_EQ(Receive(1, 1000), Bytes{});
    Send({0xB0});
    EXPECT_EQ(Receive(1, 1000), Bytes{});
    EXPECT_EQ(panel.Device().Baud(), 57600u);
    const auto trace = panel.Trace();
    const auto dropped = std::count_if(trace.begin(), trace.end(), [](const sim::WireEvent& e) {
        return e.kind == sim::WireEvent::Dropped;
    });
    EXPECT_EQ(dropped, 2);
}

TEST_F(BootLoaderTest, a_reply_sent_at_the_old_speed_is_lost_when_the_host_switched_too_early)
{
    Send({0xB4});
    SetHostBaud(115200); // before the echo has arrived
    EXPECT_EQ(Receive(1, 100), Bytes{});
}

// Faults

TEST_F(BootLoaderTest, silent_device_answers_nothing)
{
    panel.Device().SetSilent(true);
    Send({0xB0});
    Send({0x70});
    EXPECT_EQ(Receive(1, 5000), Bytes{});
    panel.Device().SetSilent(false);
    EXPECT_EQ(Status(), (Bytes{0x80, 0x00}));
}

TEST_F(BootLoaderTest, silent_after_some_bytes)
{
    panel.Device().SilentAfterBytes(2);
    Send({0x70});
    EXPECT_EQ(Receive(2), (Bytes{0x80, 0x00}));
    Send({0xB0});
    EXPECT_EQ(Receive(1), (Bytes{0xB0}));
    Send({0x70});
    EXPECT_EQ(Receive(2, 5000), Bytes{});
}

TEST_F(BootLoaderTest, refused_speed_code_gets_no_echo_and_no_switch)
{
    panel.Device().RefuseBaudCode(0xB4);
    Send({0xB4});
    EXPECT_EQ(Receive(1, 5000), Bytes{});
    EXPECT_EQ(panel.Device().Baud(), 9600u);
    Send({0xB2});
    EXPECT_EQ(Receive(1), (Bytes{0xB2}));
}

TEST_F(BootLoaderTest, failing_page_sets_the_program_error_and_leaves_the_flash)
{
    PassId();
    panel.Device().FailProgramAtPage(0xF0100);
    Send(simtest::PageFrame(0xF0000, Bytes(256, 0x11)));
    EXPECT_EQ(Status(), (Bytes{0x80, 0x0C}));
    Send(simtest::PageFrame(0xF0100, Bytes(256, 0x22)));
    EXPECT_EQ(Status(), (Bytes{0x90, 0x0C}));
    EXPECT_EQ(panel.Device().ReadFlash(0xF0000), 0x11);
    EXPECT_EQ(panel.Device().ReadFlash(0xF0100), 0xFF);
}

TEST_F(BootLoaderTest, failing_erase_keeps_the_flash)
{
    PassId();
    panel.Device().WriteFlash(0xF0000, 0x00);
    panel.Device().FailErase(true);
    Send({0xA7, 0xD0});
    EXPECT_EQ(Receive(2, 100), Bytes{});
    EXPECT_EQ(Status(), (Bytes{0xA0, 0x0C}));
    EXPECT_EQ(panel.Device().ReadFlash(0xF0000), 0x00);
}

TEST_F(BootLoaderTest, power_cycle_after_some_bytes_resets_speed_status_and_id_but_keeps_flash)
{
    PassId();
    Send(simtest::PageFrame(0xF0000, Bytes(256, 0x55)));
    Send({0xB4});
    EXPECT_EQ(Receive(1), (Bytes{0xB4}));
    SetHostBaud(115200);
    panel.Device().PowerCycleAfterBytes(1);
    Send({0x70}); // the supply drops as this byte arrives: no reply
    EXPECT_EQ(Receive(2, 1000), Bytes{});
    EXPECT_EQ(panel.Device().Baud(), 9600u);
    SetHostBaud(9600);
    EXPECT_EQ(Status(), (Bytes{0x80, 0x00}));
    EXPECT_EQ(panel.Device().ReadFlash(0xF0000), 0x55);
    EXPECT_TRUE(panel.Device().ProgrammedPages().empty());
}

TEST_F(BootLoaderTest, power_cycle_cuts_a_reply_in_flight)
{
    PassId();
    Send(simtest::PageReadFrame(0xF0000));
    clock.Advance(10); // about ten bytes of the page are out
    panel.Device().PowerCycleNow();
    const Bytes partial = Receive(256, 1000);
    EXPECT_GT(partial.size(), 5u);
    EXPECT_LT(partial.size(), 15u);
}

TEST_F(BootLoaderTest, line_error_fails_the_next_read_once)
{
    panel.Device().LineErrorOnNextRead();
    Send({0x70});
    uint32_t errors = 0, queued = 0;
    ASSERT_EQ(port->WaitForInput(0, 1, 100), platform::WaitResult::Ready);
    ASSERT_TRUE(port->TakeErrors(errors, queued));
    EXPECT_EQ(errors, platform::kLineErrorFrame);
    EXPECT_EQ(Receive(2), (Bytes{0x80, 0x00}));
    ASSERT_TRUE(port->TakeErrors(errors, queued));
    EXPECT_EQ(errors, 0u);
}

TEST_F(BootLoaderTest, reply_delay_makes_a_slow_device)
{
    panel.Device().SetReplyDelayMs(120);
    Send({0x70});
    const uint64_t sent = Now();
    EXPECT_EQ(Receive(2, 100), Bytes{});
    EXPECT_EQ(Receive(2), (Bytes{0x80, 0x00}));
    EXPECT_GE(Now() - sent, 120u);
    EXPECT_LE(Now() - sent, 124u);
}

TEST_F(VerifiedBootLoaderTest, an_adapter_holds_short_replies_for_its_timer_and_sends_full_packets_at_once)
{
    panel.Device().SetAdapterLatencyMs(16);
    // Two bytes wait for the timer: at most 16 ms, and a round trip right after a
    // release waits nearly all of it.
    Send({0x70});
    ASSERT_EQ(Receive(2).size(), 2u);
    const uint64_t sent = Now();
    Send({0x70});
    ASSERT_EQ(Receive(2).size(), 2u);
    EXPECT_GE(Now() - sent, 14u);
    EXPECT_LE(Now() - sent, 17u);
    // A page read's 256 bytes come in 62-byte packets as they fill, the rest with the timer.
    Send({0xFF, 0x00, 0xF0});
    const uint64_t asked = Now();
    ASSERT_EQ(Receive(62).size(), 62u);
    const uint64_t firstPacket = Now() - asked; // 62 bytes' wire time at 9600 bit/s: about 65 ms
    EXPECT_GE(firstPacket, 64u);
    EXPECT_LE(firstPacket, 80u);
    ASSERT_EQ(Receive(256 - 62).size(), 256u - 62u);
}

// The power switch

TEST_F(BootLoaderTest, power_off_during_an_erase_stops_it_and_no_status_ever_answers_it)
{
    PassId();
    panel.Device().SetEraseTimeMs(15000);
    for (uint32_t page = 0xF0000; page < 0xF1000; page += 0x100)
        panel.Device().WriteFlash(page, 0x00);
    Send({0xA7, 0xD0});
    Send({0x70});
    clock.Advance(3000);
    panel.Device().PowerOff();
    EXPECT_EQ(Receive(2, 60000), Bytes{}) << "an erase cut off must never report its end";
    // A fifth of the way through: the pages it had not reached keep their data.
    const std::vector<uint32_t> kept = panel.Device().NonBlankPages();
    ASSERT_EQ(kept.size(), 13u);
    EXPECT_EQ(kept.front(), 0xF0300u);
    EXPECT_EQ(Status(), Bytes{}) << "nothing is heard while off";
    EXPECT_EQ(panel.Device().Counters().bytesLost, 1u);

    panel.Device().PowerOn();
    EXPECT_EQ(Status(), (Bytes{0x80, 0x00})) << "afresh: 9600 bit/s, ID check not passed";
    EXPECT_EQ(panel.Device().NonBlankPages(), kept);
}

TEST_F(BootLoaderTest, power_off_leaves_a_page_half_programmed_and_drops_a_frame_half_received)
{
    PassId();
    panel.Device().SetProgramTimeMs(100);
    Send(simtest::PageFrame(0xF0000, Bytes(256, 0x00)));
    clock.Advance(50);
    panel.Device().PowerOff();
    const Bytes page = panel.Device().ReadFlashRange(0xF0000, 256);
    EXPECT_EQ(std::count(page.begin(), page.begin() + 120, 0x00), 120);
    EXPECT_EQ(std::count(page.begin() + 136, page.end(), 0xFF), 120);

    panel.Device().PowerOn();
    PassId();
    const Bytes half(simtest::PageFrame(0xF0100, Bytes(256, 0x11)));
    Send(Bytes(half.begin(), half.begin() + 100));
    panel.Device().PowerOff();
    panel.Device().PowerOn();
    PassId();
    Send(Bytes(half.begin() + 100, half.end())); // the rest is no command of its own
    clock.Advance(10);
    EXPECT_EQ(panel.Device().ReadFlash(0xF0100), 0xFF);
    EXPECT_EQ(panel.Device().Counters().pageFrames, 1u);
}

// What the upgrade tests need to see

TEST_F(BootLoaderTest, counters_and_an_erase_that_leaves_one_page_with_its_old_data)
{
    PassId();
    panel.Device().WriteFlash(0xF0200, 0x12);
    panel.Device().WriteFlash(0xF0400, 0x34);
    panel.Device().EraseLeavesPage(0xF0420);
    Send({0xA7, 0xD0});
    EXPECT_EQ(Status(), (Bytes{0x80, 0x0C})) << "the erase says it succeeded";
    EXPECT_EQ(panel.Device().NonBlankPages(), (std::vector<uint32_t>{0xF0400}));
    Send(simtest::PageFrame(0xF0000, Bytes(256, 0x00)));
    Send(simtest::PageReadFrame(0xF0000));
    EXPECT_EQ(Receive(256).size(), 256u);
    const sim::FrameCounters counters = panel.Device().Counters();
    EXPECT_EQ(counters.eraseCommands, 1u);
    EXPECT_EQ(counters.pageFrames, 1u);
    EXPECT_EQ(counters.pageReads, 1u);
    EXPECT_EQ(counters.statusRequests, 1u);
    panel.Device().ResetCounters();
    EXPECT_EQ(panel.Device().Counters().pageFrames, 0u);
}

TEST_F(BootLoaderTest, a_panel_busy_after_each_page_shows_it_in_srd1_and_drops_a_frame_sent_meanwhile)
{
    PassId();
    panel.Device().SetBusyAfterPageMs(30);
    Send(simtest::PageFrame(0xF0000, Bytes(256, 0x00)));
    EXPECT_EQ(Status(), (Bytes{0x00, 0x0C})) << "answered at once, ready bit clear";
    Send(simtest::PageFrame(0xF0100, Bytes(256, 0x00)));
    clock.Advance(30);
    EXPECT_EQ(Status(), (Bytes{0x80, 0x0C}));
    EXPECT_EQ(panel.Device().ReadFlash(0xF0100), 0xFF) << "a frame sent while busy is not programmed";
    const sim::FrameCounters counters = panel.Device().Counters();
    EXPECT_EQ(counters.pageFrames, 2u);
    EXPECT_EQ(counters.pageFramesWhileBusy, 1u);
}

TEST(BootLoaderTimingTest, a_page_read_takes_its_whole_wire_time_at_every_rate)
{
    // 256 bytes at 115200 bit/s take 22222.2 us; a character time cut to 86 us gave 22016.
    sim::BootLoaderConfig config;
    config.ignoreFlashUntilId = false;
    sim::CBootLoader device(config);
    const Bytes frame = simtest::PageReadFrame(0xF0000);
    uint64_t at = 1'000'000;
    for (const uint8_t code : {0xB0, 0xB4}) {
        const uint32_t baud = code == 0xB0 ? 9600 : 115200;
        const uint64_t wireUs = code == 0xB0 ? 266'667 : 22'223;
        device.Receive(code, at, 9600); // echoed at 9600, then the device moves
        at = device.TakeOutput(at + 1'000'000).back().arrivalUs;
        for (const uint8_t byte : frame)
            device.Receive(byte, at, baud);
        const std::vector<sim::DeviceByte> reply = device.TakeOutput(at + 1'000'000);
        ASSERT_EQ(reply.size(), 256u);
        EXPECT_EQ(reply.back().arrivalUs - at, wireUs);
        at = reply.back().arrivalUs + 1000;
    }
    EXPECT_EQ(sim::WireTimeUs(9600, 259), 269792u);
}

// Flash written out as S-records

TEST(FlashRecordsTest, blank_flash_gives_header_and_end_only)
{
    sim::CBootLoader device;
    EXPECT_EQ(sim::FormatFlashAsSRecords(device), "S00E0000746F7276616E652D73696D7C\nS804000000FB\n");
}

TEST(FlashRecordsTest, a_page_with_one_byte_is_written_whole_and_blank_pages_are_left_out)
{
    sim::CBootLoader device;
    device.WriteFlash(0xFFFFFF, 0x00);
    device.WriteFlash(0x000100, 0xFF); // touched but still blank
    const std::string text = sim::FormatFlashAsSRecords(device);
    EXPECT_NE(text.find("\nS224FFFF00FFFF"), std::string::npos);
    // The last record ends with the one programmed byte, then the checksum.
    EXPECT_NE(text.find("\nS224FFFFE0" + std::string(62, 'F') + "00"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 8 + 1);
}

} // namespace
