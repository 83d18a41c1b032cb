// The engine on its own against the in-process simulated panel, on the virtual clock:
// per operation its result, the bytes on the wire and the waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "link/SerialComm.h"
#include "link/SerialCommState.h"
#include "loader/Engine.h"
#include "platform/Clock.h"
#include "sim/SimulatedPanel.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Records what the engine tells its front end.
struct Listener : loader::IProgress
{
    explicit Listener(platform::CVirtualClock& c, CSerialComm& l) : clock(c), link(l) {}
    void OnStart(uint32_t total) override { totalPages = total; }
    void OnPage(uint32_t done, uint32_t, uint32_t) override { pages = done; }
    bool Cancelled() override { return cancelAfter && pages >= cancelAfter; }
    void OnWait() override { waits.push_back(clock.Now()); }
    void OnNoReply() override { timeoutAtNoReply = link.GetTimeout(); }

    platform::CVirtualClock& clock;
    CSerialComm& link;
    uint32_t totalPages = 0, pages = 0, cancelAfter = 0, timeoutAtNoReply = 0;
    std::vector<uint64_t> waits;
};

class EngineTest : public ::testing::Test
{
protected:
    EngineTest() : panel("ENGINE", Config())
    {
        EXPECT_TRUE(link.Open("ENGINE"));
        CSerialCommState state;
        state.m_dwBaudRate = 9600;
        state.m_byByteSize = 8;
        EXPECT_TRUE(link.SetState(state));
        link.SetTimeout(linktime::kNormalReadTimeout);
    }
    static sim::BootLoaderConfig Config()
    {
        sim::BootLoaderConfig config;
        config.idVerifiedAtStart = true;
        return config;
    }
    Bytes Sent() const { return panel.HostBytes(); }
    static loader::PageSource Image(uint32_t firstPage, uint32_t count, uint8_t seed)
    {
        return [=](uint8_t* page, uint32_t index) {
            if (index < firstPage || index >= firstPage + count) return false;
            for (uint32_t i = 0; i < kPageSize; ++i)
                page[i] = static_cast<uint8_t>(seed + index + i * 3);
            return true;
        };
    }
    static uint64_t LongestGap(std::vector<uint64_t> times, uint64_t from, uint64_t to)
    {
        times.insert(times.begin(), from);
        times.push_back(to);
        uint64_t gap = 0;
        for (size_t i = 1; i < times.size(); ++i)
            gap = std::max(gap, times[i] - times[i - 1]);
        return gap;
    }

    platform::CVirtualClock clock;
    platform::CScopedClock scoped{clock};
    sim::CSimulatedPanel panel;
    CSerialComm link;
    Listener listener{clock, link};
    loader::CEngine engine{link, &listener};
};

TEST_F(EngineTest, StatusTellsSilenceLineErrorsAndALostPortApart)
{
    loader::StatusRegister status;
    EXPECT_EQ(engine.ReadStatus(status).outcome, loader::Outcome::Done);
    EXPECT_TRUE(status.Ready());
    EXPECT_TRUE(status.IdVerified());
    EXPECT_EQ(Sent(), Bytes{0x70});

    panel.Device().LineErrorOnNextRead();
    EXPECT_EQ(engine.ReadStatus(status).outcome, loader::Outcome::LineError);
    clock.Advance(10); // the garbled reply is in; it must not answer the next request
    link.Purge(0);

    panel.Device().SetSilent(true);
    const uint64_t before = clock.Now();
    EXPECT_EQ(engine.ReadStatus(status).outcome, loader::Outcome::Silent);
    EXPECT_GE(clock.Now() - before, linktime::kNormalReadTimeout);
    EXPECT_LE(clock.Now() - before, linktime::kNormalReadTimeout + 5);
    // A plain status read is the caller's business: no recovery is asked for.
    EXPECT_EQ(listener.timeoutAtNoReply, 0u);

    link.Close();
    EXPECT_EQ(engine.ReadStatus(status).outcome, loader::Outcome::PortLost);
}

TEST_F(EngineTest, EraseSendsItsSequenceAndWaitsUpTo40SecondsCallingTheFrontEndEvery100Ms)
{
    panel.Device().SetEraseTimeMs(15000);
    panel.Device().WriteFlash(0xF1234, 0x12);
    const uint64_t before = clock.Now();
    EXPECT_EQ(engine.EraseAll().outcome, loader::Outcome::Done);
    EXPECT_EQ(Sent(), (Bytes{0x50, 0x75, 0xA7, 0xD0, 0x70}));
    EXPECT_EQ(panel.Device().ReadFlash(0xF1234), 0xFF);
    EXPECT_LE(LongestGap(listener.waits, before, clock.Now()), 100u);
    EXPECT_EQ(link.GetTimeout(), linktime::kNormalReadTimeout);

    panel.Device().FailErase(true);
    EXPECT_EQ(engine.EraseAll().outcome, loader::Outcome::DeviceError);

    // Silence: the front end hears of it while the 40 s time-out is still in force.
    panel.Device().SetSilent(true);
    listener.waits.clear();
    const uint64_t silentFrom = clock.Now();
    EXPECT_EQ(engine.EraseAll().outcome, loader::Outcome::Silent);
    EXPECT_EQ(listener.timeoutAtNoReply, linktime::kEraseStatusTimeout);
    EXPECT_GE(clock.Now() - silentFrom, 3 * linktime::kCommandPause + linktime::kEraseStatusTimeout);
    EXPECT_LE(LongestGap(listener.waits, silentFrom, clock.Now()), 100u);
    EXPECT_EQ(link.GetTimeout(), linktime::kNormalReadTimeout);
}

TEST_F(EngineTest, ProgramRangeWritesEveryPageOrOnlyTheDataPages)
{
    const auto image = Image(0xF00, 3, 7); // pages F0000..F02FF
    loader::Result result = engine.ProgramRange(image, 0xF0000, 0xF0400, {});
    EXPECT_EQ(result.outcome, loader::Outcome::Done);
    EXPECT_EQ(result.pagesSent, 4u);
    EXPECT_EQ(panel.Device().ProgrammedPages().size(), 4u);
    for (uint32_t page = 0xF00; page < 0xF03; ++page) {
        uint8_t expected[kPageSize];
        image(expected, page);
        EXPECT_EQ(panel.Device().ReadFlashRange(page * kPageSize, kPageSize),
                  Bytes(expected, expected + kPageSize));
    }
    // 0x50 with its pause, then per page the frame, the 40 ms pause and a status read.
    const Bytes sent = Sent();
    EXPECT_EQ(sent.size(), 1 + 4 * (259 + 1));
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 4), (Bytes{0x50, 0x41, 0x00, 0x0F}));

    const size_t programmedBefore = panel.Device().ProgrammedPages().size();
    loader::ProgramOptions skipping;
    skipping.skipBlankPages = true;
    result = engine.ProgramRange(image, 0xF0000, 0x100000, skipping);
    EXPECT_EQ(result.outcome, loader::Outcome::Done);
    EXPECT_EQ(result.pagesSent, 3u);
    EXPECT_EQ(listener.totalPages, 3u);
    EXPECT_EQ(panel.Device().ProgrammedPages().size() - programmedBefore, 3u);
}

TEST_F(EngineTest, ProgramRangeStopsBetweenPagesAndReportsTheFailedPage)
{
    listener.cancelAfter = 3;
    loader::Result result = engine.ProgramRange(Image(0xF00, 256, 1), 0xF0000, 0x100000, {});
    EXPECT_EQ(result.outcome, loader::Outcome::Cancelled);
    EXPECT_EQ(result.pagesSent, 3u);
    // The third frame went; its status was never asked for.
    EXPECT_EQ(Sent().back(), static_cast<uint8_t>(1 + 0xF02 + 255 * 3));
    EXPECT_EQ(link.GetTimeout(), linktime::kNormalReadTimeout);

    listener.cancelAfter = 0;
    panel.Device().FailProgramAtPage(0xF8000);
    result = engine.ProgramRange(Image(0xF00, 256, 1), 0xF0000, 0x100000, {});
    EXPECT_EQ(result.outcome, loader::Outcome::DeviceError);
    EXPECT_EQ(result.address, 0xF8000u);
    EXPECT_TRUE(result.status.ProgramError());

    // An unanswered page is reported while the page's 150 ms time-out is in force.
    panel.Device().SilentAfterBytes(2 * 260 + 1);
    result = engine.ProgramRange(Image(0xF00, 256, 1), 0xF0000, 0x100000, {});
    EXPECT_EQ(result.outcome, loader::Outcome::Silent);
    EXPECT_EQ(listener.timeoutAtNoReply, linktime::kPageStatusTimeout);
    EXPECT_EQ(result.address, 0xF0200u); // the third page's status went unanswered
}

TEST_F(EngineTest, ProgramRangeWaitsForTheReadyBitWhenThePauseIsShort)
{
    panel.Device().SetProgramTimeMs(30);
    loader::ProgramOptions quick;
    quick.pagePause = 5;
    quick.waitForReady = true;
    const loader::Result result = engine.ProgramRange(Image(0xF00, 8, 3), 0xF0000, 0xF0800, quick);
    EXPECT_EQ(result.outcome, loader::Outcome::Done);
    EXPECT_EQ(panel.Device().ProgrammedPages().size(), 8u);
    EXPECT_FALSE(panel.Device().Busy());
}

TEST_F(EngineTest, CheckRangeFindsTheFirstDifferenceAndTheBlankCheckAnyByte)
{
    const auto image = Image(0xF00, 2, 9);
    ASSERT_EQ(engine.ProgramRange(image, 0xF0000, 0xF0200, {}).outcome, loader::Outcome::Done);
    EXPECT_EQ(engine.CheckRange(image, 0xF0000, 0xF0200, loader::CheckMode::CompareAll, 5000).outcome,
              loader::Outcome::Done);
    EXPECT_EQ(Sent().back(), 0x0F); // the last page read: FF 01 0F

    panel.Device().StickByte(0xF0123, 0x00);
    ASSERT_EQ(engine.ProgramRange(image, 0xF0000, 0xF0200, {}).outcome, loader::Outcome::Done);
    loader::Result result = engine.CheckRange(image, 0xF0000, 0xF0200, loader::CheckMode::CompareAll, 5000);
    EXPECT_EQ(result.outcome, loader::Outcome::Mismatch);
    EXPECT_EQ(result.address, 0xF0123u);

    result = engine.CheckRange({}, 0xF0200, 0xF0400, loader::CheckMode::Blank, 5000);
    EXPECT_EQ(result.outcome, loader::Outcome::Done);
    result = engine.CheckRange({}, 0xF0000, 0xF0400, loader::CheckMode::Blank, 5000);
    EXPECT_EQ(result.outcome, loader::Outcome::Mismatch);
    EXPECT_EQ(result.address, 0xF0000u);

    std::vector<uint8_t> bytes;
    EXPECT_EQ(engine.ReadRange(0xF0000, 0xF0200, 5000, bytes).outcome, loader::Outcome::Done);
    EXPECT_EQ(bytes.size(), 512u);
    EXPECT_EQ(bytes[0x123], 0x00);

    panel.Device().SetSilent(true);
    result = engine.ReadPage(0xF0000, bytes.data(), 700);
    EXPECT_EQ(result.outcome, loader::Outcome::Silent);
    EXPECT_EQ(listener.timeoutAtNoReply, 700u);
    EXPECT_EQ(link.GetTimeout(), linktime::kNormalReadTimeout);
}

TEST_F(EngineTest, IdCheckVersionAndDownloadSendTheirFrames)
{
    panel.Device().SetIdVerified(false);
    loader::StatusRegister after;
    std::array<uint8_t, loader::kIdLength> id;
    id.fill(0x11);
    EXPECT_EQ(engine.CheckId(id, after).outcome, loader::Outcome::Done);
    EXPECT_FALSE(after.IdVerified());
    id.fill(0xB6);
    panel.ClearTrace();
    EXPECT_EQ(engine.CheckId(id, after).outcome, loader::Outcome::Done);
    EXPECT_TRUE(after.IdVerified());
    EXPECT_EQ(Sent(), (Bytes{0xF5, 0xDF, 0xFF, 0x0F, 0x07, 0xB6, 0xB6, 0xB6, 0xB6, 0xB6, 0xB6, 0xB6, 0x70}));

    std::string version;
    EXPECT_EQ(engine.ReadVersion(version).outcome, loader::Outcome::Done);
    EXPECT_EQ(version, "VER.1.00");

    panel.ClearTrace();
    EXPECT_EQ(engine.DownloadRange(Image(0x10, 2, 0), 0x1000, 0x11FF, 10).outcome, loader::Outcome::Done);
    const Bytes sent = Sent();
    ASSERT_EQ(sent.size(), 4u + 512u);
    EXPECT_EQ(sent[0], 0xFA);
    EXPECT_EQ(sent[1], 0x00); // 512 bytes: low byte 0x00, high byte 0x02
    EXPECT_EQ(sent[2], 0x02);
    EXPECT_EQ(panel.Device().DownloadedProgram().size(), 512u);
}

TEST_F(EngineTest, RateNegotiationMovesBothEndsWithItsSettleTimes)
{
    const uint64_t before = clock.Now();
    ASSERT_EQ(engine.NegotiateRate(9600, 115200).outcome, loader::Outcome::Done);
    EXPECT_GE(clock.Now() - before, linktime::kCommandPause + 2 * linktime::kCodeSettleTime);
    ASSERT_TRUE(engine.SetLinkRate(115200));
    EXPECT_EQ(engine.ConfirmRate(115200).outcome, loader::Outcome::Done);
    EXPECT_EQ(panel.Device().Baud(), 115200u);
    EXPECT_EQ(Sent(), (Bytes{0xB0, 0xB4, 0xB4}));

    panel.Device().RefuseBaudCode(0xB3);
    EXPECT_EQ(engine.NegotiateRate(115200, 57600).outcome, loader::Outcome::Silent);
    EXPECT_EQ(panel.Device().Baud(), 115200u);
}

TEST_F(EngineTest, SyncBurstAndPausesKeepTheirTimes)
{
    const uint64_t before = clock.Now();
    EXPECT_EQ(engine.SendSyncBurst(20).outcome, loader::Outcome::Done);
    // The pauses, plus each byte's wire time at 9600 bit/s.
    EXPECT_GE(clock.Now() - before, 50u + 16 * 20 + 50);
    EXPECT_LE(clock.Now() - before, 50u + 16 * 20 + 50 + 17 * 2 + 1);
    Bytes expected{0xB0};
    expected.resize(17, 0x00);
    EXPECT_EQ(Sent(), expected);
    uint8_t echo = 0;
    EXPECT_TRUE(engine.ReadByte(echo).Ok());
    EXPECT_EQ(echo, 0xB0);

    listener.waits.clear();
    const uint64_t pauseFrom = clock.Now();
    engine.Pause(1000);
    EXPECT_EQ(clock.Now() - pauseFrom, 1000u);
    EXPECT_EQ(listener.waits.size(), 20u);
}

} // namespace
