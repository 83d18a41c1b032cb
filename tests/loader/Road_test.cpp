// The road's steps against the in-process simulated panel, on the virtual clock: what
// each step tells its listener, what the run's report says, and the time-outs it leaves.
#include <gtest/gtest.h>

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

    std::vector<std::pair<loader::Step, uint32_t>> begun;
    std::vector<loader::Step> ended;
    uint32_t lastElapsed = 0, deadline = 0, waiting = 0;
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

} // namespace
