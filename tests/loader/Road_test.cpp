// The road's steps against the in-process simulated panel, on the virtual clock: what
// each step tells its listener, what the run's report says, and the time-outs it leaves.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "link/SerialComm.h"
#include "loader/Engine.h"
#include "loader/RateSearch.h"
#include "loader/Road.h"
#include "platform/Clock.h"
#include "sim/SimulatedPanel.h"

namespace {

struct StepListener : loader::IProgress
{
    void OnStepBegin(loader::Step step, uint32_t expectedMs) override { begun.push_back({step, expectedMs}); }
    void OnStepEnd(loader::Step step, const loader::Result& result) override { ended.push_back(step); }
    void OnWaiting(uint32_t elapsedMs, uint32_t deadlineMs) override
    {
        lastElapsed = elapsedMs;
        deadline = deadlineMs;
        ++waiting;
    }
    bool Cancelled() override { return stop; }

    std::vector<std::pair<loader::Step, uint32_t>> begun;
    std::vector<loader::Step> ended;
    uint32_t lastElapsed = 0, deadline = 0, waiting = 0;
    bool stop = false;
};

loader::PageSource Image(uint32_t firstPage, uint32_t count)
{
    return [=](uint8_t* page, uint32_t index) {
        if (index < firstPage || index >= firstPage + count) return false;
        for (uint32_t i = 0; i < kPageSize; ++i)
            page[i] = static_cast<uint8_t>(index + i);
        return true;
    };
}

class Road : public ::testing::Test
{
protected:
    Road()
    {
        EXPECT_TRUE(link.Open("ROAD"));
        options.replyTimeout = 1000;
        options.echoTimeout = 200;
        options.searchRates = loader::SearchOrder(loader::kBaseRate);
    }

    platform::CVirtualClock clock;
    platform::CScopedClock scoped{clock};
    sim::CSimulatedPanel panel{"ROAD"};
    CSerialComm link;
    StepListener listener;
    loader::CEngine engine{link, &listener};
    loader::RunReport report;
    loader::ConnectOptions options;
    loader::StatusRegister status;
};

TEST_F(Road, TheTimeOutInForceBeforeAnEraseOrAProgramRunIsInForceAfter)
{
    ASSERT_TRUE(loader::Connect(engine, report, options, status).Ok());
    ASSERT_TRUE(loader::CheckId(engine, report, status).Ok());
    ASSERT_TRUE(loader::Erase(engine, report).Ok());
    EXPECT_EQ(link.GetTimeout(), 1000u);
    ASSERT_TRUE(loader::Program(engine, report, Image(0xF00, 2), 0xF0000, 0xF0200, {}).Ok());
    EXPECT_EQ(link.GetTimeout(), 1000u);

    // The status read after the run hears a silent panel within the caller's second.
    panel.Device().SetSilent(true);
    const uint64_t before = clock.Now();
    EXPECT_EQ(loader::ReadStatus(engine, report, status, loader::Step::ProgramStatus).outcome,
              loader::Outcome::Silent);
    EXPECT_LE(clock.Now() - before, 1000u + 5);
}

TEST_F(Road, TheEraseTellsItsStepItsDeadlineAndItsEnd)
{
    ASSERT_TRUE(loader::Connect(engine, report, options, status).Ok());
    panel.Device().SetIdVerified(true);
    panel.Device().SetEraseTimeMs(15000);
    listener.begun.clear();
    ASSERT_TRUE(loader::Erase(engine, report).Ok());
    ASSERT_EQ(listener.begun.size(), 1u);
    EXPECT_EQ(listener.begun[0].first, loader::Step::Erase);
    EXPECT_EQ(listener.begun[0].second, linktime::kEraseStatusTimeout);
    // The countdown runs through the whole wait for the erase's status.
    EXPECT_GE(listener.waiting, 140u);
    EXPECT_EQ(listener.deadline, linktime::kEraseStatusTimeout);
    EXPECT_GE(listener.lastElapsed, 14800u);
    EXPECT_EQ(listener.ended.back(), loader::Step::Erase);
    ASSERT_NE(report.Find(loader::Step::Erase), nullptr);
    EXPECT_GE(report.Find(loader::Step::Erase)->milliseconds, 15000u);
    EXPECT_EQ(report.FailReason(), "");
}

TEST_F(Road, AFailedRunNamesTheFirstFailingStepItsPageAndTheRate)
{
    panel.Device().SetIdVerified(true);
    ASSERT_TRUE(loader::Connect(engine, report, options, status).Ok());
    const loader::RateChange change = loader::ChangeRate(engine, report, 115200);
    ASSERT_TRUE(change.result.Ok());
    EXPECT_EQ(report.rate, 115200u);

    // Pulled out after two pages: the third page's status never comes.
    panel.Device().SilentAfterBytes(1 + 2 * 260 + 259);
    const loader::Result programmed = loader::Program(engine, report, Image(0xF00, 16), 0xF0000, 0xF1000, {});
    EXPECT_EQ(programmed.outcome, loader::Outcome::Silent);
    EXPECT_EQ(report.pagesSent, 3u);
    EXPECT_FALSE(loader::ReturnTo9600(engine, report, true).result.Ok());
    EXPECT_EQ(report.FailReason(), "program page 0F0200: no reply at 115200 bit/s");
}

TEST_F(Road, ConnectFindsAPanelAFailedRunLeftAtAFastRateAndTakesItBack)
{
    panel.Device().SetIdVerified(true);
    ASSERT_TRUE(engine.NegotiateRate(9600, 57600).Ok());
    panel.ClearTrace();

    ASSERT_TRUE(loader::Connect(engine, report, options, status).Ok());
    EXPECT_EQ(report.rate, 57600u);
    EXPECT_TRUE(status.IdVerified());
    ASSERT_NE(report.Find(loader::Step::RateSearch), nullptr);
    EXPECT_EQ(report.FailReason(), "") << "the missing echo is no failure once the panel is found";

    EXPECT_TRUE(loader::ReturnTo9600(engine, report, true).result.Ok());
    EXPECT_EQ(panel.Device().Baud(), 9600u);
    EXPECT_EQ(engine.LinkRate(), 9600u);
}

TEST_F(Road, ARefusedIdIsTheIdCheckStepsFailure)
{
    panel.Device().SetId({1, 2, 3, 4, 5, 6, 7});
    ASSERT_TRUE(loader::Connect(engine, report, options, status).Ok());
    loader::StatusRegister after;
    EXPECT_EQ(loader::CheckId(engine, report, after).outcome, loader::Outcome::DeviceError);
    EXPECT_EQ(after.IdField(), status::kIdMismatch);
    EXPECT_EQ(report.FailReason(), "ID check: the panel refused the ID");
}

// A panel whose serial sits at E0000 and whose calibration fills D0000, and what the road keeps.
class Keep : public Road
{
protected:
    Keep()
    {
        panel.Device().SetIdVerified(true);
        for (uint32_t i = 0; i < kPageSize; ++i) {
            panel.Device().WriteFlash(0xD0000 + i, static_cast<uint8_t>(i));
            panel.Device().WriteFlash(0xE0000 + i, static_cast<uint8_t>(0xA0 ^ i));
            panel.Device().WriteFlash(0xE0100 + i, static_cast<uint8_t>(0x5A ^ i));
        }
        EXPECT_TRUE(loader::Connect(engine, report, options, status).Ok());
    }

    // The serial's 16 bytes, a range crossing into the next page, and the calibration: three pages.
    std::vector<uint32_t> Pages()
    {
        std::string refusal;
        const std::vector<uint32_t> pages =
            loader::PagesToKeep({{0xE0000, 16}, {0xE0008, 260}, {0xD0080, 4}}, refusal);
        EXPECT_EQ(refusal, "");
        return pages;
    }

    std::vector<uint8_t> Before(uint32_t page) { return before.at(page); }
    void Remember()
    {
        for (const uint32_t page : {0xD0000u, 0xE0000u, 0xE0100u})
            before[page] = panel.Device().ReadFlashRange(page, kPageSize);
    }

    std::map<uint32_t, std::vector<uint8_t>> before;
    loader::KeptPages kept;
};

TEST_F(Keep, RangesMergeIntoWholePagesAndNoneReachesIntoTheAreaOrPastSixteenPages)
{
    EXPECT_EQ(Pages(), (std::vector<uint32_t>{0xD0000, 0xE0000, 0xE0100}));
    std::string refusal;
    EXPECT_TRUE(loader::PagesToKeep({{0xF8000, 16}}, refusal).empty());
    EXPECT_EQ(refusal, "cannot keep 0F8000:16: only bytes below 0F0000 are kept (the upgrade replaces "
                       "0F0000-0FFFFF)");
    EXPECT_TRUE(loader::PagesToKeep({{0xEFFF8, 16}}, refusal).empty()) << "crosses into the area";
    EXPECT_EQ(loader::PagesToKeep({{0xE0000, 16 * kPageSize}}, refusal).size(), 16u);
    EXPECT_TRUE(loader::PagesToKeep({{0xE0000, 16 * kPageSize}, {0xD0000, 1}}, refusal).empty());
    EXPECT_EQ(refusal, "cannot keep 17 pages: at most 16 are kept");
}

TEST_F(Keep, KeptPagesComeBackWholeAfterTheEraseAndAreReadBack)
{
    Remember();
    ASSERT_TRUE(loader::ReadKeptPages(engine, report, Pages(), 2000, kept).Ok());
    ASSERT_TRUE(loader::Erase(engine, report).Ok());
    panel.Device().ResetCounters();
    ASSERT_TRUE(loader::WriteBackKeptPages(engine, report, kept, {}, 2000).Ok());
    for (const uint32_t page : {0xD0000u, 0xE0000u, 0xE0100u})
        EXPECT_EQ(panel.Device().ReadFlashRange(page, kPageSize), Before(page)) << std::hex << page;
    EXPECT_EQ(panel.Device().Counters().pageFrames, 3u);
    EXPECT_EQ(panel.Device().Counters().pageReads, 3u) << "each page read back";
    EXPECT_EQ(report.FailReason(), "");
}

TEST_F(Keep, AKeptPageThatDoesNotComeBackFailsTheKeepStep)
{
    ASSERT_TRUE(loader::ReadKeptPages(engine, report, Pages(), 2000, kept).Ok());
    // A cell that keeps its erased value, with no error bit to say so: the read-back finds it.
    ASSERT_TRUE(loader::Erase(engine, report).Ok());
    panel.Device().StickByte(0xE0103, 0xFF);
    EXPECT_EQ(loader::WriteBackKeptPages(engine, report, kept, {}, 2000).outcome, loader::Outcome::Mismatch);
    EXPECT_EQ(report.FailReason(), "keep: differs at 0E0103");

    loader::RunReport again;
    ASSERT_TRUE(loader::Erase(engine, again).Ok());
    panel.Device().FailProgramAtPage(0xE0000);
    EXPECT_EQ(loader::WriteBackKeptPages(engine, again, kept, {}, 2000).outcome,
              loader::Outcome::DeviceError);
    EXPECT_EQ(again.FailReason(), "keep page 0E0000: the panel reported a program error");
}

TEST_F(Keep, AStopRightAfterTheEraseStillWritesThemBack)
{
    Remember();
    ASSERT_TRUE(loader::ReadKeptPages(engine, report, Pages(), 2000, kept).Ok());
    ASSERT_TRUE(loader::Erase(engine, report).Ok());
    listener.stop = true;
    EXPECT_TRUE(loader::WriteBackKeptPages(engine, report, kept, {}, 2000).Ok());
    for (const uint32_t page : {0xD0000u, 0xE0000u, 0xE0100u})
        EXPECT_EQ(panel.Device().ReadFlashRange(page, kPageSize), Before(page)) << std::hex << page;
    // The stop is still asked, and the next range heeds it.
    EXPECT_EQ(loader::Program(engine, report, Image(0xF00, 4), 0xF0000, 0xF0400, {}).outcome,
              loader::Outcome::Cancelled);
}

} // namespace
