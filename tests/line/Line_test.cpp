// The line server on a throw-away PostgreSQL cluster (tests/records/pg-cluster): its
// yields, cycle times and Pareto on a hand-made set whose answers are known, its users,
// /metrics, the HTTP refusals, and the stations' ingest.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <httplib.h>
#include <mutex>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "line/LineEvents.h"
#include "line/LineIngest.h"
#include "line/LineMetrics.h"
#include "line/LinePage.h"
#include "line/LineQueries.h"
#include "line/LineServer.h"
#include "line/LineStations.h"
#include "line/LineTableCache.h"
#include "line/LineUsers.h"
#include "line/StationTokenCache.h"
#include "platform/ThisProcess.h"
#include "records/AttemptFormats.h"
#include "records/RecordStore.h"
#include "records/server/FixtureStates.h"
#include "records/server/RecordsSender.h"
#include "records/server/RecordsServer.h"
#include "records/server/ServerRecords.h"
#include "records/server/StationToken.h"
#include "tests/fixtures/Shell.h"

namespace fs = std::filesystem;

namespace {

// One attempt of the hand-made set; every one on 2026-11-02 unless told.
struct Seed
{
    std::string serial, port, outcome;
    int64_t seconds;
    std::string erase, program, lastMessage;
    std::string tag = "", file = "panel.mot", day = "2026-11-02", command = "station";
};

class LineServer : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = fs::temp_directory_path() / ("torvane-line-" + std::to_string(getpid()));
        fs::remove_all(s_dir);
        fs::create_directories(s_dir);
        chmod(s_dir.c_str(), 0755); // the server runs as another user under root
        int status = 0;
        const std::string script = TORVANE_SOURCE_DIR "/tests/records/pg-cluster";
        const std::string url = Shell(script + " start '" + (s_dir / "cluster").string() + "' 2>&1", status);
        if (status == 77) {
            s_missing = true;
            return;
        }
        ASSERT_EQ(status, 0) << url;
        s_url = url.substr(0, url.find('\n'));
        std::string password;
        std::getline(std::ifstream(s_dir / "cluster" / "password"), password);
        std::ofstream(s_dir / "pgpass") << "*:*:*:torvane:" << password << "\n";
        chmod((s_dir / "pgpass").c_str(), 0600);
        setenv("PGPASSFILE", (s_dir / "pgpass").c_str(), 1);
        CPgConnection conn;
        std::string done, error;
        ASSERT_TRUE(conn.Connect(s_url, error)) << error;
        ASSERT_TRUE(records_server::InitSchema(conn, done, error)) << error;
        ASSERT_TRUE(line::InitUsers(conn, error)) << error;
    }
    static void TearDownTestSuite()
    {
        int status = 0;
        if (!s_missing)
            Shell(std::string(TORVANE_SOURCE_DIR "/tests/records/pg-cluster destroy '") +
                      (s_dir / "cluster").string() + "'",
                  status);
        std::error_code ec;
        fs::remove_all(s_dir, ec);
    }
    void SetUp() override
    {
        if (s_missing) GTEST_SKIP() << "no PostgreSQL server programs (scripts/setup installs postgresql)";
        std::string error;
        ASSERT_TRUE(m_conn.Connect(s_url, error)) << error;
        ASSERT_TRUE(m_conn
                        .Exec("TRUNCATE torvane_attempt, torvane_line_user, torvane_fixture_state, "
                              "torvane_line_station")
                        .Ok())
            << m_conn.Error();
        ASSERT_TRUE(records_server::PrepareUpsert(m_conn, error)) << error;
    }

    // failStep, failReason and failKind: as the record holds them (a station older than
    // the step's or the kind's field sends the reason alone).
    void Add(const Seed& seed, const std::string& failStep = {}, const std::string& failReason = {},
             const std::string& failKind = {})
    {
        CAttempt a;
        char id[40];
        std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", ++m_count);
        a.id = id;
        char started[40];
        std::snprintf(started, sizeof started, "%sT08:%02d:00.000Z", seed.day.c_str(), m_count);
        a.startedUtc = started;
        a.endedUtc = a.startedUtc;
        a.host = "st1";
        a.user = "line";
        a.processId = 7;
        a.toolVersion = "1.0.0";
        a.command = seed.command;
        a.port = seed.port;
        a.serialText = seed.serial;
        a.outcome = seed.outcome;
        a.idCheck = step::kOk;
        a.eraseResult = seed.erase;
        a.programResult = seed.program;
        if (!seed.lastMessage.empty()) a.messages = {"Link up.", seed.lastMessage};
        a.failStep = failStep;
        a.failReason = failReason;
        a.failKind = failKind;
        a.durationMs = seed.seconds * 1000;
        a.tag = seed.tag;
        a.fileName = seed.file;
        a.revision = 2;
        std::string error;
        ASSERT_TRUE(records_server::Upsert(m_conn, a, "st1", error)) << error;
    }

    // Ten attempts on 2026-11-02 and one on an earlier day:
    //   SN-0001 fails at programming, then passes (tag WO-7);
    //   SN-0002 passes; SN-0003 fails twice at the erase;
    //   SN-0004 is stopped before the erase, then passes; SN-0005 is stopped part-way;
    //   two panels without a serial: one passed, one held the file already.
    void SeedLine()
    {
        const std::string ok = step::kOk, failed = step::kFailed, stopped = step::kStopped;
        Add({"SN-0002", "COM1", outcome::kFail, 70, ok, failed, "Program failed at page 9.", "", "panel.mot",
             "2026-10-30"});
        Add({"SN-0001", "COM1", outcome::kFail, 30, ok, failed, "Program failed at page 3.", "WO-7"},
            "program", "program page 0F0200: no reply at 115200 bit/s");
        Add({"SN-0001", "COM1", outcome::kPass, 40, ok, ok, "Program OK.", "WO-7"});
        Add({"SN-0002", "COM1", outcome::kPass, 50, ok, ok, "Program OK."});
        Add({"SN-0003", "COM2", outcome::kFail, 10, failed, "", "Erase failed."}, "erase",
            "erase: the panel reported an erase error");
        Add({"SN-0003", "COM2", outcome::kFail, 20, failed, "", "Erase failed."}, "",
            "erase: the panel reported an erase error");
        Add({"SN-0004", "COM2", outcome::kStopped, 5, "", "", "Stopped."});
        Add({"SN-0004", "COM2", outcome::kPass, 60, ok, ok, "Program OK."});
        Add({"SN-0005", "COM2", outcome::kStopped, 15, ok, stopped, "Stopped."});
        Add({"", "COM1", outcome::kPass, 100, ok, ok, "Program OK.", "", "other.mot"});
        Add({"", "COM1", outcome::kUnchanged, 2, "", "", "Already up to date.", "", "other.mot"});
    }

    // The line's totals, rows taken to zero left out: the same whether kept by the trigger
    // or made again from the rows.
    std::string Summaries()
    {
        std::string all;
        for (const char* sql :
             {"SELECT row(day, key, attempts, timed, duration_ms)::text FROM torvane_day_fixture"
              " WHERE attempts <> 0 ORDER BY day, key",
              "SELECT row(day, key, seconds, attempts)::text FROM torvane_day_cycle WHERE attempts <> 0"
              " ORDER BY day, key, seconds",
              "SELECT row(key, first_utc, host, first_passed, last_passed, counted)::text FROM torvane_panel"
              " ORDER BY key",
              "SELECT row(day, key, panels, first_passed, final_passed, counted)::text FROM torvane_day_panel"
              " WHERE panels <> 0 ORDER BY day, key"}) {
            const CPgResult result = m_conn.Exec(sql);
            if (!result.Ok()) return result.Error();
            for (int row = 0; row < result.Rows(); ++row)
                all += result.Text(row, 0) + "\n";
            all += "--\n";
        }
        return all;
    }

    static line::CLineFilter Period()
    {
        return {"2026-11-02T00:00:00Z", "2026-11-03T00:00:00Z", std::nullopt, std::nullopt};
    }
    static std::vector<std::string> Row(const line::CLineTable& table, size_t row)
    {
        std::vector<std::string> cells;
        for (const auto& cell : table.rows.at(row))
            cells.push_back(cell.value_or("NULL"));
        return cells;
    }

    static inline fs::path s_dir;
    static inline std::string s_url;
    static inline bool s_missing = false;
    CPgConnection m_conn;
    int m_count = 0;
};

using Cells = std::vector<std::string>;

// Yesterday (UTC): within the fixtures' 30 days, and its hours never in the future.
std::string Yesterday()
{
    const std::time_t then = std::time(nullptr) - 86400;
    std::tm tm{};
    gmtime_r(&then, &tm);
    char day[16];
    std::strftime(day, sizeof day, "%Y-%m-%d", &tm);
    return day;
}

// The payloads a LISTENing connection receives up to the marker this test sends itself:
// notifications arrive in commit order, so whatever came before it was sent before it.
std::vector<std::string> HeardUpToMarker(CPgConnection& listener, CPgConnection& conn)
{
    conn.Exec("NOTIFY torvane_line, 'marker'");
    std::vector<std::string> heard;
    for (int round = 0; round < 50; ++round) {
        pollfd fd{listener.Socket(), POLLIN, 0};
        ::poll(&fd, 1, 100);
        if (!listener.TakeNotifications(heard)) break;
        if (!heard.empty() && heard.back() == "marker") {
            heard.pop_back();
            return heard;
        }
    }
    heard.push_back("no marker");
    return heard;
}

records_server::CFixtureStateRow Programming(int64_t page)
{
    records_server::CFixtureStateRow row;
    row.fixture = "COM1";
    row.state = "programming";
    row.detail = "programming " + std::to_string(page) + "/256";
    row.step = "program";
    row.pagesDone = page;
    row.pagesTotal = 256;
    return row;
}

TEST_F(LineServer, YieldsCountEachSerialsFirstAndLastWorkedAttempt)
{
    SeedLine();
    line::CLineTable table;
    std::string error;
    ASSERT_TRUE(line::Yields(m_conn, Period(), table, error)) << error;
    // attempts, passed, failed, part-way, attempt yield, serials, first-pass, final, retests
    // SN-0002 counts on 2026-10-30, the day of its first counted attempt.
    EXPECT_EQ(Row(table, 0), (Cells{"10", "5", "3", "1", "62.5 %", "3", "33.3 %", "66.7 %", "2"}));

    line::CLineFilter tag = Period();
    tag.tag = "WO-7";
    ASSERT_TRUE(line::Yields(m_conn, tag, table = {}, error)) << error;
    EXPECT_EQ(Row(table, 0), (Cells{"2", "1", "1", "0", "50.0 %", "1", "0.0 %", "100.0 %", "1"}));

    line::CLineFilter noSerials = Period();
    noSerials.file = "other.mot";
    ASSERT_TRUE(line::Yields(m_conn, noSerials, table = {}, error)) << error;
    EXPECT_EQ(Row(table, 0), (Cells{"2", "2", "0", "0", "100.0 %", "0", "n/a", "n/a", "0"}));
}

TEST_F(LineServer, YieldsCountPanelsUpgradedNotAnEraseOrAVerifyOfItsOwn)
{
    // A technician's Erase then Program on one panel, a verify of it, and a failed read:
    // four attempts, one panel passed, nothing failed.
    const std::string ok = step::kOk;
    for (const char* command : {"windows erase", "windows program", "verify"})
        Add({"SN-0100", "COM9", outcome::kPass, 10, ok, std::string(command) == "windows erase" ? "" : ok, "",
             "", "panel.mot", "2026-11-02", command});
    Add({"SN-0100", "COM9", outcome::kFail, 10, "", "", "", "", "panel.mot", "2026-11-02", "read"}, "read",
        "read page 0F0000: no reply at 115200 bit/s");
    line::CLineTable table;
    std::string error;
    ASSERT_TRUE(line::Yields(m_conn, Period(), table, error)) << error;
    EXPECT_EQ(Row(table, 0), (Cells{"4", "1", "0", "0", "100.0 %", "1", "100.0 %", "100.0 %", "0"}));
    ASSERT_TRUE(line::Pareto(m_conn, Period(), line::ParetoBy::Fixture, table = {}, error)) << error;
    EXPECT_TRUE(table.rows.empty());
    ASSERT_TRUE(line::CycleTimes(m_conn, Period(), table = {}, error)) << error;
    ASSERT_EQ(table.rows.size(), 1u);
    EXPECT_EQ(Row(table, 0)[2], "1");
    // The whole days' totals say the same as the rows.
    const line::CLineFilter week{"2026-10-30T00:00:00Z", "2026-11-06T00:00:00Z", std::nullopt, std::nullopt};
    ASSERT_TRUE(line::Yields(m_conn, week, table = {}, error)) << error;
    EXPECT_EQ(Row(table, 0), (Cells{"4", "1", "0", "0", "100.0 %", "1", "100.0 %", "100.0 %", "0"}));
}

TEST_F(LineServer, CycleTimesArePercentilesOfTheWorkedAttemptsPerFixture)
{
    SeedLine();
    line::CLineTable table;
    std::string error;
    ASSERT_TRUE(line::CycleTimes(m_conn, Period(), table, error)) << error;
    ASSERT_EQ(table.rows.size(), 2u);
    // COM1: 30, 40, 50, 100 s (the panel that held the file already is no cycle);
    // COM2: 10, 20, 60 s (the stops are not either).
    EXPECT_EQ(Row(table, 0), (Cells{"st1", "COM1", "4", "45.0", "85.0"}));
    EXPECT_EQ(Row(table, 1), (Cells{"st1", "COM2", "3", "20.0", "52.0"}));
}

TEST_F(LineServer, ParetoRanksFailuresByStepAloneAndByTheReasonsKindWithItsPages)
{
    SeedLine();
    // The same kind at another page, from a station that keeps the kind apart.
    Add({"SN-0006", "COM1", outcome::kFail, 30, step::kOk, step::kFailed, "Program failed."}, "program",
        "program page 0F5000: no reply at 115200 bit/s", "no reply at 115200 bit/s");
    line::CLineTable table;
    std::string error;
    ASSERT_TRUE(line::Pareto(m_conn, Period(), line::ParetoBy::Step, table, error)) << error;
    // Grouped by the records' step, never by the messages shown; the older station's row
    // (no step of its own) joins its step by the reason's first words.
    ASSERT_EQ(table.rows.size(), 2u);
    EXPECT_EQ(Row(table, 0), (Cells{"erase", "2", "50.0 %", "50.0 %"}));
    EXPECT_EQ(Row(table, 1), (Cells{"program", "2", "50.0 %", "100.0 %"}));
    // Rows without the kind take it from their reason: one reason, its pages listed.
    ASSERT_TRUE(line::Pareto(m_conn, Period(), line::ParetoBy::Reason, table = {}, error)) << error;
    ASSERT_EQ(table.rows.size(), 2u);
    EXPECT_EQ(Row(table, 0), (Cells{"erase", "the panel reported an erase error", "NULL", "2", "50.0 %", "50.0 %"}));
    EXPECT_EQ(Row(table, 1),
              (Cells{"program", "no reply at 115200 bit/s", "0F0200, 0F5000", "2", "50.0 %", "100.0 %"}));
    // The whole days' totals group alike.
    const line::CLineFilter week{"2026-11-01T00:00:00Z", "2026-11-08T00:00:00Z", std::nullopt, std::nullopt};
    line::CLineTable fromTotals;
    ASSERT_TRUE(line::Pareto(m_conn, week, line::ParetoBy::Reason, fromTotals, error)) << error;
    EXPECT_EQ(fromTotals.rows, table.rows);

    ASSERT_TRUE(line::Pareto(m_conn, Period(), line::ParetoBy::Fixture, table = {}, error)) << error;
    ASSERT_EQ(table.rows.size(), 2u);
    EXPECT_EQ(Row(table, 0), (Cells{"st1", "COM1", "2", "50.0 %", "50.0 %"}));
    EXPECT_EQ(Row(table, 1), (Cells{"st1", "COM2", "2", "50.0 %", "100.0 %"}));
}

TEST_F(LineServer, SummariesFollowInsertsARevisionAndADelete)
{
    SeedLine();
    // A stop part-way revised into another serial's pass; an attempt deleted.
    ASSERT_TRUE(m_conn
                    .Exec("UPDATE torvane_attempt SET outcome = 'pass', program_result = 'ok',"
                          " serial_text = 'SN-0006', revision = 3 WHERE serial_text = 'SN-0005'")
                    .Ok())
        << m_conn.Error();
    ASSERT_TRUE(
        m_conn.Exec("DELETE FROM torvane_attempt WHERE serial_text = 'SN-0003' AND fail_step = 'erase'").Ok())
        << m_conn.Error();
    const std::string kept = Summaries();
    ASSERT_TRUE(m_conn.Exec("SELECT torvane_summaries_fill()").Ok()) << m_conn.Error();
    EXPECT_EQ(kept, Summaries());
    EXPECT_GT(std::count(kept.begin(), kept.end(), '\n'), 20);
}

TEST_F(LineServer, APeriodOfWholeDaysAndPartOfTwoIsTheSumOfBoth)
{
    SeedLine();
    // Half of 2026-10-29 (nothing), three whole days (SN-0002's failure on 2026-10-30) and
    // 2026-11-02 up to 08:05:30 (its first four attempts).
    const line::CLineFilter period{"2026-10-29T12:00:00Z", "2026-11-02T08:05:30Z", std::nullopt,
                                   std::nullopt};
    line::CLineTable table;
    std::string error;
    ASSERT_TRUE(line::Yields(m_conn, period, table, error)) << error;
    // SN-0003's second failure, after the period, is still its panel's last attempt.
    EXPECT_EQ(Row(table, 0), (Cells{"5", "2", "3", "0", "40.0 %", "3", "0.0 %", "66.7 %", "3"}));
    ASSERT_TRUE(line::Pareto(m_conn, period, line::ParetoBy::Fixture, table = {}, error)) << error;
    ASSERT_EQ(table.rows.size(), 2u);
    EXPECT_EQ(Row(table, 0), (Cells{"st1", "COM1", "2", "66.7 %", "66.7 %"}));
    EXPECT_EQ(Row(table, 1), (Cells{"st1", "COM2", "1", "33.3 %", "100.0 %"}));
    ASSERT_TRUE(line::CycleTimes(m_conn, period, table = {}, error)) << error;
    ASSERT_EQ(table.rows.size(), 2u);
    EXPECT_EQ(Row(table, 0), (Cells{"st1", "COM1", "4", "45.0", "64.0"}));
    EXPECT_EQ(Row(table, 1), (Cells{"st1", "COM2", "1", "10.0", "10.0"}));
}

TEST_F(LineServer, AMigrationFromVersion4FillsTheSummaries)
{
    // A version-4 server: its rows, no summaries.
    for (const char* sql :
         {"DROP TRIGGER torvane_attempt_summary ON torvane_attempt",
          "DROP TRIGGER torvane_attempt_summary_truncate ON torvane_attempt",
          "DROP TABLE torvane_day_fixture, torvane_day_cycle, torvane_panel, torvane_day_panel"})
        ASSERT_TRUE(m_conn.Exec(sql).Ok()) << m_conn.Error();
    SeedLine();
    ASSERT_TRUE(m_conn.Exec("ALTER TABLE torvane_attempt DROP COLUMN fail_kind").Ok()) << m_conn.Error();
    ASSERT_TRUE(m_conn.Exec("UPDATE torvane_schema SET version = 4").Ok()) << m_conn.Error();
    ASSERT_TRUE(m_conn
                    .Exec("DO $$ BEGIN CREATE ROLE line_test_reader; EXCEPTION WHEN duplicate_object THEN NULL;"
                          " END $$")
                    .Ok())
        << m_conn.Error();
    ASSERT_TRUE(m_conn.Exec("GRANT SELECT ON torvane_attempt TO line_test_reader").Ok()) << m_conn.Error();
    std::string done, error;
    ASSERT_TRUE(records_server::InitSchema(m_conn, done, error)) << error;
    EXPECT_EQ(done, "migrated the server's records to version " +
                        std::to_string(records_server::kSchemaVersion) + " (from 4)");
    // The line's reader reads the totals as it read the attempts.
    EXPECT_EQ(m_conn.Exec("SELECT has_table_privilege('line_test_reader', 'torvane_day_panel', 'SELECT')").Text(0, 0),
              "t");
    line::CLineTable table;
    ASSERT_TRUE(line::Yields(m_conn, Period(), table, error)) << error;
    EXPECT_EQ(Row(table, 0), (Cells{"10", "5", "3", "1", "62.5 %", "3", "33.3 %", "66.7 %", "2"}));
}

TEST_F(LineServer, TraceFindsThePanelsByARecordIdOrAnyPartOfTheirSerial)
{
    SeedLine();
    line::CLineTable table;
    std::string error;
    ASSERT_TRUE(line::Trace(m_conn, "00000000-0000-4000-8000-000000000004", table, error)) << error;
    ASSERT_EQ(table.rows.size(), 2u); // SN-0002: the earlier day's failure and the pass
    EXPECT_EQ(Row(table, 0)[9], "SN-0002");
    EXPECT_EQ(Row(table, 0)[4], "2026-10-30T08:01:00Z");
    // What happened comes first: the outcome, the failing step and reason, the seconds.
    ASSERT_TRUE(line::Trace(m_conn, "sn-0001", table = {}, error)) << error;
    ASSERT_EQ(table.rows.size(), 2u);
    const auto first4 = [](Cells row) { return Cells(row.begin(), row.begin() + 4); };
    EXPECT_EQ(first4(Row(table, 0)),
              (Cells{"fail", "program", "program page 0F0200: no reply at 115200 bit/s", "30.0"}));
    EXPECT_EQ(first4(Row(table, 1)), (Cells{"pass", "NULL", "NULL", "40.0"}));
    // A whole serial is its panel alone; a start or a part of one, in any case, finds
    // every panel that holds it.
    Add({"SN-00011", "COM1", outcome::kPass, 40, step::kOk, step::kOk, "Program OK."});
    ASSERT_TRUE(line::Trace(m_conn, "SN-0001", table = {}, error)) << error;
    EXPECT_EQ(table.rows.size(), 2u);
    ASSERT_TRUE(line::Trace(m_conn, "sn-0001", table = {}, error)) << error;
    EXPECT_EQ(table.rows.size(), 3u);
    ASSERT_TRUE(line::Trace(m_conn, "sn-000", table = {}, error)) << error;
    EXPECT_EQ(table.rows.size(), 10u);
    ASSERT_TRUE(line::Trace(m_conn, "0003", table = {}, error)) << error;
    EXPECT_EQ(table.rows.size(), 2u);
    ASSERT_TRUE(line::Trace(m_conn, "%", table = {}, error)) << error;
    EXPECT_TRUE(table.rows.empty()) << "a key is text, never a pattern";
}

TEST_F(LineServer, UsersAreAddedVerifiedAndRemoved)
{
    std::string error;
    ASSERT_TRUE(line::AddUser(m_conn, "anna", "correct horse", error)) << error;
    const CPgResult stored = m_conn.Exec("SELECT password_hash FROM torvane_line_user WHERE name = 'anna'");
    ASSERT_EQ(stored.Rows(), 1);
    EXPECT_EQ(stored.Text(0, 0).rfind("$argon2id$", 0), 0u);
    EXPECT_EQ(stored.Text(0, 0).find("correct horse"), std::string::npos);

    const auto now = std::chrono::steady_clock::now();
    line::CUserCheck check;
    EXPECT_EQ(check.Verify(m_conn, "anna", "correct hors", now), line::CUserCheck::Verdict::Refused);
    EXPECT_EQ(check.Verify(m_conn, "bert", "correct horse", now), line::CUserCheck::Verdict::Refused);
    EXPECT_EQ(check.Verify(m_conn, "anna", "correct horse", now), line::CUserCheck::Verdict::Allowed);
    EXPECT_TRUE(check.Remembered("anna", "correct horse", now));
    EXPECT_FALSE(check.Remembered("anna", "correct horse", now + line::CUserCheck::kRemembered));

    std::vector<std::string> names;
    ASSERT_TRUE(line::ListUsers(m_conn, names, error)) << error;
    EXPECT_EQ(names, std::vector<std::string>{"anna"});
    ASSERT_TRUE(line::RemoveUser(m_conn, "anna", error)) << error;
    EXPECT_FALSE(line::RemoveUser(m_conn, "anna", error));
    EXPECT_EQ(error, "no user named anna");
    EXPECT_EQ(line::CUserCheck().Verify(m_conn, "anna", "correct horse", now),
              line::CUserCheck::Verdict::Refused);
}

TEST_F(LineServer, MetricsNameNoSerialAndPassPromtool)
{
    SeedLine();
    std::string text, error;
    ASSERT_TRUE(records_server::UpsertFixtureState(m_conn, "st1", Programming(3), error)) << error;
    ASSERT_TRUE(line::MetricsText(m_conn, text, error)) << error;
    EXPECT_NE(text.find("torvane_fixture_state{station=\"st1\",fixture=\"COM1\",state=\"programming\"} 1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("torvane_attempts_total{station=\"st1\",fixture=\"COM2\",outcome=\"fail\"} 2\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("torvane_cycle_time_seconds_bucket{le=\"30\"} 3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("torvane_cycle_time_seconds_count 8\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("SN-"), std::string::npos);
    int status = 0;
    Shell("command -v promtool >/dev/null", status);
    if (status != 0) GTEST_SKIP() << "no promtool (scripts/setup installs prometheus)";
    std::ofstream(s_dir / "metrics.txt") << text;
    const std::string said =
        Shell("promtool check metrics < '" + (s_dir / "metrics.txt").string() + "' 2>&1", status);
    EXPECT_EQ(status, 0) << said;
}

TEST_F(LineServer, FixtureStatesAreUpsertedNotifiedOnChangeAndShownOnTheTiles)
{
    CPgConnection listener;
    std::string error;
    ASSERT_TRUE(listener.Connect(s_url, error)) << error;
    ASSERT_TRUE(listener.Exec("LISTEN torvane_line").Ok());

    ASSERT_TRUE(records_server::UpsertFixtureState(m_conn, "st1", Programming(120), error)) << error;
    EXPECT_EQ(HeardUpToMarker(listener, m_conn), Cells{"state"});
    // The station's sign of life every few seconds changes nothing a page shows.
    ASSERT_TRUE(records_server::UpsertFixtureState(m_conn, "st1", Programming(120), error)) << error;
    EXPECT_EQ(HeardUpToMarker(listener, m_conn), Cells{});
    ASSERT_TRUE(records_server::UpsertFixtureState(m_conn, "st1", Programming(121), error)) << error;
    EXPECT_EQ(HeardUpToMarker(listener, m_conn), Cells{"state"});
    Add({"SN-0001", "COM1", outcome::kPass, 40, step::kOk, step::kOk, "Program OK.", "", "panel.mot",
         Yesterday()});
    EXPECT_EQ(HeardUpToMarker(listener, m_conn), Cells{"records"});

    line::CLineTable table;
    ASSERT_TRUE(line::Fixtures(m_conn, table, error)) << error;
    ASSERT_EQ(table.rows.size(), 1u);
    Cells row = Row(table, 0);
    EXPECT_EQ(Cells(row.begin() + 9, row.begin() + 16),
              (Cells{"programming", "programming 121/256", "program", "121", "256", "NULL", ""}));
    EXPECT_EQ(row[4], "SN-0001");
    EXPECT_EQ(row.back(), "0");
    // "How long ago" counts from the panel's end, not its start.
    ASSERT_TRUE(m_conn.Exec("UPDATE torvane_attempt SET started_utc = now() - interval '50 s'").Ok());
    ASSERT_TRUE(line::Fixtures(m_conn, table = {}, error)) << error;
    EXPECT_NEAR(std::stod(Row(table, 0).at(3)), 10, 1);

    // A station not heard for 30 s is silent, on its tiles and among the alarms.
    ASSERT_TRUE(m_conn.Exec("UPDATE torvane_fixture_state SET updated_utc = now() - interval '40 s'").Ok());
    ASSERT_TRUE(line::Fixtures(m_conn, table = {}, error)) << error;
    EXPECT_EQ(Row(table, 0).back(), "1");
    ASSERT_TRUE(line::Alarms(m_conn, table = {}, error)) << error;
    ASSERT_EQ(table.rows.size(), 1u);
    row = Row(table, 0);
    EXPECT_EQ(Cells(row.begin(), row.begin() + 2), (Cells{"station silent", "st1"}));

    // A station that said it stopped is no silent one; a fixture it no longer runs is not
    // sent again with the others.
    records_server::CFixtureStateRow bye = Programming(121);
    bye.state = records_server::kStationStopped;
    bye.detail = "station stopped at 14:02";
    ASSERT_TRUE(records_server::UpsertFixtureState(m_conn, "st1", bye, error)) << error;
    records_server::CFixtureStateRow gone = Programming(5);
    gone.fixture = "COM2";
    ASSERT_TRUE(records_server::UpsertFixtureState(m_conn, "st1", gone, error)) << error;
    ASSERT_TRUE(m_conn
                    .Exec("UPDATE torvane_fixture_state SET updated_utc = now() - CASE fixture WHEN 'COM1'"
                          " THEN interval '40 s' ELSE interval '2 min' END")
                    .Ok());
    ASSERT_TRUE(line::Fixtures(m_conn, table = {}, error)) << error;
    ASSERT_EQ(table.rows.size(), 2u);
    row = Row(table, 0);
    EXPECT_EQ(row[10], "station stopped at 14:02");
    EXPECT_EQ(Cells(row.end() - 2, row.end()), (Cells{"1", "0"})) << "in the run, not silent";
    EXPECT_EQ(Row(table, 1)[17], "0") << "COM2 is no longer in the run";
    ASSERT_TRUE(line::Alarms(m_conn, table = {}, error)) << error;
    EXPECT_TRUE(table.rows.empty());
}

TEST_F(LineServer, AlarmsTellMixedFilesOrToolsInATagAndAFixtureFailingFiveTimes)
{
    const std::string day = Yesterday(), ok = step::kOk, failed = step::kFailed;
    Add({"SN-1", "COM2", outcome::kPass, 10, ok, ok, "Program OK.", "WO-9", "panel.mot", day});
    for (int i = 0; i < 4; ++i) // four failures after a pass: no alarm
        Add({"SN-2", "COM2", outcome::kFail, 10, ok, failed, "Program failed.", "WO-9", "panel.mot", day});
    for (int i = 0; i < 5; ++i)
        Add({"SN-3", "COM3", outcome::kFail, 10, failed, "", "Erase failed.", "WO-8", "panel.mot", day});
    ASSERT_TRUE(
        m_conn
            .Exec("UPDATE torvane_attempt SET file_sha256 = CASE WHEN port = 'COM2' AND serial_text = "
                  "'SN-1' THEN repeat('a', 64) ELSE repeat('b', 64) END, tool_version = CASE WHEN "
                  "port = 'COM3' AND started_utc = (SELECT max(started_utc) FROM torvane_attempt) "
                  "THEN '1.0.1' ELSE '1.0.0' END")
            .Ok())
        << m_conn.Error();
    line::CLineTable table;
    std::string error;
    ASSERT_TRUE(line::Alarms(m_conn, table, error)) << error;
    ASSERT_EQ(table.rows.size(), 3u);
    const Cells first = Row(table, 0);
    EXPECT_EQ(Cells(first.begin(), first.begin() + 2), (Cells{"last five attempts failed", "st1 COM3"}));
    EXPECT_EQ(Row(table, 1), (Cells{"several file hashes in one tag", "WO-9",
                                    std::string(64, 'a') + ", " + std::string(64, 'b')}));
    EXPECT_EQ(Row(table, 2), (Cells{"several tool versions in one tag", "WO-8", "1.0.0, 1.0.1"}));
}

TEST_F(LineServer, EventStreamTellsOfChangesAndAFullRefreshAfterALostListener)
{
    std::string error;
    ASSERT_TRUE(line::AddUser(m_conn, "anna", "correct horse", error)) << error;
    line::CLineServerSettings settings;
    settings.recordsServer = s_url;
    settings.listen = "127.0.0.1:0";
    line::CLineServer server(settings);
    ASSERT_TRUE(server.Bind(error)) << error;
    std::thread serving([&] { server.Run(); });

    std::mutex mutex;
    std::string received;
    std::atomic<bool> open{false}, done{false};
    std::thread reading([&] {
        httplib::Client client("127.0.0.1", server.Port());
        client.set_basic_auth("anna", "correct horse");
        client.set_read_timeout(20);
        while (!done && !client.Get("/api/events", [&](const char* data, size_t size) {
            std::lock_guard lock(mutex);
            received.append(data, size);
            open = true;
            return !done.load();
        }))
            std::this_thread::yield(); // the listener may take a moment to start
    });
    auto saw = [&](const std::string& text) {
        std::lock_guard lock(mutex);
        return received.find(text) != std::string::npos;
    };
    while (!open)
        std::this_thread::yield();
    // The server's listener may connect after the stream opened: the state changes until heard.
    for (int page = 1; page < 100 && !saw("data: {\"kind\":\"state\"}\n\n"); ++page) {
        ASSERT_TRUE(records_server::UpsertFixtureState(m_conn, "st1", Programming(page), error)) << error;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(saw("data: {\"kind\":\"state\"}\n\n"));

    ASSERT_TRUE(m_conn
                    .Exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE query = 'LISTEN "
                          "torvane_line'")
                    .Ok());
    for (int i = 0; i < 100 && !saw("data: {\"kind\":\"refresh\"}\n\n"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(saw("data: {\"kind\":\"refresh\"}\n\n"));

    done = true;
    ASSERT_TRUE(records_server::UpsertFixtureState(m_conn, "st1", Programming(200), error)) << error;
    reading.join();
    server.Stop();
    serving.join();
}

// A line server on a free loopback port, serving until the end of the test.
class CServing
{
public:
    explicit CServing(const std::string& url, const std::string& ingestUrl = {})
    {
        line::CLineServerSettings settings;
        settings.recordsServer = url;
        settings.ingestServer = ingestUrl.empty() ? url : ingestUrl;
        settings.listen = "127.0.0.1:0";
        m_server = std::make_unique<line::CLineServer>(settings);
        std::string error;
        if (!m_server->Bind(error)) throw std::runtime_error(error);
        m_thread = std::thread([this] { m_server->Run(); });
        httplib::Client probe("127.0.0.1", Port());
        while (!probe.Get("/")) // the listener may take a moment to start
            std::this_thread::yield();
    }
    ~CServing()
    {
        m_server->Stop();
        m_thread.join();
    }
    int Port() const { return m_server->Port(); }

private:
    std::unique_ptr<line::CLineServer> m_server;
    std::thread m_thread;
};

// An attempt of station host as its journal holds it, at a revision.
CAttempt StationAttempt(int number, const std::string& host, const std::string& outcome, int64_t revision)
{
    CAttempt a;
    char id[40];
    std::snprintf(id, sizeof id, "00000000-0000-4000-9000-%012d", number);
    a.id = id;
    a.startedUtc = "2026-11-02T09:00:00.000Z";
    a.host = host;
    a.user = "line";
    a.processId = 11;
    a.toolVersion = "1.0.0";
    a.command = "station";
    a.port = "COM3";
    a.serialText = "SN-" + std::to_string(number);
    a.outcome = outcome;
    a.revision = revision;
    return a;
}

std::string Batch(const std::vector<CAttempt>& attempts, nlohmann::json states = nlohmann::json::array())
{
    nlohmann::json rows = nlohmann::json::array();
    for (const CAttempt& a : attempts)
        rows.push_back(nlohmann::json::parse(AttemptJson(a).dump()));
    return nlohmann::json{{"version", 1}, {"attempts", rows}, {"states", states}}.dump();
}

TEST_F(LineServer, IngestTakesOnlyAPostWithAStationsTokenKeptAsItsHashAndBounded)
{
    std::string token, error;
    ASSERT_TRUE(line::AddStation(m_conn, "wst", token, error)) << error;
    EXPECT_EQ(token.size(), 64u);
    const CPgResult stored = m_conn.Exec("SELECT token_sha256, created_utc FROM torvane_line_station");
    ASSERT_EQ(stored.Rows(), 1);
    EXPECT_EQ(stored.Text(0, 0), line::TokenSha256(token));
    EXPECT_NE(stored.Text(0, 0), token);
    EXPECT_FALSE(line::AddStation(m_conn, "wst", token, error)) << "a second token would go unnoticed";
    EXPECT_FALSE(line::AddStation(m_conn, "WST", token, error)) << "the same host name in capitals";
    std::vector<line::CStationEntry> stations;
    ASSERT_TRUE(line::ListStations(m_conn, stations, error)) << error;
    ASSERT_EQ(stations.size(), 1u);
    EXPECT_EQ(stations[0].name, "wst");
    ASSERT_TRUE(line::AddUser(m_conn, "anna", "correct horse", error)) << error;

    CServing serving(s_url);
    httplib::Client client("127.0.0.1", serving.Port());
    const std::string batch = Batch({StationAttempt(1, "wst", outcome::kPass, 2)});
    auto none = client.Post("/api/ingest", batch, "application/json");
    EXPECT_EQ(none->status, 401);
    EXPECT_EQ(none->get_header_value("WWW-Authenticate"), "Bearer");
    client.set_basic_auth("anna", "correct horse");
    EXPECT_EQ(client.Post("/api/ingest", batch, "application/json")->status, 401) << "a login is no token";
    auto get = client.Get("/api/ingest");
    EXPECT_EQ(get->status, 405);
    EXPECT_EQ(get->get_header_value("Allow"), "POST");

    httplib::Client station("127.0.0.1", serving.Port());
    station.set_bearer_token_auth(token);
    auto ok = station.Post("/api/ingest", batch, "application/json");
    ASSERT_EQ(ok->status, 200) << ok->body;
    EXPECT_EQ(nlohmann::json::parse(ok->body)["results"][0]["ok"], true);
    EXPECT_EQ(station.Post("/api/ingest", "[1]", "application/json")->status, 400);

    // Too large, with its length told and chunked without one.
    const std::string huge(line::kLargestIngestBody + 1, ' ');
    EXPECT_EQ(station.Post("/api/ingest", huge, "application/json")->status, 413);
    auto chunked = station.Post(
        "/api/ingest",
        [&](size_t offset, httplib::DataSink& sink) {
            if (offset >= huge.size()) {
                sink.done();
                return true;
            }
            const size_t size = std::min<size_t>(64 * 1024, huge.size() - offset);
            return sink.write(huge.data() + offset, size);
        },
        "application/json");
    ASSERT_TRUE(chunked);
    EXPECT_EQ(chunked->status, 413);

    {
        // A records server that is away: the station keeps its rows for later.
        CServing away(s_url, "host=127.0.0.1 port=1 dbname=torvane");
        httplib::Client late("127.0.0.1", away.Port());
        late.set_bearer_token_auth(token);
        EXPECT_EQ(late.Post("/api/ingest", batch, "application/json")->status, 503);
    }

    ASSERT_TRUE(line::RemoveStation(m_conn, "wst", error)) << error;
    std::this_thread::sleep_for(line::CStationTokenCache::kKept); // the server's memory of the token
    EXPECT_EQ(station.Post("/api/ingest", batch, "application/json")->status, 401);
    // Unknown tokens slow down like failed logins.
    auto again = station.Post("/api/ingest", batch, "application/json");
    EXPECT_EQ(again->status, 429);
    EXPECT_FALSE(again->get_header_value("Retry-After").empty());
}

TEST_F(LineServer, IngestStoresTheStationsOwnRowsForwardOnlyAndItsStates)
{
    std::string token, error;
    ASSERT_TRUE(line::AddStation(m_conn, "wst", token, error)) << error;
    Add({"SN-0001", "COM1", outcome::kPass, 40, step::kOk, step::kOk, "Program OK."}); // st1's, over libpq
    CServing serving(s_url);
    httplib::Client station("127.0.0.1", serving.Port());
    station.set_bearer_token_auth(token);
    auto post = [&](const std::string& body) {
        auto res = station.Post("/api/ingest", body, "application/json");
        EXPECT_EQ(res->status, 200) << res->body;
        return nlohmann::json::parse(res->body);
    };
    auto onServer = [&](int number) {
        const CPgResult row = m_conn.Exec("SELECT outcome, revision, station_host FROM torvane_attempt"
                                          " WHERE id = $1::uuid",
                                          {StationAttempt(number, "", "", 0).id});
        return row.Rows() == 1 ? Cells{row.Text(0, 0), row.Text(0, 1), row.Text(0, 2)} : Cells{};
    };

    CAttempt stolen = StationAttempt(0, "wst", outcome::kFail, 9);
    stolen.id = "00000000-0000-4000-8000-000000000001"; // st1's row
    nlohmann::json notARecord = {{"id", "x"}};
    CAttempt timeless = StationAttempt(4, "wst", outcome::kPass, 2);
    timeless.startedUtc = "yesterday-ish"; // refused by the server itself
    nlohmann::json rows = nlohmann::json::parse(
        Batch({StationAttempt(1, "wst", outcome::kPass, 2), StationAttempt(2, "other", outcome::kPass, 2),
               stolen, timeless, StationAttempt(3, "wst", outcome::kUnfinished, 1)}));
    rows["attempts"].insert(rows["attempts"].begin() + 1, notARecord);
    rows["states"] = {{{"fixture", "COM3"},
                       {"state", "programming"},
                       {"detail", "programming 3/8"},
                       {"step", "program"},
                       {"pages_done", 3},
                       {"pages_total", 8},
                       {"seconds_left", nullptr},
                       {"fail_reason", ""},
                       {"last_panel", ""}}};
    nlohmann::json answer = post(rows.dump());
    const std::string timeRefused = answer["results"][4].value("refused", "");
    EXPECT_NE(timeRefused.find("invalid input syntax for type timestamp"), std::string::npos) << answer;
    answer["results"][4]["refused"] = "REASON";
    EXPECT_EQ(answer["results"],
              nlohmann::json::parse(R"([{"id":"00000000-0000-4000-9000-000000000001","ok":true},
                {"id":"x","refused":"not a record of torvane-cli records --json"},
                {"id":"00000000-0000-4000-9000-000000000002","refused":"belongs to station other, not to wst"},
                {"id":"00000000-0000-4000-8000-000000000001","refused":"belongs to station st1, not to wst"},
                {"id":"00000000-0000-4000-9000-000000000004","refused":"REASON"},
                {"id":"00000000-0000-4000-9000-000000000003","ok":true}])"));
    EXPECT_EQ(answer["states"], 1);
    EXPECT_EQ(onServer(1), (Cells{"pass", "2", "wst"}));
    EXPECT_EQ(onServer(2), Cells{});
    const CPgResult st1 = m_conn.Exec("SELECT outcome, station_host FROM torvane_attempt WHERE host = 'st1'");
    EXPECT_EQ(st1.Text(0, 0), "pass");
    EXPECT_EQ(st1.Text(0, 1), "st1");
    const CPgResult state = m_conn.Exec("SELECT station_host, fixture, detail FROM torvane_fixture_state");
    ASSERT_EQ(state.Rows(), 1);
    EXPECT_EQ((Cells{state.Text(0, 0), state.Text(0, 1), state.Text(0, 2)}),
              (Cells{"wst", "COM3", "programming 3/8"}));

    // A replay stores nothing twice; a stale revision and an older row sent late change nothing.
    nlohmann::json replay = post(rows.dump());
    replay["results"][4]["refused"] = "REASON";
    EXPECT_EQ(replay["results"], answer["results"]);
    EXPECT_EQ(m_conn.Exec("SELECT count(*) FROM torvane_attempt").Text(0, 0), "3");
    post(Batch({StationAttempt(3, "wst", outcome::kFail, 3)}));
    const nlohmann::json late = post(Batch({StationAttempt(1, "wst", outcome::kUnfinished, 1),
                                            StationAttempt(3, "wst", outcome::kUnfinished, 2)}));
    EXPECT_EQ(late["results"][0]["ok"], true) << "an older revision is no refusal";
    EXPECT_EQ(onServer(1), (Cells{"pass", "2", "wst"}));
    EXPECT_EQ(onServer(3), (Cells{"fail", "3", "wst"}));

    // Windows host names are one name in either case, however the station was added.
    EXPECT_EQ(post(Batch({StationAttempt(5, "WST", outcome::kUnfinished, 1)}))["results"][0]["ok"], true);
    ASSERT_TRUE(line::RemoveStation(m_conn, "WST", error)) << error;
    ASSERT_TRUE(line::AddStation(m_conn, "Wst", token, error)) << error;
    station.set_bearer_token_auth(token);
    EXPECT_EQ(post(Batch({StationAttempt(5, "WST", outcome::kPass, 2)}))["results"][0]["ok"], true);
    EXPECT_EQ(onServer(5), (Cells{"pass", "2", "wst"}));
}

TEST_F(LineServer, HttpRefusesWrongHostMethodBodyAndCredentials)
{
    std::string error;
    ASSERT_TRUE(line::AddUser(m_conn, "anna", "correct horse", error)) << error;
    line::CLineServerSettings settings;
    settings.recordsServer = s_url;
    settings.listen = "127.0.0.1:0";
    line::CLineServer server(settings);
    ASSERT_TRUE(server.Bind(error)) << error;
    std::thread serving([&] { server.Run(); });
    httplib::Client client("127.0.0.1", server.Port());
    while (!client.Get("/")) // the listener may take a moment to start
        std::this_thread::yield();

    auto none = client.Get("/");
    EXPECT_EQ(none->status, 401);
    EXPECT_EQ(none->get_header_value("WWW-Authenticate").rfind("Basic ", 0), 0u);

    client.set_basic_auth("anna", "correct horse");
    auto page = client.Get("/");
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("Content-Security-Policy"), "default-src 'self'");
    EXPECT_NE(page->body.find("<title>Torvane line</title>"), std::string::npos);
    // Opened again, the page's script is not sent again while it is the same.
    auto script = client.Get("/line.js");
    EXPECT_EQ(client.Get("/line.js", {{"If-None-Match", script->get_header_value("ETag")}})->status, 304);
    // A browser's answers in gzip, not in the library's slowest brotli.
    EXPECT_EQ(client.Get("/line.js", {{"Accept-Encoding", "br, gzip"}})->get_header_value("Content-Encoding"),
              "gzip");
    EXPECT_EQ(client.Head("/api/yields")->status, 200);
    EXPECT_EQ(client.Get("/api/yields?since=yesterday-ish")->status, 400);

    EXPECT_EQ(client.Get("/", {{"Host", "rebound.example"}})->status, 421);
    auto post = client.Post("/", "x", "text/plain");
    EXPECT_EQ(post->status, 405);
    EXPECT_EQ(post->get_header_value("Allow"), "GET, HEAD");

    httplib::Request big;
    big.method = "GET";
    big.path = "/api/yields";
    big.body = "x";
    big.set_header("Content-Type", "text/plain");
    httplib::Response answer;
    httplib::Error failure;
    ASSERT_TRUE(client.send(big, answer, failure));
    EXPECT_EQ(answer.status, 413);

    httplib::Client wrong("127.0.0.1", server.Port());
    wrong.set_basic_auth("anna", "wrong horse");
    EXPECT_EQ(wrong.Get("/")->status, 401);
    auto again = wrong.Get("/"); // at once: this address must wait
    EXPECT_EQ(again->status, 429);
    EXPECT_FALSE(again->get_header_value("Retry-After").empty());
    EXPECT_EQ(client.Get("/")->status, 200); // a verified login from the same address still passes

    server.Stop();
    serving.join();
}

} // namespace

namespace {

TEST(LineEvents, AnEventIsOneLineOfJsonWhateverItsTextHolds)
{
    const std::string forged = "SN-1\r\n\r\ndata: {\"kind\":\"forged\"}\n\n";
    const std::string text = line::EventText({{"kind", "state"}, {"serial", forged}});
    EXPECT_EQ(text.rfind("data: ", 0), 0u);
    EXPECT_EQ(text.find_first_of("\r\n"), text.size() - 2);
    EXPECT_EQ(nlohmann::json::parse(text.substr(6))["serial"], forged);
}

TEST(LinePage, TheServersFillEscapesEveryTextAndNeedsEveryAnswer)
{
    const std::string rest = "<main>\n<div id=\"fixtures\" class=\"tiles\"></div><div id=\"alarms\"></div>"
                             "<div id=\"yields\" class=\"figures\"></div><div id=\"cycle-times\"></div>"
                             "<div id=\"pareto\"></div></main>";
    auto table = [](std::vector<line::CLineTable::Column> columns,
                    std::vector<std::vector<std::optional<std::string>>> rows) {
        return line::CLineTable{std::move(columns), std::move(rows)};
    };
    line::CFirstAnswers answers;
    answers.fixtures = table({{"host"},
                              {"port"},
                              {"seconds_ago", true},
                              {"last_serial"},
                              {"last_outcome"},
                              {"passed_today", true},
                              {"failed_today", true},
                              {"panels_last_hour", true},
                              {"state"},
                              {"state_text"},
                              {"in_run", true},
                              {"station_silent", true}},
                             {{"pc-1", "COM1", "90", "</div><img src=x onerror=alert(1)>", "fail", "0", "1",
                               "1", "pass\" onclick=\"alert(2)", std::nullopt, "1", "0"},
                              // The station's own words; a fixture it no longer runs, even when silent.
                              {"pc-2", "COM1", "90", std::nullopt, "pass", "1", "0", "1", "station stopped",
                               "station stopped at 14:02", "1", "0"},
                              {"pc-2", "COM9", "90", std::nullopt, "pass", "1", "0", "1", "programming",
                               "programming 54/92, 0:44 left", "0", "1"}});
    answers.alarms = table({{"alarm"}, {"subject"}, {"detail"}}, {});
    answers.yields = table({{"attempts", true}, {"attempt_yield"}}, {{"1", "0.0 %"}});
    answers.cycleTimes = table({{"host"}, {"median_s", true}}, {{"pc-1", "39.25"}});
    answers.pareto = table({{"step"}, {"reason"}, {"failures", true}}, {{std::nullopt, "no reply", "1"}});
    const std::string page = line::FillPage(rest, answers);
    EXPECT_NE(page.find("<main data-filled>"), std::string::npos);
    EXPECT_EQ(page.find("<img"), std::string::npos);
    EXPECT_EQ(page.find("\" onclick"), std::string::npos);
    EXPECT_NE(page.find("last <span class=\"outcome\">fail</span> &lt;/div&gt;&lt;img src=x "
                        "onerror=alert(1)&gt;, 1 min ago"),
              std::string::npos);
    EXPECT_NE(page.find("<div class=\"muted\">1 panel in the last hour</div>"), std::string::npos);
    EXPECT_NE(page.find("<div class=\"tile station-stopped\"><div class=\"name\" elementtiming=\"tile\">pc-2 "
                        "COM1</div><div class=\"state\">station stopped at 14:02</div>"),
              std::string::npos);
    EXPECT_NE(page.find("<div class=\"tile left\"><div class=\"name\" elementtiming=\"tile\">pc-2 COM9</div>"
                        "<div class=\"state\">not in this station&#39;s run</div>"),
              std::string::npos);
    EXPECT_NE(page.find("<td class=\"number\">39.3</td>"), std::string::npos) << "halves up, as the script";
    EXPECT_NE(page.find("<td class=\"muted\">(not recorded)</td><td>no reply</td>"), std::string::npos);
    EXPECT_NE(page.find("<div id=\"alarms\"><p class=\"muted\">none</p>"), std::string::npos);

    answers.pareto.reset(); // the server could not read it: the script fills the page
    EXPECT_EQ(line::FillPage(rest, answers), rest);
}

TEST(LineTableCache, AnAnswerIsGivenAgainOnlyUntilTheNextEventAndForTwoSecondsAtMost)
{
    line::CLineTableCache cache;
    int queries = 0;
    auto query = [&](line::CLineTable& table, std::string& error) {
        if (++queries == 4) {
            error = "the records server went away";
            return false;
        }
        table.rows = {{std::to_string(queries)}};
        return true;
    };
    auto answer = [&](const std::string& key, uint64_t event, std::chrono::milliseconds at,
                      std::chrono::milliseconds fresh = line::CLineTableCache::kFresh,
                      bool afterEvent = true) {
        line::CLineTable table;
        std::string error;
        const line::CLineTableCache::Clock::time_point now(at);
        const bool ok = cache.Answer(key, event, now, query, table, error, fresh, afterEvent);
        return ok ? *table.rows.at(0).at(0) : error;
    };
    using std::chrono::milliseconds;
    EXPECT_EQ(answer("yields", 7, milliseconds(10000)), "1");
    EXPECT_EQ(answer("yields", 7, milliseconds(11999)), "1") << "the same question in the same moment";
    EXPECT_EQ(answer("fixtures", 7, milliseconds(11999)), "2") << "another question";
    EXPECT_EQ(answer("yields", 8, milliseconds(12000)), "3") << "an event came";
    EXPECT_EQ(answer("yields", 8, milliseconds(14000)), "the records server went away")
        << "two seconds passed";
    EXPECT_EQ(answer("yields", 8, milliseconds(14001)), "5") << "a failed query is not kept";
    EXPECT_EQ(answer("yields", 8, milliseconds(15600), milliseconds(1500)), "6")
        << "read again before it ages out";
    EXPECT_EQ(answer("yields", 9, milliseconds(15700), milliseconds(2000), false), "6")
        << "an answer from before the last event will do";
    EXPECT_EQ(answer("yields", 9, milliseconds(15700)), "7") << "but not for a page told of that event";
    EXPECT_EQ(answer("yields", 9, milliseconds(25000), milliseconds(10000)), "7") << "a longer bound";
}

TEST(LineServerSettings, AnOpenAddressNeedsTls)
{
    line::CLineServerSettings settings;
    settings.recordsServer = "dbname=torvane";
    EXPECT_EQ(line::RefuseSettings(settings), "");
    settings.listen = "[::1]:8080";
    EXPECT_EQ(line::RefuseSettings(settings), "");
    settings.listen = "0.0.0.0:8080";
    EXPECT_EQ(line::RefuseSettings(settings), "listening on 0.0.0.0 needs TLS (--tls-cert and --tls-key): "
                                              "passwords would cross the network in the clear");
    settings.tlsCert = "cert.pem";
    EXPECT_EQ(line::RefuseSettings(settings), "--tls-cert and --tls-key go together");
    settings.tlsKey = "key.pem";
    EXPECT_EQ(line::RefuseSettings(settings), "");
    settings.listen = "::1:8080";
    EXPECT_NE(line::RefuseSettings(settings), "");
}

// A test authority and a certificate for 127.0.0.1 signed by it, made by openssl.
bool MakeTestCertificates(const fs::path& dir, std::string& output)
{
    int status = 0;
    output = Shell(
        "cd '" + dir.string() +
            "' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
            " -keyout ca.key -out ca.pem -days 2 -subj /CN=Torvane-test-CA 2>&1"
            " && openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
            " -keyout server.key -out server.csr -subj /CN=localhost 2>&1"
            " && printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\\nbasicConstraints=CA:FALSE\\n' > ext"
            " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
            " -out server.pem -days 2 -extfile ext 2>&1",
        status);
    return status == 0;
}

TEST_F(LineServer, StationSendsOverHttpsMarkingOnlyWhatTheServerAcknowledged)
{
    const fs::path dir = s_dir / "https";
    fs::create_directories(dir);
    std::string output, error, token;
    ASSERT_TRUE(MakeTestCertificates(dir, output)) << output;
    const std::string host = platform::HostName();
    ASSERT_TRUE(line::AddStation(m_conn, host, token, error)) << error;
    const fs::path tokenFile = dir / "station.token";
    ASSERT_TRUE(records_server::SaveStationToken(tokenFile, token + "\n", error)) << error;
    EXPECT_EQ(fs::status(tokenFile).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    line::CLineServerSettings settings;
    settings.recordsServer = settings.ingestServer = s_url;
    settings.tlsCert = (dir / "server.pem").string();
    settings.tlsKey = (dir / "server.key").string();
    auto serve = [&](int port) {
        settings.listen = "127.0.0.1:" + std::to_string(port);
        auto server = std::make_unique<line::CLineServer>(settings);
        EXPECT_TRUE(server->Bind(error)) << error;
        return server;
    };
    auto server = serve(0);
    const int port = server->Port();
    std::thread serving([&] { server->Run(); });
    const std::string url = "https://127.0.0.1:" + std::to_string(port);

    std::string journalError;
    auto journal = CRecordStore::Open(dir / "journal.sqlite3", RecordsFile::Named, journalError);
    ASSERT_TRUE(journal) << journalError;
    auto finished = [&](const std::string& serial, const std::string& writer = "") {
        CAttempt a;
        a.command = "station";
        a.port = "COM1";
        a.host = writer;
        EXPECT_TRUE(journal->Begin(a)) << journal->LastError();
        a.outcome = outcome::kPass;
        a.serialText = serial;
        EXPECT_TRUE(journal->Complete(a)) << journal->LastError();
        return a;
    };
    finished("SN-1");
    const CAttempt foreign = finished("SN-2", "another-pc");
    finished("SN-3");
    const auto forever = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto serverRows = [&] { return m_conn.Exec("SELECT count(*) FROM torvane_attempt").Text(0, 0); };

    // Not trusted without the test authority: nothing is marked, nothing is lost.
    SendReport report = CServerSink(url, {tokenFile.string(), ""}).SendBacklog(*journal, forever);
    EXPECT_NE(report.problem.find("not trusted"), std::string::npos) << report.problem;
    EXPECT_EQ(report.waiting, 3);

    CServerSink sink(url, {tokenFile.string(), (dir / "ca.pem").string()});
    report = sink.SendBacklog(*journal, forever);
    EXPECT_EQ(report.problem, "");
    EXPECT_EQ(report.sent, 2);
    EXPECT_EQ(report.waiting, 0);
    ASSERT_EQ(report.setAside.size(), 1u);
    EXPECT_EQ(report.setAside[0].id, foreign.id);
    EXPECT_EQ(report.setAside[0].reason, "belongs to station another-pc, not to " + host);
    EXPECT_EQ(serverRows(), "2");

    // The server away: the row waits in the journal, and goes once it is back, once.
    server->Stop();
    serving.join();
    finished("SN-4");
    report = sink.SendBacklog(*journal, forever);
    EXPECT_NE(report.problem, "");
    EXPECT_EQ(report.waiting, 1);
    server = serve(port);
    serving = std::thread([&] { server->Run(); });
    for (int i = 0; i < 100 && (report = sink.SendBacklog(*journal, forever)).sent == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the listener starting
    EXPECT_EQ(report.sent, 1) << report.problem;
    EXPECT_EQ(report.waiting, 0);
    EXPECT_EQ(serverRows(), "3");

    // A revoked token is told, and the rows wait.
    finished("SN-5");
    fs::permissions(tokenFile, fs::perms::group_read | fs::perms::others_read, fs::perm_options::add);
    report = sink.SendBacklog(*journal, forever);
    EXPECT_NE(report.problem.find("others may read it (mode 0644)"), std::string::npos) << report.problem;
    EXPECT_EQ(report.waiting, 1);
    ASSERT_TRUE(line::RemoveStation(m_conn, host, error)) << error;
    std::this_thread::sleep_for(line::CStationTokenCache::kKept);
    fs::permissions(tokenFile, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    report = sink.SendBacklog(*journal, forever);
    EXPECT_NE(report.problem.find("answered 401"), std::string::npos) << report.problem;
    EXPECT_EQ(report.waiting, 1);
    server->Stop();
    serving.join();
}

// The token must never cross a network in clear text nor carry a header of its own.
TEST(StationIngest, ClearTextOnlyToThisPcAndATokenIsOnePrintableWord)
{
    EXPECT_EQ(RecordsServerRefusal("https://line.plant.example:8443"), "");
    EXPECT_EQ(RecordsServerRefusal("http://127.0.0.1:8080"), "");
    EXPECT_NE(RecordsServerRefusal("http://line.plant.example:8080").find("clear text"), std::string::npos);
    EXPECT_NE(RecordsServerRefusal("https://user:pw@line.plant.example"), "");
    EXPECT_NE(RecordsServerRefusal("https://line.plant.example:99999"), "");
    std::string token = "  0123456789abcdef0123456789abcdef\r\n", error;
    EXPECT_TRUE(records_server::CleanStationToken(token, error)) << error;
    EXPECT_EQ(token, "0123456789abcdef0123456789abcdef");
    token = "0123456789abcdef\r\nX-Forged: 1";
    EXPECT_FALSE(records_server::CleanStationToken(token, error));
}

} // namespace
