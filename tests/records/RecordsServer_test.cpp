// The records server: a throw-away PostgreSQL cluster per test program (tests/records/
// pg-cluster), stations' journals delivering to it through the sender, the server
// stopped in the middle, resends, a wrong password, hostile text and an import.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "records/server/RecordsServer.h"
#include "records/RecordStore.h"
#include "records/server/RecordsSender.h"
#include "records/server/ServerRecords.h"
#include "tests/fixtures/Shell.h"
#include "tests/records/EveryField.h"
#include "platform/ThisProcess.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string Quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

class RecordsServer : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = fs::temp_directory_path() / ("torvane-pg-" + std::to_string(getpid()));
        fs::remove_all(s_dir);
        fs::create_directories(s_dir);
        // The server runs as another user (under root): it must reach its folder.
        chmod(s_dir.c_str(), 0755);
        int status = 0;
        const std::string url = Shell(Script() + " start " + Quoted(s_dir / "cluster") + " 2>&1", status);
        if (status == 77) {
            s_missing = true;
            return;
        }
        ASSERT_EQ(status, 0) << url;
        s_url = url.substr(0, url.find('\n'));
        WritePassFile(s_dir / "pgpass", Password());
        setenv("PGPASSFILE", (s_dir / "pgpass").c_str(), 1);
        CPgConnection conn;
        std::string done, error;
        ASSERT_TRUE(conn.Connect(s_url, error)) << error;
        ASSERT_TRUE(records_server::InitSchema(conn, done, error)) << error;
    }
    static void TearDownTestSuite()
    {
        int status = 0;
        if (!s_missing) Shell(Script() + " destroy " + Quoted(s_dir / "cluster"), status);
        std::error_code ec;
        fs::remove_all(s_dir, ec);
    }

    void SetUp() override
    {
        if (s_missing) GTEST_SKIP() << "no PostgreSQL server programs (scripts/setup installs postgresql)";
        m_journal =
            s_dir / (std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + ".sqlite3");
        std::string error;
        ASSERT_TRUE(m_conn.Connect(s_url, error)) << error;
        ASSERT_TRUE(m_conn.Exec("TRUNCATE torvane_attempt").Ok()) << m_conn.Error();
        // A test's own rule, standing for a server that refuses a row for its data.
        ASSERT_TRUE(m_conn.Exec("ALTER TABLE torvane_attempt DROP CONSTRAINT IF EXISTS test_refused").Ok());
    }

    static std::string Script() { return TORVANE_SOURCE_DIR "/tests/records/pg-cluster"; }
    static std::string Cli() { return TORVANE_BINARY_DIR "/torvane-cli"; }
    static std::string Password()
    {
        std::ifstream in(s_dir / "cluster" / "password");
        std::string password;
        std::getline(in, password);
        return password;
    }
    static void WritePassFile(const fs::path& path, const std::string& password)
    {
        std::ofstream(path) << "*:*:*:torvane:" << password << "\n";
        chmod(path.c_str(), 0600);
    }

    std::unique_ptr<CRecordStore> Journal()
    {
        std::string error;
        auto store = CRecordStore::Open(m_journal, RecordsFile::Named, error);
        EXPECT_TRUE(store) << error;
        return store;
    }
    static CAttempt Finished(CRecordStore& store, const std::string& tag)
    {
        CAttempt a;
        a.command = "program";
        a.port = "/dev/ttyUSB0";
        a.tag = tag;
        EXPECT_TRUE(store.Begin(a)) << store.LastError();
        a.outcome = outcome::kPass;
        a.exitCode = 0;
        a.serialText = "SN-" + tag;
        a.messages = {"Erase OK.", "Program OK."};
        EXPECT_TRUE(store.Complete(a)) << store.LastError();
        return a;
    }
    static int64_t Unsent(CRecordStore& store)
    {
        int64_t count = -1;
        EXPECT_TRUE(store.CountUnsent(count)) << store.LastError();
        return count;
    }
    // Every id on the server, and how many rows there are (a duplicate shows as a difference).
    std::set<std::string> ServerIds(size_t& rows)
    {
        std::vector<CAttempt> attempts;
        std::string error;
        EXPECT_TRUE(records_server::Query(m_conn, {}, attempts, error)) << error;
        rows = attempts.size();
        std::set<std::string> ids;
        for (const CAttempt& a : attempts)
            ids.insert(a.id);
        return ids;
    }
    std::set<std::string> JournalIds(CRecordStore& store)
    {
        std::vector<CAttempt> attempts;
        EXPECT_TRUE(store.Query({}, attempts));
        std::set<std::string> ids;
        for (const CAttempt& a : attempts)
            ids.insert(a.id);
        return ids;
    }
    static SendReport Send(CRecordStore& store)
    {
        CServerSink sink(s_url);
        return sink.SendBacklog(store, std::chrono::steady_clock::now() + 20s);
    }

    CAttempt OnServer(const std::string& id)
    {
        std::vector<CAttempt> attempts;
        std::string error;
        EXPECT_TRUE(records_server::Query(m_conn, {}, attempts, error)) << error;
        for (const CAttempt& a : attempts)
            if (a.id == id) return a;
        return {};
    }
    // An attempt begun by a process that is gone.
    static CAttempt Orphan(CRecordStore& store, const std::string& host)
    {
        CAttempt orphan;
        orphan.command = "erase";
        orphan.host = host;
        const pid_t gone = fork();
        if (gone == 0) _exit(0);
        waitpid(gone, nullptr, 0);
        orphan.processId = static_cast<uint32_t>(gone);
        orphan.processStart = "an earlier run";
        EXPECT_TRUE(store.Begin(orphan)) << store.LastError();
        return orphan;
    }

    static inline fs::path s_dir;
    static inline std::string s_url;
    static inline bool s_missing = false;
    fs::path m_journal;
    CPgConnection m_conn;
};

TEST_F(RecordsServer, TwoWriterProcessesAtOnceReachTheServerEachRecordOnce)
{
    constexpr int kWriters = 2, kEach = 60;
    m_conn.Close(); // not shared with the children
    Journal();      // created before the writers start
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::string error;
            auto store = CRecordStore::Open(m_journal, RecordsFile::Named, error);
            if (!store) _exit(2);
            CServerSink sink(s_url);
            for (int n = 0; n < kEach; ++n) {
                Finished(*store, "w" + std::to_string(writer) + "-" + std::to_string(n));
                const SendReport report = sink.SendBacklog(*store, std::chrono::steady_clock::now() + 30s);
                if (!report.problem.empty()) {
                    std::fprintf(stderr, "writer %d: %s\n", writer, report.problem.c_str());
                    _exit(3);
                }
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    std::string error;
    ASSERT_TRUE(m_conn.Connect(s_url, error)) << error;
    auto store = Journal();
    EXPECT_EQ(Unsent(*store), 0) << "each writer's own send delivered what it wrote";
    size_t rows = 0;
    const std::set<std::string> ids = ServerIds(rows);
    EXPECT_EQ(rows, size_t(kWriters * kEach));
    EXPECT_EQ(ids, JournalIds(*store));
}

TEST_F(RecordsServer, ServerStoppedMidRunBacklogGrowsThenDrainsWithoutDuplicateOrLoss)
{
    auto store = Journal();
    for (int n = 0; n < 10; ++n)
        Finished(*store, "before-" + std::to_string(n));
    EXPECT_EQ(Send(*store).sent, 10);

    int status = 0;
    m_conn.Close();
    Shell(Script() + " stop " + Quoted(s_dir / "cluster"), status);
    ASSERT_EQ(status, 0);
    CServerSink sink(s_url); // a station's sink, its connection now broken
    for (int n = 0; n < 25; ++n) {
        Finished(*store, "during-" + std::to_string(n)); // the writes go on
        const SendReport report = sink.SendBacklog(*store, std::chrono::steady_clock::now() + 5s);
        EXPECT_FALSE(report.problem.empty());
        EXPECT_EQ(report.waiting, n + 1);
    }
    const std::string started = Shell(Script() + " start " + Quoted(s_dir / "cluster"), status);
    ASSERT_EQ(status, 0) << started;

    const SendReport drained = sink.SendBacklog(*store, std::chrono::steady_clock::now() + 20s);
    EXPECT_EQ(drained.problem, "");
    EXPECT_EQ(drained.sent, 25);
    EXPECT_EQ(drained.waiting, 0);
    std::string error;
    ASSERT_TRUE(m_conn.Connect(s_url, error)) << error;
    size_t rows = 0;
    EXPECT_EQ(ServerIds(rows), JournalIds(*store));
    EXPECT_EQ(rows, 35u);

    // Restarted while the sink held a sound connection: the next send finds it dropped
    // and connects again.
    m_conn.Close();
    Shell(Script() + " stop " + Quoted(s_dir / "cluster"), status);
    Shell(Script() + " start " + Quoted(s_dir / "cluster"), status);
    ASSERT_EQ(status, 0);
    Finished(*store, "after-restart");
    const SendReport again = sink.SendBacklog(*store, std::chrono::steady_clock::now() + 20s);
    EXPECT_EQ(again.problem, "");
    EXPECT_EQ(again.sent, 1);
}

TEST_F(RecordsServer, ResendsNeverDuplicateAndTheServerRowOnlyMovesForward)
{
    auto store = Journal();
    std::vector<CAttempt> written;
    for (int n = 0; n < 5; ++n)
        written.push_back(Finished(*store, "again-" + std::to_string(n)));
    // A quoted tag and SQL text travel as a parameter and come back as they were.
    const std::string hostile = "x'); DROP TABLE torvane_attempt; -- \"q\" \\ $1";
    written.push_back(Finished(*store, hostile));
    EXPECT_EQ(Send(*store).sent, 6);

    // The acknowledgement lost: the journal never marked them sent, so all go again.
    CSqliteDb db;
    ASSERT_TRUE(db.Open(m_journal.string(), 2 /* SQLITE_OPEN_READWRITE */));
    ASSERT_TRUE(db.Exec("UPDATE attempt SET sent_revision = 0"));
    EXPECT_EQ(Send(*store).sent, 6);
    size_t rows = 0;
    ServerIds(rows);
    EXPECT_EQ(rows, 6u);

    // A late resend of the unfinished first revision does not undo the finished row.
    CAttempt stale = written[0];
    stale.outcome = outcome::kUnfinished;
    stale.revision = 1;
    std::string error;
    ASSERT_TRUE(records_server::PrepareUpsert(m_conn, error)) << error;
    ASSERT_TRUE(records_server::Upsert(m_conn, stale, "elsewhere", error)) << error;
    CRecordFilter byTag;
    byTag.tag = written[0].tag;
    std::vector<CAttempt> found;
    ASSERT_TRUE(records_server::Query(m_conn, byTag, found, error)) << error;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].outcome, outcome::kPass);
    EXPECT_EQ(found[0].messages, written[0].messages);

    byTag.tag = hostile;
    ASSERT_TRUE(records_server::Query(m_conn, byTag, found, error)) << error;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].tag, hostile);
    EXPECT_EQ(found[0].startedUtc, written.back().startedUtc);

    // An attempt still running here waits; one whose process is gone goes as it is and
    // is completed on the server when it is finished later.
    CAttempt running;
    running.command = "verify";
    ASSERT_TRUE(store->Begin(running));
    CAttempt orphan;
    orphan.command = "erase";
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    orphan.processId = static_cast<uint32_t>(gone);
    orphan.processStart = "an earlier run";
    ASSERT_TRUE(store->Begin(orphan));
    const SendReport report = Send(*store);
    EXPECT_EQ(report.sent, 1);
    EXPECT_EQ(report.running, 1);
    EXPECT_EQ(report.waiting, 1);
    byTag = {};
    byTag.outcome = outcome::kUnfinished;
    ASSERT_TRUE(records_server::Query(m_conn, byTag, found, error)) << error;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].id, orphan.id);
    orphan.outcome = outcome::kFail;
    ASSERT_TRUE(store->Complete(orphan));
    EXPECT_EQ(Send(*store).sent, 1);
    ASSERT_TRUE(records_server::Query(m_conn, byTag, found, error)) << error;
    EXPECT_TRUE(found.empty());

    // The board's records line owes the server nothing for the attempt still under way.
    {
        CBackgroundRecordsSender board;
        ASSERT_TRUE(board.Start(m_journal, s_url));
        for (int i = 0; i < 200 && board.Waiting() != 1; ++i)
            std::this_thread::sleep_for(20ms);
        board.Stop();
        EXPECT_EQ(board.Waiting(), 1);
        EXPECT_EQ(board.BacklogText(), "");
    }

    // The station's sender, on its own thread: a nudge after an attempt delivers it.
    CRecordsSender sender(m_journal, s_url);
    sender.Start();
    running.outcome = outcome::kPass;
    ASSERT_TRUE(store->Complete(running));
    sender.Nudge();
    for (int i = 0; i < 200 && Unsent(*store) != 0; ++i)
        std::this_thread::sleep_for(50ms);
    sender.Stop();
    EXPECT_EQ(Unsent(*store), 0);
    EXPECT_EQ(sender.Last().problem, "");
}

TEST_F(RecordsServer, CommandLineSyncWrongPasswordImportAndRead)
{
    auto store = Journal();
    for (int n = 0; n < 3; ++n)
        Finished(*store, "cli-" + std::to_string(n));
    const std::string records = Cli() + " records --records " + Quoted(m_journal);
    const std::string server = " --records-server '" + s_url + "'";

    WritePassFile(s_dir / "wrong-pgpass", "not-the-password");
    int status = 0;
    std::string output = Shell("PGPASSFILE=" + Quoted(s_dir / "wrong-pgpass") + " " + records + " --sync" +
                                   server + " 2>&1 >/dev/null",
                               status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(output.find("password authentication failed"), std::string::npos) << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    EXPECT_EQ(Unsent(*store), 3) << "the journal keeps everything";
    EXPECT_EQ(JournalIds(*store).size(), 3u);

    output = Shell(records + " --sync" + server + " 2>&1", status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "3 records sent, 0 left.\n");
    output = Shell(records + " --sync" + server + " 2>&1", status);
    EXPECT_EQ(status, 0) << output;

    // A Windows station's export (records --json), imported twice: each record once.
    Finished(*store, "windows-only");
    const fs::path exported = s_dir / "station7.jsonl";
    Shell(records + " --json > " + Quoted(exported), status);
    ASSERT_EQ(status, 0);
    const fs::path damaged = s_dir / "damaged.jsonl";
    fs::copy_file(exported, damaged, fs::copy_options::overwrite_existing);
    std::ofstream(damaged, std::ios::app) << "{\"id\": 1}\n";
    output = Shell(Cli() + " records --import " + Quoted(damaged) + server + " 2>&1", status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(output.find("damaged.jsonl:5: not a record"), std::string::npos) << output;
    for (int round = 0; round < 2; ++round) {
        output = Shell(Cli() + " records --import " + Quoted(exported) + server + " 2>&1", status);
        EXPECT_EQ(status, 0) << output;
    }
    size_t rows = 0;
    EXPECT_EQ(ServerIds(rows), JournalIds(*store));
    EXPECT_EQ(rows, 4u);

    // The line's history read the way one station's is.
    output = Shell(Cli() + " records --csv --tag windows-only --server '" + s_url + "'", status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(output.find("SN-windows-only"), std::string::npos) << output;
    output = Shell(
        Cli() + " program x.mot --port /dev/null --records-server 'postgresql://u:secret@db/t' 2>&1", status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(output.find("holds a password"), std::string::npos) << output;
}

TEST_F(RecordsServer, ARowTheServerRefusesIsSetAsideAndTheRowsBehindItAreSent)
{
    auto store = Journal();
    // A panel whose version reply is no UTF-8, then a clean attempt: both reach the server.
    CAttempt odd;
    odd.command = "program";
    odd.loaderVersion = "\xff\xfeVER";
    ASSERT_TRUE(store->Begin(odd));
    odd.outcome = outcome::kPass;
    ASSERT_TRUE(store->Complete(odd));
    const CAttempt clean = Finished(*store, "clean");
    SendReport report = Send(*store);
    EXPECT_EQ(report.problem, "");
    EXPECT_EQ(report.sent, 2);
    EXPECT_EQ(OnServer(odd.id).loaderVersion, "\\xff\\xfeVER");
    EXPECT_EQ(OnServer(clean.id).outcome, outcome::kPass);

    ASSERT_TRUE(
        m_conn.Exec("ALTER TABLE torvane_attempt ADD CONSTRAINT test_refused CHECK (tag <> 'refused')").Ok());
    const CAttempt refused = Finished(*store, "refused");
    const CAttempt behind = Finished(*store, "behind");
    report = Send(*store);
    EXPECT_EQ(report.problem, "");
    EXPECT_EQ(report.sent, 1);
    EXPECT_EQ(report.waiting, 0);
    ASSERT_EQ(report.setAside.size(), 1u);
    EXPECT_EQ(report.setAside[0].id, refused.id);
    EXPECT_NE(report.setAside[0].reason.find("test_refused"), std::string::npos) << report.setAside[0].reason;
    EXPECT_EQ(OnServer(behind.id).tag, "behind");

    // The station's backlog line and records --sync name it; a retry after the fix sends it.
    CBackgroundRecordsSender sender;
    ASSERT_TRUE(sender.Start(m_journal, s_url));
    for (int i = 0; i < 200 && sender.BacklogText().empty(); ++i)
        std::this_thread::sleep_for(20ms);
    sender.Stop();
    EXPECT_NE(sender.BacklogText().find("1 set aside: " + refused.id), std::string::npos)
        << sender.BacklogText();
    // The station's job names the journal and the server.
    const fs::path job = s_dir / "line-3.ini";
    std::ofstream(job) << "[station]\nrecords = " << m_journal.string() << "\nrecords-server = " << s_url
                       << "\n";
    const std::string sync = Cli() + " records --job " + Quoted(job) + " --sync";
    int status = 0;
    std::string output = Shell(sync + " 2>&1", status);
    EXPECT_EQ(status, 1) << output;
    EXPECT_NE(output.find("0 records sent, 0 left, 1 set aside.\n"), std::string::npos) << output;
    EXPECT_NE(output.find("record " + refused.id + " set aside"), std::string::npos) << output;
    // Its hint is the whole command, run here from another folder.
    const size_t hint = output.find("(torvane-cli records ");
    const size_t hintEnd = output.find(" sends it again)", hint);
    ASSERT_NE(hintEnd, std::string::npos) << output;
    const std::string retry = output.substr(hint + 1 + std::string("torvane-cli").size(),
                                            hintEnd - hint - 1 - std::string("torvane-cli").size());
    EXPECT_NE(retry.find(" --retry-set-aside"), std::string::npos) << retry;
    ASSERT_TRUE(m_conn.Exec("ALTER TABLE torvane_attempt DROP CONSTRAINT test_refused").Ok());
    output = Shell("cd / && " + Cli() + retry + " 2>&1", status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "1 record sent, 0 left.\n");
}

TEST_F(RecordsServer, AnUnfinishedRowOfARenamedHostGoesWithTheReason)
{
    auto store = Journal();
    const CAttempt renamed = Orphan(*store, "station-old-name");
    const SendReport report = Send(*store);
    EXPECT_EQ(report.sent, 1);
    EXPECT_EQ(report.running, 0);
    ASSERT_EQ(report.notes.size(), 1u);
    EXPECT_NE(report.notes[0].find("station-old-name"), std::string::npos) << report.notes[0];
    const CAttempt sent = OnServer(renamed.id);
    EXPECT_EQ(sent.outcome, outcome::kUnfinished);
    ASSERT_EQ(sent.messages.size(), 1u);
    EXPECT_NE(sent.messages[0].find("cannot be checked"), std::string::npos) << sent.messages[0];
}

TEST_F(RecordsServer, ALockedTableCostsTheSendNoMoreThanItsTime)
{
    auto store = Journal();
    Finished(*store, "locked-out");
    ASSERT_TRUE(m_conn.Exec("BEGIN").Ok());
    ASSERT_TRUE(m_conn.Exec("LOCK TABLE torvane_attempt IN ACCESS EXCLUSIVE MODE").Ok());
    CServerSink sink(s_url);
    const auto start = std::chrono::steady_clock::now();
    const SendReport report = sink.SendBacklog(*store, start + 2s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s) << "the statements are capped by the time left";
    EXPECT_NE(report.problem, "");
    EXPECT_EQ(report.waiting, 1) << "a cancelled statement is no fault of the row";
    EXPECT_TRUE(report.setAside.empty());
    ASSERT_TRUE(m_conn.Exec("ROLLBACK").Ok());
    EXPECT_EQ(sink.SendBacklog(*store, std::chrono::steady_clock::now() + 20s).sent, 1);
}

TEST_F(RecordsServer, AnImportAddsWhatTheServerLacksAndRewritesNothing)
{
    auto store = Journal();
    const CAttempt passed = Finished(*store, "passed");
    const CAttempt someoneElses = Orphan(*store, platform::HostName());
    const CAttempt cut = Orphan(*store, platform::HostName());
    EXPECT_EQ(Send(*store).sent, 3);

    // A hostile export: a pass turned into a fail with a huge revision, a stranger's
    // unfinished row made a pass, the finished row turned back; beside them the honest
    // completion of the cut attempt by its own host and process, and a new record.
    auto line = [](CAttempt a, const std::string& outcome, int64_t revision) {
        nlohmann::json o = {{"id", a.id},
                            {"started_utc", a.startedUtc},
                            {"command", a.command},
                            {"host", a.host},
                            {"process_id", a.processId},
                            {"outcome", outcome},
                            {"revision", revision},
                            {"tag", "import"},
                            {"user", a.user},
                            {"tool_version", a.toolVersion}};
        if (!a.processStart.empty()) o["process_start"] = a.processStart;
        return o.dump() + "\n";
    };
    CAttempt stranger = someoneElses;
    stranger.processId += 1;
    CAttempt fresh = cut;
    fresh.id = CRecordStore::NewAttemptId();
    const fs::path hostile = s_dir / "hostile.jsonl";
    std::ofstream(hostile) << line(passed, outcome::kFail, 1000000) << line(stranger, outcome::kPass, 5)
                           << line(passed, outcome::kUnfinished, 1000001) << line(cut, outcome::kPass, 7)
                           << line(fresh, outcome::kFail, 99);
    int status = 0;
    const std::string server = " --records-server '" + s_url + "'";
    std::string output = Shell(Cli() + " records --import " + Quoted(hostile) + server + " 2>&1", status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find(": 1 record new, 4 already there (1 unfinished completed).\n"), std::string::npos)
        << output;
    EXPECT_EQ(OnServer(passed.id).outcome, outcome::kPass);
    EXPECT_EQ(OnServer(passed.id).revision, 2);
    EXPECT_EQ(OnServer(someoneElses.id).outcome, outcome::kUnfinished);
    EXPECT_EQ(OnServer(cut.id).outcome, outcome::kPass);
    EXPECT_EQ(OnServer(cut.id).revision, 2) << "the server's revision, not the file's";
    EXPECT_EQ(OnServer(fresh.id).revision, 2);

    // A read that ends anywhere but at the file's end imports nothing.
    const CAttempt unsent = Finished(*store, "unsent");
    const fs::path lost = s_dir / "lost.jsonl";
    std::ofstream(lost) << line(unsent, outcome::kPass, 2);
    for (const std::string& file : {s_dir.string(), std::string("/dev/zero")}) {
        output = Shell(Cli() + " records --import " + Quoted(file) + server + " 2>&1", status);
        EXPECT_EQ(status, 1) << file << ": " << output;
        EXPECT_NE(output.find("nothing imported"), std::string::npos) << output;
    }
    EXPECT_EQ(OnServer(unsent.id).id, "");
}

TEST(RecordsConnection, TcpChecksTheServersCertificateUnlessTheUserChoseAMode)
{
    const auto has = [](const PgConnectionSettings& s, const std::string& key) {
        for (const auto& list : {s.before, s.after})
            for (const auto& [k, v] : list)
                if (k == key) return v;
        return std::string();
    };
    unsetenv("PGSSLMODE");
    unsetenv("PGSERVICE");
    unsetenv("PGHOST");
    EXPECT_EQ(has(ConnectionSettings("postgresql://station3@db.line/torvane", {}), "sslmode"), "verify-full");
    EXPECT_EQ(has(ConnectionSettings("postgresql://db.line/torvane?sslmode=require", {}), "sslmode"), "");
    EXPECT_EQ(has(ConnectionSettings("host=/run/postgresql dbname=torvane", {}), "sslmode"), "")
        << "a Unix socket";
    EXPECT_EQ(has(ConnectionSettings("application_name=line3 host=db.line", {}), "application_name"), "");
    setenv("PGSSLMODE", "disable", 1);
    EXPECT_EQ(has(ConnectionSettings("postgresql://db.line/torvane", {}), "sslmode"), "");
    unsetenv("PGSSLMODE");

    const fs::path services = fs::temp_directory_path() / ("torvane-services-" + std::to_string(getpid()));
    std::ofstream(services) << "[line]\nhost=db.line\nsslmode=prefer\n\n[plain]\nhost=db.line\n";
    setenv("PGSERVICEFILE", services.c_str(), 1);
    EXPECT_EQ(has(ConnectionSettings("service=line", {}), "sslmode"), "");
    EXPECT_EQ(has(ConnectionSettings("service=plain", {}), "sslmode"), "verify-full");
    unsetenv("PGSERVICEFILE");
    fs::remove(services);

    // The time left caps the connection's wait whatever the string asks for.
    EXPECT_EQ(has(ConnectionSettings("host=db.line connect_timeout=30", 3), "connect_timeout"), "3");
}

} // namespace

TEST_F(RecordsServer, AnOlderServerIsMigratedWithItsRowsAndEveryFieldRoundTrips)
{
    // The server as version 1 left it: no signer, no failing step or kind, one row of an older station.
    ASSERT_TRUE(m_conn.Exec("ALTER TABLE torvane_attempt DROP COLUMN signer").Ok()) << m_conn.Error();
    ASSERT_TRUE(m_conn.Exec("ALTER TABLE torvane_attempt DROP COLUMN fail_reason").Ok()) << m_conn.Error();
    ASSERT_TRUE(m_conn.Exec("ALTER TABLE torvane_attempt DROP COLUMN fail_step").Ok()) << m_conn.Error();
    ASSERT_TRUE(m_conn.Exec("ALTER TABLE torvane_attempt DROP COLUMN fail_kind").Ok()) << m_conn.Error();
    ASSERT_TRUE(m_conn.Exec("DROP INDEX torvane_attempt_fixture").Ok()) << m_conn.Error();
    ASSERT_TRUE(m_conn.Exec("DROP TABLE torvane_line_station").Ok()) << m_conn.Error();
    ASSERT_TRUE(m_conn.Exec("DROP TRIGGER torvane_attempt_summary ON torvane_attempt").Ok())
        << m_conn.Error();
    ASSERT_TRUE(m_conn.Exec("UPDATE torvane_schema SET version = 1").Ok()) << m_conn.Error();
    ASSERT_TRUE(m_conn
                    .Exec("INSERT INTO torvane_attempt (id, started_utc, host, \"user\", process_id, tool_version,"
                          " command, outcome, revision, station_host) VALUES ('0b7e8f4a-3c2d-4e1f-8a9b-1c2d3e4f5a6b',"
                          " '2026-03-02T08:00:00Z', 'old-pc', 'op', 7, '0.9.0', 'program', 'pass', 2, 'old-pc')")
                    .Ok())
        << m_conn.Error();
    std::string done, error;
    EXPECT_FALSE(records_server::PrepareUpsert(m_conn, error));
    EXPECT_EQ(error, "the server's records are older than this Torvane: run torvane-cli records --init-server "
                     "to migrate them");
    ASSERT_TRUE(records_server::InitSchema(m_conn, done, error)) << error;
    EXPECT_EQ(done, "migrated the server's records to version " +
                        std::to_string(records_server::kSchemaVersion) + " (from 1)");
    const CPgResult index = m_conn.Exec("SELECT to_regclass('torvane_attempt_fixture') IS NOT NULL");
    EXPECT_EQ(index.Ok() ? index.Text(0, 0) : index.Error(), "t")
        << "the line's indexes come with the migration";
    EXPECT_TRUE(m_conn.Exec("SELECT name FROM torvane_line_station").Ok()) << "the stations' tokens' table";
    const CAttempt old = OnServer("0b7e8f4a-3c2d-4e1f-8a9b-1c2d3e4f5a6b");
    EXPECT_EQ(old.host, "old-pc");
    EXPECT_EQ(old.signer, "") << "a field the older station did not have stays empty";
    EXPECT_EQ(old.failReason, "");
    EXPECT_EQ(old.failStep, "");

    auto store = Journal();
    const CAttempt sent = EveryField();
    CAttempt a = sent;
    ASSERT_TRUE(store->Begin(a)) << store->LastError();
    a = sent;
    ASSERT_TRUE(store->Complete(a)) << store->LastError();
    EXPECT_EQ(Send(*store).sent, 1);
    ExpectSameFields(sent, OnServer(sent.id), "the server");
}
