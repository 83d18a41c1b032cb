// The station in real time against torvane-sim on pseudo-terminals: three panels in a
// row on one fixture with the power switched between them, a failing panel on a second
// fixture beside it, Ctrl-C at the end; every flash and record checked. A station killed
// outright, and a fixture's process killed, in the middle of a program.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "records/RecordFilter.h"
#include "records/RecordStore.h"
#include "commands/Command.h"
#include "fixtures/AppFixture.h"
#include "image/MotFile.h"

namespace fs = std::filesystem;

namespace {

pid_t Start(const std::vector<std::string>& args, const fs::path& output, bool waitForLine)
{
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        if (waitForLine) {
            dup2(fds[1], STDOUT_FILENO);
        } else {
            FILE* out = std::fopen(output.c_str(), "w");
            if (out) dup2(fileno(out), STDOUT_FILENO);
        }
        close(fds[0]);
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    char c;
    while (waitForLine && read(fds[0], &c, 1) == 1 && c != '\n') {
    }
    close(fds[0]);
    return pid;
}

TEST(StationPty, ThreePanelsInARowBesideAFailingOne)
{
    const fs::path dir = fs::temp_directory_path() / ("torvane-station-pty-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string upgrade = (dir / "small.mot").string();
    {
        std::ofstream(upgrade) << MakeSRecords({{0xF0000, Pattern(0xF0000, 0x200, 4)}});
    }
    const std::string sim = TORVANE_BINARY_DIR "/torvane-sim";
    const pid_t good = Start({sim, "--port", "COM1", "--erase-ms", "100", "--silent", "--flash-out",
                              (dir / "flash1.mot").string()},
                             {}, true);
    const pid_t bad = Start({sim, "--port", "COM2", "--erase-ms", "100", "--fail-erase"}, {}, true);
    const std::string db = (dir / "records.sqlite3").string();
    const fs::path events = dir / "events.jsonl";
    const pid_t station =
        Start({TORVANE_BINARY_DIR "/torvane-cli", "station", upgrade, "--port", "COM1", "--port", "COM2",
               "--baud", "115200", "--records", db, "--tag", "LOT-9", "--json"},
              events, false);
    ASSERT_GT(station, 0);

    // Plays the operator: a panel in, PASS, out, the next one in.
    std::map<std::string, std::vector<std::string>> states;
    size_t linesSeen = 0;
    bool on = false;
    int passes = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    kill(good, SIGUSR1);
    on = true;
    while (passes < 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::ifstream in(events);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        for (; linesSeen < lines.size(); ++linesSeen) {
            const nlohmann::json event = nlohmann::json::parse(lines[linesSeen], nullptr, false);
            if (event.is_discarded() || event.value("event", "") != "state") continue;
            const std::string port = event.value("port", ""), state = event.value("state", "");
            states[port].push_back(state);
            if (port != "COM1") continue;
            if (state == "pass" && on) {
                ++passes;
                if (passes < 3) kill(good, SIGUSR1), on = false;
            }
            if (state == "removed" && !on) kill(good, SIGUSR1), on = true;
        }
    }
    kill(station, SIGINT);
    int status = 0;
    waitpid(station, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    for (pid_t pid : {good, bad}) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    EXPECT_EQ(passes, 3);
    EXPECT_EQ(std::count(states["COM1"].begin(), states["COM1"].end(), "removed"), 2);
    EXPECT_EQ(std::count(states["COM1"].begin(), states["COM1"].end(), "erasing"), 3)
        << "the erase comes from the fixture's process as a state of its own";
    EXPECT_EQ(std::count(states["COM2"].begin(), states["COM2"].end(), "fail"), 1)
        << "a failed panel that stays in its fixture is not tried again";

    std::string error;
    auto store = CRecordStore::Open(platform::CPath::FromUtf8(db), RecordsFile::Named, error);
    ASSERT_TRUE(store) << error;
    std::vector<CAttempt> rows;
    ASSERT_TRUE(store->Query(CRecordFilter{}, rows));
    ASSERT_EQ(rows.size(), 4u);
    int passed = 0;
    for (const CAttempt& row : rows) {
        EXPECT_EQ(row.tag, "LOT-9");
        EXPECT_EQ(row.stationRun, rows[0].stationRun);
        EXPECT_EQ(row.outcome, row.port == "COM1" ? "pass" : "fail") << row.port;
        passed += row.outcome == "pass";
    }
    EXPECT_EQ(passed, 3);

    CMotFile expected, flash;
    expected.LoadFile(upgrade);
    flash.LoadFile((dir / "flash1.mot").string());
    for (uint32_t page = 0xF00; page <= 0xFFF; ++page) {
        uint8_t want[kPageSize], got[kPageSize];
        std::fill(std::begin(want), std::end(want), 0xFF);
        std::fill(std::begin(got), std::end(got), 0xFF);
        expected.GetPage(want, page);
        flash.GetPage(got, page);
        ASSERT_TRUE(std::equal(std::begin(want), std::end(want), got)) << "page " << page;
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}

// The states seen so far in a station's --json output, as "PORT state" lines.
std::vector<std::string> States(const fs::path& events)
{
    std::vector<std::string> states;
    std::ifstream in(events);
    for (std::string line; std::getline(in, line);) {
        const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        if (!event.is_discarded() && event.value("event", "") == "state")
            states.push_back(event.value("port", "") + " " + event.value("state", ""));
    }
    return states;
}

// Waits (real time, at most `seconds`) until `state` was seen `times` times.
bool WaitForState(const fs::path& events, const std::string& state, int times, int seconds = 60)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::vector<std::string> states = States(events);
        if (std::count(states.begin(), states.end(), state) >= times) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// The exit status of pid within `seconds`, or -1 (then it is killed).
int ExitWithin(pid_t pid, int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

class StationProcess : public ::testing::Test
{
protected:
    StationProcess() : m_dir(fs::temp_directory_path() / ("torvane-station-" + std::to_string(getpid())))
    {
        fs::create_directories(m_dir);
        m_upgrade = (m_dir / "panel.mot").string();
        std::ofstream(m_upgrade) << MakeSRecords({{0xF0000, Pattern(0xF0000, 0x200, 4)}});
        m_sim = Start({TORVANE_BINARY_DIR "/torvane-sim", "--port", "COM1", "--erase-ms", "100", "--silent",
                       "--flash-out", (m_dir / "flash.mot").string()},
                      {}, true);
    }
    ~StationProcess() override
    {
        // A station is stopped as an operator stops it, so that its fixtures end with it.
        if (m_station > 0) kill(m_station, SIGTERM), ExitWithin(m_station, 20);
        if (m_sim > 0) kill(m_sim, SIGKILL), waitpid(m_sim, nullptr, 0);
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    pid_t StartStation(const fs::path& events)
    {
        return Start({TORVANE_BINARY_DIR "/torvane-cli", "station", m_upgrade, "--port", "COM1", "--baud",
                      "115200", "--records", (m_dir / "records.sqlite3").string(), "--json"},
                     events, false);
    }
    // The simulator's flash at its exit, page F00.
    std::vector<uint8_t> FlashAtExit()
    {
        kill(m_sim, SIGTERM);
        waitpid(m_sim, nullptr, 0);
        m_sim = -1;
        CMotFile flash;
        flash.LoadFile((m_dir / "flash.mot").string());
        std::vector<uint8_t> page(kPageSize, 0xFF);
        flash.GetPage(page.data(), 0xF00);
        return page;
    }

    fs::path m_dir;
    std::string m_upgrade;
    pid_t m_sim = -1, m_station = -1;
};

TEST_F(StationProcess, AnUpgradeReplacedDuringTheShiftChangesNothing)
{
    const fs::path events = m_dir / "events.jsonl";
    m_station = StartStation(events);
    kill(m_sim, SIGUSR1); // the first panel in
    ASSERT_TRUE(WaitForState(events, "COM1 pass", 1));
    {
        // Replaced on the disk as a copy tool does it: a new file renamed over the old.
        std::ofstream(m_upgrade + ".new") << MakeSRecords({{0xF0000, Pattern(0xF0000, 0x200, 7)}});
        fs::rename(m_upgrade + ".new", m_upgrade);
    }
    kill(m_sim, SIGUSR1); // out
    ASSERT_TRUE(WaitForState(events, "COM1 removed", 1));
    kill(m_sim, SIGUSR1); // the next panel in
    ASSERT_TRUE(WaitForState(events, "COM1 pass", 2)) << "the second panel is flashed as well";
    kill(m_station, SIGINT);
    EXPECT_EQ(ExitWithin(m_station, 30), 0);
    m_station = -1;
    const std::vector<uint8_t> pinned = Pattern(0xF0000, 0x200, 4);
    EXPECT_EQ(FlashAtExit(), std::vector<uint8_t>(pinned.begin(), pinned.begin() + kPageSize))
        << "the bytes read at the start, not the file that lies there now";

    std::string error;
    auto store = CRecordStore::Open(m_dir / "records.sqlite3", RecordsFile::Named, error);
    ASSERT_TRUE(store) << error;
    std::vector<CAttempt> rows;
    ASSERT_TRUE(store->Query(CRecordFilter{}, rows));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].fileSha256, rows[1].fileSha256);
}

TEST_F(StationProcess, ASecondStationOnTheSamePortEndsWithoutSendingAByte)
{
    const fs::path first = m_dir / "first.jsonl", second = m_dir / "second.jsonl";
    m_station = StartStation(first);
    ASSERT_TRUE(WaitForState(first, "COM1 waiting", 1));
    const pid_t other = StartStation(second);
    EXPECT_EQ(ExitWithin(other, 20), 4) << "every port in use at the start";
    const std::vector<std::string> states = States(second);
    EXPECT_EQ(std::count(states.begin(), states.end(), "COM1 in use"), 1);
    EXPECT_EQ(std::count(states.begin(), states.end(), "COM1 waiting"), 0) << "it never probed the port";

    // The first station's panel is flashed as usual.
    kill(m_sim, SIGUSR1);
    EXPECT_TRUE(WaitForState(first, "COM1 pass", 1));
}

TEST_F(StationProcess, ASigtermDuringALongPreCheckEndsTheStationWithTheCheck)
{
    const fs::path events = m_dir / "events.jsonl";
    const std::string hook = (m_dir / "hook").string();
    m_station = Start({TORVANE_BINARY_DIR "/torvane-cli", "station", m_upgrade, "--port", "COM1", "--records",
                       (m_dir / "records.sqlite3").string(), "--json", "--pre-check",
                       std::string(TORVANE_TEST_HOOK) + " escape " + hook, "--hook-timeout", "60"},
                      events, false);
    kill(m_sim, SIGUSR1); // a panel in
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(hook + "-started") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(fs::exists(hook + "-started")) << "the pre-check never ran";
    kill(m_station, SIGTERM);
    EXPECT_EQ(ExitWithin(m_station, 5), 0) << "the station waited for the check's limit";
    m_station = -1;
    std::this_thread::sleep_for(std::chrono::seconds(4)); // past the check's children's marks
    EXPECT_FALSE(fs::exists(hook + "-in"));
    EXPECT_FALSE(fs::exists(hook + "-out"));
    std::string error;
    auto store = CRecordStore::Open(m_dir / "records.sqlite3", RecordsFile::Named, error);
    ASSERT_TRUE(store) << error;
    std::vector<CAttempt> rows;
    ASSERT_TRUE(store->Query(CRecordFilter{}, rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].outcome, "stopped");
    EXPECT_EQ(rows[0].eraseResult, "") << "nothing was erased";
}

TEST_F(StationProcess, AHalfTypedSerialDoesNotHoldOffAStop)
{
    const fs::path events = m_dir / "events.jsonl";
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    m_station = fork();
    if (m_station == 0) {
        dup2(input[0], STDIN_FILENO);
        close(input[1]);
        if (FILE* out = std::fopen(events.c_str(), "w")) dup2(fileno(out), STDOUT_FILENO);
        execl(TORVANE_BINARY_DIR "/torvane-cli", "torvane-cli", "station", m_upgrade.c_str(), "--port",
              "COM1", "--scan", "--no-records", "--json", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(input[0]);
    ASSERT_TRUE(WaitForState(events, "COM1 scan", 1));
    ASSERT_EQ(write(input[1], "PNL-20", 6), 6); // the scanner stops mid-line
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(m_station, SIGTERM);
    EXPECT_EQ(ExitWithin(m_station, 10), 0);
    m_station = -1;
    close(input[1]);
}

// What a fixture process leaves behind, read from the records file and the panel.
class StationKilled : public ::testing::Test
{
protected:
    StationKilled()
    {
        m_dir = fs::temp_directory_path() / ("torvane-station-kill-" + std::to_string(getpid()));
        fs::create_directories(m_dir);
        m_upgrade = (m_dir / "full.mot").string();
        std::ofstream(m_upgrade) << MakeSRecords({{0xF0000, Pattern(0xF0000, 0x10000, 6)}});
        m_sim = Start({TORVANE_BINARY_DIR "/torvane-sim", "--port", "COM5", "--erase-ms", "100",
                       "--status-file", (m_dir / "panel.status").string()},
                      {}, true);
        m_station = Start({TORVANE_BINARY_DIR "/torvane-cli", "station", m_upgrade, "--port", "COM5",
                           "--baud", "115200", "--records", (m_dir / "records.sqlite3").string(), "--json"},
                          m_dir / "events.jsonl", false);
    }

    ~StationKilled() override
    {
        if (m_station > 0) {
            kill(m_station, SIGKILL);
            waitpid(m_station, nullptr, 0);
        }
        kill(m_sim, SIGTERM);
        waitpid(m_sim, nullptr, 0);
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    // Waits until the station's events hold one of this state for COM5; the events seen.
    bool WaitForState(const std::string& state, const std::string& text = {}, int seconds = 30)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream in(m_dir / "events.jsonl");
            for (std::string line; std::getline(in, line);) {
                const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
                if (!event.is_discarded() && event.value("state", "") == state &&
                    (text.empty() || event.value("text", "") == text))
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // The station's fixture process (its only child).
    pid_t Fixture() const
    {
        for (const auto& entry : fs::directory_iterator("/proc")) {
            std::ifstream stat(entry.path() / "stat");
            std::string text;
            if (!std::getline(stat, text) || text.rfind(')') == std::string::npos) continue;
            std::istringstream fields(text.substr(text.rfind(')') + 2));
            std::string state;
            pid_t parent = 0;
            fields >> state >> parent;
            if (parent == m_station && state != "Z") return std::stoi(entry.path().filename().string());
        }
        return -1;
    }

    std::vector<CAttempt> Rows() const
    {
        std::string error;
        auto store = CRecordStore::Open(m_dir / "records.sqlite3", RecordsFile::Named, error);
        std::vector<CAttempt> rows;
        if (store) store->Query(CRecordFilter{}, rows);
        return rows;
    }

    // The panel's rate and pages as the simulator tells them.
    std::map<std::string, std::string> Panel() const
    {
        std::map<std::string, std::string> values;
        std::ifstream in(m_dir / "panel.status");
        for (std::string line; std::getline(in, line);)
            if (const size_t equals = line.find('='); equals != std::string::npos)
                values[line.substr(0, equals)] = line.substr(equals + 1);
        return values;
    }

    fs::path m_dir;
    std::string m_upgrade;
    pid_t m_sim = -1, m_station = -1;
};

TEST_F(StationKilled, FixtureFinishesItsPageAndLeavesThePanelAt9600WhenTheStationIsKilled)
{
    ASSERT_TRUE(WaitForState("programming"));
    const pid_t fixture = Fixture();
    ASSERT_GT(fixture, 0);
    kill(m_station, SIGKILL);
    waitpid(m_station, nullptr, 0);
    m_station = -1;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (kill(fixture, 0) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(kill(fixture, 0), 0) << "the fixture process goes on without its station";
    const std::vector<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].outcome, "stopped");
    EXPECT_EQ(rows[0].programResult, "stopped");
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the simulator's status file
    const auto panel = Panel();
    EXPECT_EQ(panel.at("baud"), "9600");
    EXPECT_LT(std::stoi(panel.at("page_frames")), 256);
}

TEST_F(StationKilled, AFixtureProcessKilledFailsItsPanelAndTheFixtureStartsAgain)
{
    ASSERT_TRUE(WaitForState("programming"));
    const pid_t fixture = Fixture();
    ASSERT_GT(fixture, 0);
    kill(fixture, SIGKILL);

    EXPECT_TRUE(WaitForState("fail", "FAIL: fixture process ended", 10));
    const std::vector<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].outcome, "fail");
    EXPECT_EQ(JoinMessages(rows[0].messages), "fixture process ended");
    // The new fixture process waits for the half-flashed panel to go, then for the next.
    kill(m_sim, SIGUSR1);
    EXPECT_TRUE(WaitForState("removed", {}, 10));
    EXPECT_NE(Fixture(), fixture);

    kill(m_station, SIGINT);
    int status = 0;
    waitpid(m_station, &status, 0);
    m_station = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

} // namespace
