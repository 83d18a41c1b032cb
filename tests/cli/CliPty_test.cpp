// torvane-cli on pseudo-terminals in real time against torvane-sim processes: three panels
// at once, every flash equal to the file afterwards; one panel flashed twice, its serial kept.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "commands/Command.h"
#include "fixtures/AppFixture.h"
#include "image/MotFile.h"
#include "records/RecordFilter.h"
#include "records/RecordStore.h"

namespace fs = std::filesystem;

namespace {

// Runs torvane-sim and waits until it has printed its device path.
pid_t StartSim(const std::string& port, const fs::path& flashOut, const std::string& flashIn = {})
{
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        if (flashIn.empty())
            execl(TORVANE_BINARY_DIR "/torvane-sim", "torvane-sim", "--port", port.c_str(), "--erase-ms",
                  "100", "--flash-out", flashOut.c_str(), nullptr);
        else
            execl(TORVANE_BINARY_DIR "/torvane-sim", "torvane-sim", "--port", port.c_str(), "--erase-ms",
                  "100", "--flash-out", flashOut.c_str(), "--flash-in", flashIn.c_str(), nullptr);
        _exit(127);
    }
    close(fds[1]);
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') {
    }
    close(fds[0]);
    return pid;
}

TEST(CliPty, ProgramsThreePanelsAtOnce)
{
    const fs::path dir = fs::temp_directory_path() / ("torvane-cli-pty-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string upgrade = TORVANE_SOURCE_DIR "/examples/panel-upgrade.mot";
    std::vector<pid_t> sims;
    for (int i = 1; i <= 3; ++i)
        sims.push_back(StartSim("COM" + std::to_string(i), dir / ("flash" + std::to_string(i) + ".mot")));

    const std::string command = std::string(TORVANE_BINARY_DIR "/torvane-cli program ") + upgrade +
                                " --port COM1 --port COM2 --port COM3 --baud 115200 --quiet > " +
                                (dir / "out.txt").string() + " 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    CMotFile expected;
    expected.LoadFile(upgrade);
    for (int i = 0; i < 3; ++i) {
        if (sims[i] <= 0) continue;
        kill(sims[i], SIGTERM);
        waitpid(sims[i], nullptr, 0);
        CMotFile flash;
        flash.LoadFile((dir / ("flash" + std::to_string(i + 1) + ".mot")).string());
        for (uint32_t page = 0xF00; page <= 0xFFF; ++page) {
            uint8_t want[kPageSize], got[kPageSize];
            std::fill(std::begin(want), std::end(want), 0xFF);
            std::fill(std::begin(got), std::end(got), 0xFF);
            expected.GetPage(want, page);
            flash.GetPage(got, page);
            ASSERT_TRUE(std::equal(std::begin(want), std::end(want), got))
                << "COM" << i + 1 << " page " << page;
        }
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}

TEST(CliPty, APanelFlashedTwiceKeepsItsSerialAndBothRecordsCarryIt)
{
    const fs::path dir = fs::temp_directory_path() / ("torvane-cli-keep-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string upgrade = (dir / "small.mot").string(), old = (dir / "old.mot").string();
    const std::string serial = "PNL-20420";
    {
        std::ofstream(upgrade) << MakeSRecords({{0xF0000, Pattern(0xF0000, 0x200, 4)}});
        std::ofstream(old) << MakeSRecords({{0xE0000, std::vector<uint8_t>(serial.begin(), serial.end())}});
    }
    const pid_t sim = StartSim("COM1", dir / "flash.mot", old);
    ASSERT_GT(sim, 0);
    const std::string db = (dir / "records.sqlite3").string();
    const std::string command =
        std::string(TORVANE_BINARY_DIR "/torvane-cli program ") + upgrade +
        " --port COM1 --baud 115200 --no-verify --page-pause 5 --serial-at E0000:16 --quiet --records " + db +
        " >> " + (dir / "out.txt").string() + " 2>&1";
    for (int run = 0; run < 2; ++run) {
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);

    std::string error;
    auto store = CRecordStore::Open(platform::CPath::FromUtf8(db), RecordsFile::Named, error);
    ASSERT_TRUE(store) << error;
    std::vector<CAttempt> rows;
    ASSERT_TRUE(store->Query(CRecordFilter{}, rows));
    ASSERT_EQ(rows.size(), 2u);
    for (const CAttempt& row : rows) {
        EXPECT_EQ(row.outcome, "pass");
        EXPECT_EQ(row.serialText, serial);
    }
    CMotFile flash;
    flash.LoadFile((dir / "flash.mot").string());
    uint8_t page[kPageSize];
    ASSERT_TRUE(flash.GetPage(page, 0xE00));
    EXPECT_EQ(std::string(page, page + serial.size()), serial);
    std::error_code ec;
    fs::remove_all(dir, ec);
}

} // namespace
