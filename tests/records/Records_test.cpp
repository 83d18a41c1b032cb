// The records database on both systems: what a record keeps, the filters, the formats
// people and programs read, and the files that are refused and left as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include "cli/CommandLine.h"
#include "cli/CommandRecords.h"
#include "cli/RecordsReport.h"
#include "cli/Reporter.h"
#include "records/Fields.h"
#include "records/RecordFilter.h"
#include "records/RecordStore.h"
#include "records/RecordTime.h"
#include "platform/ShownText.h"
#include "platform/ThisProcess.h"
#include "tests/records/EveryField.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class Records : public testing::Test
{
protected:
    Records()
    {
        m_dir =
            fs::temp_directory_path() / ("torvane-records-" + std::to_string(platform::ProcessId()) + "-" +
                                         testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_file = m_dir / "records.sqlite3";
    }
    ~Records() override
    {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    std::unique_ptr<CRecordStore> OpenStore()
    {
        std::string error;
        auto store = CRecordStore::Open(m_file, RecordsFile::Named, error);
        EXPECT_TRUE(store) << error;
        return store;
    }

    // A finished attempt started at the given UTC time.
    CAttempt Add(CRecordStore& store, const std::string& started, const std::string& port,
                 const std::string& result, const std::string& tag = {}, const std::string& serial = {})
    {
        CAttempt a;
        a.startedUtc = started;
        a.port = port;
        a.command = "program";
        a.tag = tag;
        a.serialText = serial;
        EXPECT_TRUE(store.Begin(a)) << store.LastError();
        a.outcome = result;
        a.exitCode = result == outcome::kPass ? 0 : 9;
        EXPECT_TRUE(store.Complete(a)) << store.LastError();
        return a;
    }

    int Cli(std::vector<std::string> args)
    {
        args.insert(args.begin(), "torvane-cli");
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        m_out.str({});
        m_err.str({});
        return RunCommandLine(static_cast<int>(argv.size()), argv.data(), m_out, m_err);
    }

    fs::path m_dir, m_file;
    std::ostringstream m_out, m_err;
};

TEST_F(Records, AnAttemptIsUnfinishedFromItsStartAndWholeAfterItsEnd)
{
    auto store = OpenStore();
    ASSERT_TRUE(store);
    CAttempt a;
    a.command = "program";
    a.port = "COM1";
    a.device = "/dev/ttyS0";
    a.fileName = "panel-upgrade.mot";
    a.fileSize = 181234;
    a.fileSha256 = std::string(64, 'a');
    a.tag = "WO-4711 \"batch\", 2";
    ASSERT_TRUE(store->Begin(a)) << store->LastError();
    EXPECT_EQ(a.id.size(), 36u);
    EXPECT_EQ(a.id[14], '4') << "a version 4 UUID";
    EXPECT_EQ(a.processId, platform::ProcessId());
    EXPECT_FALSE(a.host.empty());
    EXPECT_FALSE(a.processStart.empty());
    EXPECT_EQ(a.processStart, platform::ProcessStartStamp(a.processId));

    std::vector<CAttempt> rows;
    ASSERT_TRUE(store->Query({}, rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].outcome, "unfinished");
    EXPECT_TRUE(rows[0].endedUtc.empty());
    EXPECT_EQ(rows[0].revision, 1);

    a.pagesSent = 256;
    a.baudRate = 115200;
    a.pagePauseMs = 40;
    a.loaderVersion = "VER.1.00";
    a.serialHex = "50414E454C2D3031";
    a.serialText = "PANEL-01";
    a.idCheck = step::kOk;
    a.eraseResult = step::kOk;
    a.programResult = step::kOk;
    a.verifyResult = step::kOk;
    a.backupFile = "old.mot";
    a.outcome = outcome::kPass;
    a.exitCode = 0;
    a.messages = {"Erase OK.", "Program OK."};
    ASSERT_TRUE(store->Complete(a)) << store->LastError();
    ASSERT_TRUE(store->Query({}, rows));
    ASSERT_EQ(rows.size(), 1u);
    const CAttempt& r = rows[0];
    EXPECT_EQ(r.id, a.id);
    EXPECT_EQ(r.outcome, "pass");
    EXPECT_FALSE(r.endedUtc.empty());
    EXPECT_GE(*r.durationMs, 0);
    EXPECT_EQ(r.tag, a.tag);
    EXPECT_EQ(r.fileSize, 181234);
    EXPECT_EQ(r.pagesSent, 256);
    EXPECT_EQ(r.serialText, "PANEL-01");
    EXPECT_EQ(r.messages, a.messages);
    EXPECT_EQ(r.toolVersion, a.toolVersion);
    EXPECT_EQ(r.revision, 2) << "a sender sees that the row changed after it sent it";
    EXPECT_EQ(r.sentRevision, 0);

    store.reset();

    // Completing and marking sent find the row by its id, not by reading the whole journal;
    // a second row with the same id is refused.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(m_file.string().c_str(), &db), SQLITE_OK);
    std::string plan;
    sqlite3_exec(
        db, "EXPLAIN QUERY PLAN UPDATE attempt SET revision = revision + 1 WHERE id = 'x'",
        [](void* out, int, char** values, char**) {
            *static_cast<std::string*>(out) += std::string(values[3]) + "\n";
            return 0;
        },
        &plan, nullptr);
    EXPECT_EQ(plan.find("SCAN"), std::string::npos) << plan;
    const std::string copy = "INSERT INTO attempt SELECT * FROM attempt WHERE id = '" + a.id + "'";
    EXPECT_NE(sqlite3_exec(db, copy.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

TEST_F(Records, FiltersSelectByTimePortOutcomeTagAndSerial)
{
    auto store = OpenStore();
    ASSERT_TRUE(store);
    Add(*store, "2026-03-01T23:30:00.000Z", "COM1", outcome::kPass, "WO-1", "SN-1");
    Add(*store, "2026-03-02T08:00:00.000Z", "COM2", outcome::kFail, "WO-1", "SN-2");
    Add(*store, "2026-03-02T09:00:00.000Z", "COM1", outcome::kPass, "WO-2", "SN-3");
    CAttempt cut;
    cut.startedUtc = "2026-03-03T10:00:00.000Z";
    cut.port = "COM2";
    cut.command = "program";
    cut.serialHex = "AB01";
    ASSERT_TRUE(store->Begin(cut));

    auto count = [&](CRecordFilter f) {
        std::vector<CAttempt> rows;
        EXPECT_TRUE(store->Query(f, rows));
        return rows.size();
    };
    EXPECT_EQ(count({}), 4u);
    EXPECT_EQ(count({.sinceUtc = "2026-03-02T08:00:00.000Z"}), 3u) << "the bound itself is included";
    EXPECT_EQ(count({.untilUtc = "2026-03-02T08:00:00.000Z"}), 1u) << "the upper bound is not";
    EXPECT_EQ(count({.port = "COM1"}), 2u);
    EXPECT_EQ(count({.outcome = "unfinished"}), 1u);
    EXPECT_EQ(count({.tag = "WO-1"}), 2u);
    EXPECT_EQ(count({.serial = "SN-3"}), 1u);
    EXPECT_EQ(count({.serial = "sn-"}), 3u) << "the serial's start, in any case";
    EXPECT_EQ(count({.serial = "N-3"}), 0u) << "its start, not any part of it";
    EXPECT_EQ(count({.serial = "ab0"}), 1u) << "hex by its start, in any case";
    EXPECT_EQ(count({.port = "COM1", .tag = "WO-1"}), 1u);
    EXPECT_EQ(count({.tag = "' OR 1=1 --"}), 0u) << "a filter is a value, never SQL";

    // The same through the command line, with times the user types.
    store.reset();
    ASSERT_EQ(Cli({"records", "--records", m_file.string(), "--json", "--since", "2026-03-02T00:00Z",
                   "--until", "2026-03-02T23:59Z"}),
              0)
        << m_err.str();
    std::istringstream lines(m_out.str());
    std::vector<nlohmann::json> objects;
    for (std::string line; std::getline(lines, line);)
        objects.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0]["port"], "COM2");
    EXPECT_EQ(objects[0]["started_utc"], "2026-03-02T08:00:00.000Z");
    EXPECT_EQ(objects[1]["serial_text"], "SN-3");

    EXPECT_EQ(Cli({"records", "--records", m_file.string(), "--since", "last week"}), 2);
    EXPECT_NE(m_err.str().find("last week: not a time"), std::string::npos) << m_err.str();
    EXPECT_EQ(Cli({"records", "--records", (m_dir / "typo.sqlite3").string()}), 1);
    EXPECT_FALSE(fs::exists(m_dir / "typo.sqlite3")) << "reading never creates a file";
}

TEST_F(Records, CsvQuotesWhatNeedsItAndStatsCountTheYield)
{
    EXPECT_EQ(records::CsvField("plain"), "plain");
    EXPECT_EQ(records::CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(records::CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(records::CsvField("two\nlines"), "\"two\nlines\"");

    auto store = OpenStore();
    ASSERT_TRUE(store);
    CAttempt a = Add(*store, "2026-03-02T08:00:00.000Z", "COM1", outcome::kPass, "WO \"7\", line 2");
    a.messages = {"Erase OK.", "Program OK."};
    ASSERT_TRUE(store->Complete(a));
    Add(*store, "2026-03-02T09:00:00.000Z", "COM1", outcome::kFail);
    Add(*store, "2026-03-02T10:00:00.000Z", "COM2", outcome::kPass);
    Add(*store, "2026-03-02T11:00:00.000Z", "COM2", outcome::kStopped);
    CAttempt partWay = Add(*store, "2026-03-02T12:00:00.000Z", "COM2", outcome::kStopped);
    partWay.eraseResult = step::kOk;
    partWay.programResult = step::kStopped;
    ASSERT_TRUE(store->Complete(partWay));
    // A technician's Erase before the windows' Program, and a verify of its own: attempts,
    // but no panels passed.
    for (const char* command : {"windows erase", "verify"}) {
        CAttempt service = Add(*store, "2026-03-02T07:30:00.000Z", "COM1", outcome::kPass);
        service.command = command;
        ASSERT_TRUE(store->Complete(service));
    }
    store.reset();

    ASSERT_EQ(Cli({"records", "--records", m_file.string(), "--csv"}), 0) << m_err.str();
    const std::string csv = m_out.str();
    EXPECT_EQ(csv.rfind("id,started,ended,host,", 0), 0u) << csv;
    EXPECT_NE(csv.find(",\"WO \"\"7\"\", line 2\","), std::string::npos) << csv;
    EXPECT_NE(csv.find(",\"Erase OK.\nProgram OK.\","), std::string::npos) << "a field may hold a line break";
    size_t records = 0;
    for (size_t at = 0; (at = csv.find("\r\n", at)) != std::string::npos; at += 2)
        ++records;
    EXPECT_EQ(records, 8u) << "CRLF ends each record, the header included";

    ASSERT_EQ(Cli({"records", "--records", m_file.string(), "--stats", "--json"}), 0) << m_err.str();
    std::istringstream lines(m_out.str());
    std::map<std::string, nlohmann::json> byKey;
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json o = nlohmann::json::parse(line);
        byKey[o.contains("port") ? o["port"].get<std::string>() : "day " + o["day"].get<std::string>()] = o;
    }
    EXPECT_EQ(byKey["COM1"]["passed"], 1);
    EXPECT_EQ(byKey["COM1"]["failed"], 1);
    EXPECT_DOUBLE_EQ(byKey["COM1"]["yield"].get<double>(), 0.5);
    EXPECT_EQ(byKey["COM2"]["failed"], 0) << "a stopped attempt is no failed panel";
    EXPECT_EQ(byKey["COM2"]["stopped_part_way"], 1) << "a stop after the erase began, not the one before it";
    EXPECT_DOUBLE_EQ(byKey["COM2"]["yield"].get<double>(), 1.0);
    int passed = 0;
    for (const auto& [key, o] : byKey)
        if (key.rfind("day ", 0) == 0) passed += o["passed"].get<int>();
    EXPECT_EQ(passed, 2);

    ASSERT_EQ(Cli({"records", "--records", m_file.string(), "--port", "COM2"}), 0) << m_err.str();
    EXPECT_EQ(m_out.str().rfind("started ", 0), 0u);
    EXPECT_NE(m_out.str().find("stopped"), std::string::npos);
    EXPECT_EQ(m_out.str().find("COM1"), std::string::npos);
}

TEST_F(Records, HostileTextIsStoredAsValidUtf8AndShownAsText)
{
    auto store = OpenStore();
    ASSERT_TRUE(store);
    CAttempt a;
    a.command = "program";
    a.port = "COM1\x1b]0;owned\x07";
    a.loaderVersion = "\xff\xfeVER";
    a.serialText = "PNL\x1b[2J-\xc2\x9b"
                   "7";
    a.tag = "=HYPERLINK(\"http://evil/\")";
    ASSERT_TRUE(store->Begin(a)) << store->LastError();
    a.outcome = outcome::kFail;
    a.exitCode = 9;
    a.messages = {"Größe \xe2\x82"};
    ASSERT_TRUE(store->Complete(a)) << store->LastError();
    store.reset();

    ASSERT_EQ(Cli({"records", "--records", m_file.string(), "--json"}), 0) << m_err.str();
    const nlohmann::json stored = nlohmann::json::parse(m_out.str());
    EXPECT_EQ(stored["loader_version"], "\\xff\\xfeVER") << "an invalid byte is written as \\xNN";
    EXPECT_EQ(stored["messages"][0], "Größe \\xe2\\x82") << "valid UTF-8 stays as it is";
    EXPECT_EQ(stored["tag"], a.tag) << "JSON carries the text as it is";

    ASSERT_EQ(Cli({"records", "--records", m_file.string()}), 0) << m_err.str();
    const std::string table = m_out.str();
    EXPECT_EQ(table.find('\x1b'), std::string::npos) << table;
    EXPECT_NE(table.find("COM1\\x1b]0;owned\\x07"), std::string::npos) << table;
    EXPECT_NE(table.find("PNL\\x1b[2J-\\xc2\\x9b7"), std::string::npos) << "C1 controls too: " << table;

    ASSERT_EQ(Cli({"records", "--records", m_file.string(), "--csv"}), 0) << m_err.str();
    const std::string csv = m_out.str();
    EXPECT_NE(csv.find(",\"'=HYPERLINK(\"\"http://evil/\"\")\","), std::string::npos) << csv;
    EXPECT_NE(csv.find(",fail,9,"), std::string::npos) << "numbers are left alone: " << csv;
    for (const char* cell : {"+1", "-x", "@SUM(A1)", "\tTAB", "\rCR"})
        EXPECT_EQ(platform::SpreadsheetText(cell), std::string("'") + cell);
    for (const char* cell : {"-12", "-0.5", "2026-12-09T08:58:12+01:00", "WO-4711"})
        EXPECT_EQ(platform::SpreadsheetText(cell), cell);

    // The lines of program, verify and erase: a message box's text or a version reply.
    std::ostringstream out, err;
    CReporter reporter(OutputMode::Text, out, err, false, 80);
    reporter.Start("program", "COM1\x1b[2J");
    reporter.Message("Serial PNL\x1b]0;owned\x07");
    reporter.Value("Boot loader version", "V\x1b[31m1");
    reporter.Result(ExitCode::Ok, {});
    EXPECT_EQ(out.str().find('\x1b'), std::string::npos) << out.str();
    EXPECT_EQ(err.str(), "Serial PNL\\x1b]0;owned\\x07\n");
    EXPECT_NE(out.str().find("Boot loader version: V\\x1b[31m1\n"), std::string::npos) << out.str();
    std::ostringstream events;
    CReporter json(OutputMode::Json, events, err, false, 80);
    json.Value("version", "\xff\xfeVER");
    EXPECT_EQ(events.str(), "{\"event\":\"value\",\"name\":\"version\",\"value\":\"\\\\xff\\\\xfeVER\"}\n")
        << "a reply that is no UTF-8 ends no program";
}

TEST_F(Records, AFileThatIsNotSoundOrNotOursIsRefusedAndLeftAsItWas)
{
    {
        auto store = OpenStore();
        ASSERT_TRUE(store);
        for (int i = 0; i < 120; ++i)
            Add(*store, records::UtcText(1767225600000 + i * 1000), "COM" + std::to_string(i % 4 + 1),
                outcome::kPass, std::string(100, 'x'));
    }
    const std::string sound = ReadAll(m_file);
    ASSERT_GT(sound.size(), 4u * 4096);

    auto refused = [&](const fs::path& file, const std::string& why) {
        const std::string before = ReadAll(file);
        std::string error;
        EXPECT_FALSE(CRecordStore::Open(file, RecordsFile::Named, error));
        EXPECT_NE(error.find(why), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line";
        EXPECT_TRUE(ReadAll(file) == before) << file << " must stay as it was";
    };
    // A page in the middle written over.
    std::string damaged = sound;
    std::fill(damaged.begin() + 2 * 4096, damaged.begin() + 2 * 4096 + 64, '\xFF');
    const fs::path damagedFile = m_dir / "damaged.sqlite3";
    std::ofstream(damagedFile, std::ios::binary) << damaged;
    refused(damagedFile, "is damaged");

    std::string noHeader = sound;
    noHeader.replace(0, 6, "sqlite");
    const fs::path noHeaderFile = m_dir / "header.sqlite3";
    std::ofstream(noHeaderFile, std::ios::binary) << noHeader;
    refused(noHeaderFile, "is not a records database");

    const fs::path text = m_dir / "notes.txt";
    std::ofstream(text) << "some notes, not a database\n";
    refused(text, "is not a records database");

    const fs::path other = m_dir / "other.sqlite3";
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(other.string().c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "CREATE TABLE mine (x); INSERT INTO mine VALUES (1)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    refused(other, "holds other tables");

    const fs::path newer = m_dir / "newer.sqlite3";
    fs::copy_file(m_file, newer);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(newer.string().c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    refused(newer, "newer Torvane");

    // The command line refuses a named file before it does anything else.
    RecordsChoice choice{damagedFile.string(), false};
    CCommandRecords commandRecords;
    std::ostringstream err;
    EXPECT_FALSE(commandRecords.Open(choice, err));
    EXPECT_EQ(err.str().rfind("torvane-cli: records file refused: ", 0), 0u) << err.str();
    EXPECT_TRUE(ReadAll(m_file) == sound);
}

TEST_F(Records, TheCommandRecordKeepsTheRunsFieldsAndAFailedWriteEndsInExitOne)
{
    const fs::path upgrade = m_dir / "panel.mot";
    std::ofstream(upgrade, std::ios::binary) << "abc";
    CliOptions options;
    options.command = "program";
    options.file = upgrade.string();
    options.baud = 115200;
    std::ostringstream err;
    {
        CCommandRecords records;
        ASSERT_TRUE(records.Open({m_file.string(), false}, err)) << err.str();
        ASSERT_TRUE(records.Begin(options, "COM1")) << records.Problem();
        records.Message("Erase OK.");
        records.Message("Program OK.");
        // What the run filled in stays; the exit code is only kept.
        records.Attempt().outcome = outcome::kPass;
        records.Attempt().pagesSent = 256;
        records.Attempt().verifyResult = step::kOk;
        EXPECT_EQ(records.Complete(ExitCode::Ok, {{"pages", 1}, {"verified", false}}), ExitCode::Ok);
        EXPECT_EQ(records.Problem(), "");
    }
    auto store = OpenStore();
    std::vector<CAttempt> rows;
    ASSERT_TRUE(store->Query({}, rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].outcome, "pass");
    EXPECT_EQ(rows[0].exitCode, 0);
    EXPECT_EQ(rows[0].pagesSent, 256);
    EXPECT_EQ(rows[0].verifyResult, "ok");
    EXPECT_EQ(rows[0].fileSize, 3);
    EXPECT_EQ(rows[0].fileSha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(rows[0].messages.size(), 2u);

    // The row vanished under the process (another program removed it): the record
    // cannot be completed, and a flash that went well still ends in exit code 1.
    CCommandRecords records;
    ASSERT_TRUE(records.Open({m_file.string(), false}, err));
    ASSERT_TRUE(records.Begin(options, "COM2"));
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(m_file.string().c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "DELETE FROM attempt WHERE port = 'COM2'", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    EXPECT_EQ(records.Complete(ExitCode::Ok, {}), ExitCode::Failed);
    EXPECT_NE(records.Problem().find("cannot write the record"), std::string::npos) << records.Problem();
    EXPECT_EQ(records.Complete(ExitCode::EraseError, {}), ExitCode::EraseError) << "the worse code stays";
}

TEST_F(Records, TheDefaultFileIsUsedWhenItCanBeAndOtherwiseAWarningSaysSo)
{
#ifdef _WIN32
    const char* variable = "LOCALAPPDATA";
    auto set = [&](const std::string& value) { _putenv_s(variable, value.c_str()); };
#else
    const char* variable = "XDG_DATA_HOME";
    auto set = [&](const std::string& value) { setenv(variable, value.c_str(), 1); };
#endif
    const std::string saved = std::getenv(variable) ? std::getenv(variable) : "";
    CliOptions options;
    options.command = "erase";
    std::ostringstream err;

    set((m_dir / "data").string());
    {
        CCommandRecords records;
        ASSERT_TRUE(records.Open({}, err));
        EXPECT_TRUE(records.Enabled());
        ASSERT_TRUE(records.Begin(options, "COM3"));
        EXPECT_EQ(records.Complete(ExitCode::EraseError, {}), ExitCode::EraseError);
    }
    EXPECT_EQ(err.str(), "");
    EXPECT_TRUE(fs::exists(CRecordStore::DefaultPath())) << CRecordStore::DefaultPath().Utf8();

    // A data folder that cannot be made (a file stands where it should be).
    std::ofstream(m_dir / "blocker") << "x";
    set((m_dir / "blocker" / "data").string());
    CCommandRecords records;
    EXPECT_TRUE(records.Open({}, err)) << "the command goes on";
    EXPECT_FALSE(records.Enabled());
    EXPECT_EQ(err.str().rfind("torvane-cli: warning: no records are kept: ", 0), 0u) << err.str();
    auto lines = [&err] {
        const std::string text = err.str();
        return std::count(text.begin(), text.end(), '\n');
    };
    EXPECT_EQ(lines(), 1);
    EXPECT_TRUE(records.Begin(options, "COM3"));
    EXPECT_EQ(records.Complete(ExitCode::Ok, {}), ExitCode::Ok);
    EXPECT_EQ(lines(), 1) << "warned once";
    set(saved);
}

TEST_F(Records, TimesAreUtcInsideAndLocalOutside)
{
    const int64_t ms = 1767225600123; // 2026-01-01T00:00:00.123Z
    EXPECT_EQ(records::UtcText(ms), "2026-01-01T00:00:00.123Z");
    EXPECT_EQ(records::ParseUtcText("2026-01-01T00:00:00.123Z"), ms);
    EXPECT_EQ(records::ParseUserTime("2026-01-01T01:00+01:00", false), ms - 123);
    EXPECT_EQ(records::ParseUserTime("2025-12-31 19:00:00-05:00", false), ms - 123);
    const std::string local = records::LocalText(ms);
    EXPECT_EQ(records::ParseUserTime(local, false), ms - 123) << local;
    EXPECT_EQ(records::ParseUserTime(local.substr(0, 19), false), ms - 123) << "no zone: local time";
    const auto day = records::ParseUserTime(records::LocalDay(ms), false);
    const auto dayEnd = records::ParseUserTime(records::LocalDay(ms), true);
    ASSERT_TRUE(day && dayEnd);
    EXPECT_LE(*day, ms);
    EXPECT_GT(*dayEnd, ms);
    EXPECT_FALSE(records::ParseUserTime("2026-13-01", false));
    EXPECT_FALSE(records::ParseUserTime("01.02.2026", false));
}

TEST_F(Records, TodayYesterdayAndAClockTimeAreTakenOnTheLocalDayOfTheQuery)
{
    const int64_t now = 1781526896000; // 2026-06-15T12:34:56Z
    const std::string day = records::LocalDay(now);
    const auto today = records::ParseFilterTime("today", false, now);
    const auto todayEnd = records::ParseFilterTime("today", true, now);
    const auto yesterday = records::ParseFilterTime("yesterday", false, now);
    const auto yesterdayEnd = records::ParseFilterTime("yesterday", true, now);
    const auto clock = records::ParseFilterTime("8:30", false, now);
    ASSERT_TRUE(today && todayEnd && yesterday && yesterdayEnd && clock);
    EXPECT_EQ(records::LocalText(*today).substr(0, 19), day + "T00:00:00");
    EXPECT_LE(*today, now);
    EXPECT_GT(*todayEnd, now);
    EXPECT_EQ(records::LocalText(*todayEnd).substr(10, 9), "T00:00:00") << "up to the end of today";
    EXPECT_EQ(*yesterdayEnd, *today);
    EXPECT_EQ(records::LocalText(*yesterday).substr(10, 9), "T00:00:00");
    EXPECT_NE(records::LocalDay(*yesterday), day);
    EXPECT_EQ(records::LocalText(*clock).substr(0, 19), day + "T08:30:00") << "local time, today";
    EXPECT_EQ(records::ParseFilterTime("2026-06-14T08:30Z", false, now), now - 101096000) << "dates as before";
    EXPECT_FALSE(records::ParseFilterTime("24:00", false, now));
    EXPECT_FALSE(records::ParseFilterTime("last week", false, now));
}

} // namespace

TEST_F(Records, EveryFieldRoundTripsThroughTheJournalCsvAndJson)
{
    const CAttempt sent = EveryField();
    CAttempt stored;
    {
        auto store = OpenStore();
        ASSERT_TRUE(store);
        CAttempt a = sent;
        ASSERT_TRUE(store->Begin(a)) << store->LastError();
        a = sent;
        ASSERT_TRUE(store->Complete(a)) << store->LastError();
        std::vector<CAttempt> rows;
        ASSERT_TRUE(store->Query({}, rows));
        ASSERT_EQ(rows.size(), 1u);
        ExpectSameFields(sent, rows[0], "the journal");
        stored = rows[0];
    }

    ASSERT_EQ(Cli({"records", "--records", m_file.string(), "--json"}), 0) << m_err.str();
    const nlohmann::json line = nlohmann::json::parse(m_out.str());
    EXPECT_EQ(line, nlohmann::json(AttemptJson(stored))) << "the listing writes what a hook receives";
    CAttempt read;
    ASSERT_TRUE(records::AttemptFromJson(line, read));
    ExpectSameFields(sent, read, "JSON");

    ASSERT_EQ(Cli({"records", "--records", m_file.string(), "--csv"}), 0) << m_err.str();
    // RFC 4180: quoted cells may hold commas, doubled quotes and line breaks.
    std::vector<std::vector<std::string>> csv{{""}};
    const std::string text = m_out.str();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') {
            for (++i; i < text.size(); ++i) {
                if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"')
                    csv.back().back() += text[++i];
                else if (text[i] == '"')
                    break;
                else
                    csv.back().back() += text[i];
            }
        } else if (text[i] == ',') {
            csv.back().emplace_back();
        } else if (text.compare(i, 2, "\r\n") == 0) {
            if (++i + 1 < text.size()) csv.push_back({""});
        } else {
            csv.back().back() += text[i];
        }
    }
    ASSERT_EQ(csv.size(), 2u) << text;
    size_t column = 0;
    for (const records::CField& field : records::kFields) {
        if (!field.csvKey) continue;
        ASSERT_LT(column, csv[1].size());
        EXPECT_EQ(csv[0][column], field.csvKey);
        std::string expected = records::FieldText(field, sent).value_or("");
        if (field.type == records::FieldType::UtcTime)
            expected = records::LocalText(*records::ParseUtcText(expected));
        if (field.type == records::FieldType::Milliseconds) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(std::stoll(expected)) / 1000.0);
            expected = seconds;
        }
        EXPECT_EQ(csv[1][column], expected) << field.column;
        ++column;
    }
    EXPECT_EQ(column, csv[1].size());
}

// The journal as version 3 made it.
constexpr char kVersionThreeSchema[] = R"(
CREATE TABLE attempt (id TEXT PRIMARY KEY NOT NULL, started_utc TEXT NOT NULL, ended_utc TEXT, host TEXT NOT NULL,
    user TEXT NOT NULL, process_id INTEGER NOT NULL, process_start TEXT, tool_version TEXT NOT NULL, port TEXT,
    device TEXT, command TEXT NOT NULL, file_name TEXT, file_size INTEGER, file_sha256 TEXT, pages_sent INTEGER,
    baud_rate INTEGER, page_pause_ms INTEGER, loader_version TEXT, serial_hex TEXT, serial_text TEXT,
    id_check TEXT, erase_result TEXT, program_result TEXT, verify_result TEXT, backup_file TEXT,
    outcome TEXT NOT NULL CHECK (outcome IN ('pass', 'fail', 'stopped', 'unchanged', 'unfinished')),
    exit_code INTEGER, messages TEXT, duration_ms INTEGER, tag TEXT, station_run TEXT,
    revision INTEGER NOT NULL DEFAULT 1, sent_revision INTEGER NOT NULL DEFAULT 0, set_aside TEXT, signer TEXT);
CREATE INDEX attempt_started ON attempt (started_utc);
CREATE INDEX attempt_port ON attempt (port, started_utc);
CREATE INDEX attempt_unsent ON attempt (started_utc) WHERE sent_revision < revision;
PRAGMA user_version = 3;
INSERT INTO attempt (id, started_utc, host, user, process_id, tool_version, port, command, outcome, signer)
    VALUES ('a1', '2026-03-02T08:00:00.000Z', 'pc', 'op', 1, '1.0.0', 'COM1', 'program', 'pass', 'release.pub.pem');
INSERT INTO attempt (id, started_utc, host, user, process_id, tool_version, port, command, outcome, erase_result)
    VALUES ('a2', '2026-03-02T09:00:00.000Z', 'pc', 'op', 1, '1.0.0', 'COM1', 'program', 'stopped', 'ok');
)";

TEST_F(Records, AVersionThreeFileIsCountedAsItIsAndMigratedWithItsRows)
{
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(m_file.string().c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, kVersionThreeSchema, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    auto stats = [&] {
        EXPECT_EQ(Cli({"records", "--records", m_file.string(), "--stats", "--json"}), 0) << m_err.str();
        return m_out.str();
    };
    const std::string before = stats(); // read only: the file stays at version 3
    EXPECT_NE(before.find(R"("failed":0,"passed":1,"port":"COM1","stopped_part_way":1)"), std::string::npos)
        << before;
    // Listed as it is, without the columns it is too old to have.
    m_out.str("");
    EXPECT_EQ(Cli({"records", "--records", m_file.string()}), 0) << m_err.str();
    EXPECT_NE(m_out.str().find("reason"), std::string::npos) << m_out.str();
    EXPECT_NE(m_out.str().find("stopped"), std::string::npos) << m_out.str();

    auto store = OpenStore();
    ASSERT_TRUE(store);
    CAttempt a;
    a.command = "program";
    a.startedUtc = "2026-03-02T10:00:00.000Z";
    a.failReason = "erase: the panel reported an erase error";
    ASSERT_TRUE(store->Begin(a)) << store->LastError();
    std::vector<CAttempt> rows;
    ASSERT_TRUE(store->Query(CRecordFilter{}, rows));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].signer, "release.pub.pem");
    EXPECT_EQ(rows[1].failReason, "");
    EXPECT_EQ(rows[2].failReason, "erase: the panel reported an erase error");
    store.reset();
    EXPECT_EQ(stats(), before) << "the migrated rows count on the same days";
}
