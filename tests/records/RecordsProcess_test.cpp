// Many processes at one records file, and a process killed in the middle of writing:
// no record lost or torn, the file sound, the cut attempt left unfinished.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include "records/RecordStore.h"
#include "platform/ThisProcess.h"

namespace fs = std::filesystem;

namespace {

class RecordsProcesses : public testing::Test
{
protected:
    RecordsProcesses()
    {
        m_dir = fs::temp_directory_path() / ("torvane-records-proc-" + std::to_string(getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_file = m_dir / "records.sqlite3";
    }
    ~RecordsProcesses() override
    {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    // The attempt a writer makes as its n-th: every field tells who wrote it, so a
    // torn or mixed-up row shows.
    static CAttempt Made(int writer, int n)
    {
        CAttempt a;
        a.command = "program";
        a.port = "P" + std::to_string(writer);
        a.tag = "w" + std::to_string(writer) + "-" + std::to_string(n);
        a.pagesSent = n;
        a.fileSha256 = std::string(64, static_cast<char>('a' + writer));
        return a;
    }
    static void Finish(CAttempt& a, int writer)
    {
        a.outcome = outcome::kPass;
        a.exitCode = 0;
        a.serialText = "SN-" + a.tag;
        a.messages = {"Erase OK.", "Program OK. " + std::to_string(writer)};
    }
    static bool Whole(const CAttempt& a)
    {
        return a.outcome == outcome::kPass && !a.endedUtc.empty() && a.serialText == "SN-" + a.tag &&
               a.messages.size() == 2 && a.revision == 2;
    }

    std::vector<CAttempt> All()
    {
        std::string error;
        auto store = CRecordStore::Open(m_file, RecordsFile::Named, error);
        EXPECT_TRUE(store) << error;
        std::vector<CAttempt> rows;
        if (store) {
            EXPECT_TRUE(store->Query({}, rows)) << store->LastError();
        }
        return rows;
    }

    std::string IntegrityCheck()
    {
        sqlite3* db = nullptr;
        std::string result;
        if (sqlite3_open_v2(m_file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt* statement = nullptr;
            sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr);
            while (sqlite3_step(statement) == SQLITE_ROW)
                result += reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            sqlite3_finalize(statement);
        }
        sqlite3_close(db);
        return result;
    }

    fs::path m_dir, m_file;
};

TEST_F(RecordsProcesses, SeveralWritersAtOnceLoseAndTearNothing)
{
    constexpr int kWriters = 4, kEach = 150;
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // All open the file while it does not exist yet: one creates it, the others find it.
            std::string error;
            auto store = CRecordStore::Open(m_file, RecordsFile::Named, error);
            if (!store) {
                std::fprintf(stderr, "writer %d: %s\n", writer, error.c_str());
                _exit(2);
            }
            for (int n = 0; n < kEach; ++n) {
                CAttempt a = Made(writer, n);
                if (!store->Begin(a)) _exit(3);
                Finish(a, writer);
                if (!store->Complete(a)) {
                    std::fprintf(stderr, "writer %d: %s\n", writer, store->LastError().c_str());
                    _exit(4);
                }
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed: " << status;
    }

    const std::vector<CAttempt> rows = All();
    EXPECT_EQ(rows.size(), size_t(kWriters * kEach));
    std::set<std::string> ids, tags;
    for (const CAttempt& a : rows) {
        ids.insert(a.id);
        tags.insert(a.tag);
        EXPECT_TRUE(Whole(a)) << a.tag << " " << a.outcome;
        const int writer = a.port[1] - '0';
        EXPECT_EQ(a.tag, "w" + std::to_string(writer) + "-" + std::to_string(*a.pagesSent));
        EXPECT_EQ(a.fileSha256, std::string(64, static_cast<char>('a' + writer)));
    }
    EXPECT_EQ(ids.size(), rows.size()) << "every attempt has its own id";
    EXPECT_EQ(tags.size(), rows.size());
    EXPECT_EQ(IntegrityCheck(), "ok");
}

TEST_F(RecordsProcesses, AWriterKilledAnywhereLeavesASoundFileAndItsCutAttemptUnfinished)
{
    // Each writer tells on a pipe which attempts it began ("B id") and completed ("C id").
    auto writer = [&](int number, bool stopAfterBegin) {
        int pipeEnds[2];
        EXPECT_EQ(pipe(pipeEnds), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            close(pipeEnds[0]);
            std::string error;
            auto store = CRecordStore::Open(m_file, RecordsFile::Named, error);
            if (!store) _exit(2);
            for (int n = 0;; ++n) {
                CAttempt a = Made(number, n);
                if (!store->Begin(a)) _exit(3);
                const std::string begun = "B " + a.id + "\n";
                if (write(pipeEnds[1], begun.data(), begun.size()) < 0) _exit(4);
                if (stopAfterBegin && n == 5) pause(); // the panel is being flashed
                Finish(a, number);
                if (!store->Complete(a)) _exit(5);
                const std::string completed = "C " + a.id + "\n";
                if (write(pipeEnds[1], completed.data(), completed.size()) < 0) _exit(4);
            }
        }
        close(pipeEnds[1]);
        return std::pair{pid, fdopen(pipeEnds[0], "r")};
    };

    std::set<std::string> completed;
    std::string cut;
    // Killed after different numbers of records, so the kill falls at different points of a write.
    for (int round = 0; round < 4; ++round) {
        auto [pid, lines] = writer(round, round == 3);
        ASSERT_GT(pid, 0);
        int seen = 0;
        char line[128];
        while (std::fgets(line, sizeof line, lines)) {
            std::string text(line);
            text.pop_back();
            if (text[0] == 'C') completed.insert(text.substr(2));
            if (round == 3 && text[0] == 'B' && ++seen == 6) {
                cut = text.substr(2);
                break;
            }
            if (round < 3 && text[0] == 'C' && ++seen == 20 + 7 * round) break;
        }
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << status;
        std::fclose(lines);
    }

    EXPECT_EQ(IntegrityCheck(), "ok");
    std::map<std::string, CAttempt> byId;
    for (const CAttempt& a : All())
        byId[a.id] = a;
    for (const std::string& id : completed) {
        ASSERT_TRUE(byId.count(id)) << "a completed record was lost";
        EXPECT_TRUE(Whole(byId[id])) << id;
    }
    for (const auto& [id, a] : byId) {
        // A row is either the whole attempt or its beginning, never a mix.
        if (a.outcome == outcome::kUnfinished)
            EXPECT_TRUE(a.endedUtc.empty() && a.serialText.empty() && a.messages.empty() && a.revision == 1);
        else
            EXPECT_TRUE(Whole(a)) << id;
    }
    ASSERT_TRUE(byId.count(cut));
    EXPECT_EQ(byId[cut].outcome, "unfinished");
    EXPECT_NE(platform::ProcessStartStamp(byId[cut].processId), byId[cut].processStart)
        << "a later reader can tell that the cut attempt's writer is gone";
    EXPECT_GE(completed.size(), 20u + 27u + 34u + 5u);
}

TEST_F(RecordsProcesses, TheFilesAreTheOwnersAloneAndAReaderNeedsNoWriteAccess)
{
    const mode_t before = umask(022);
    std::string error;
    auto store = CRecordStore::Open(m_file, RecordsFile::Named, error);
    umask(before);
    ASSERT_TRUE(store) << error;
    CAttempt a = Made(1, 1);
    ASSERT_TRUE(store->Begin(a)) << store->LastError();
    for (const char* suffix : {"", "-wal", "-shm"}) {
        struct stat info = {};
        ASSERT_EQ(stat((m_file.string() + suffix).c_str(), &info), 0) << suffix;
        EXPECT_EQ(info.st_mode & 0777, 0600u) << "records" << suffix;
    }
    store.reset();

    // A reader that may read the file but not write it (another user, under root).
    chmod(m_file.c_str(), getuid() == 0 ? 0644 : 0400);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        auto reader = CRecordStore::Open(m_file, RecordsFile::ReadOnly, error);
        std::vector<CAttempt> rows;
        if (!reader) {
            std::fprintf(stderr, "%s\n", error.c_str());
            _exit(3);
        }
        _exit(reader->Query({}, rows) && rows.size() == 1 ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

} // namespace
