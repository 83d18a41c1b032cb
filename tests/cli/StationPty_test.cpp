// The station in real time against torvane-sim on pseudo-terminals: three panels in a
// row on one fixture with the power switched between them, a failing panel on a second
// fixture beside it, Ctrl-C at the end; every flash and record checked.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "cli/records/RecordFilter.h"
#include "cli/records/RecordStore.h"
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
    EXPECT_EQ(std::count(states["COM2"].begin(), states["COM2"].end(), "fail"), 1)
        << "a failed panel that stays in its fixture is not tried again";

    std::string error;
    auto store = CRecordStore::Open(db, RecordsFile::Named, error);
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

} // namespace
