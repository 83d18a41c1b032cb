// torvane-cli on three pseudo-terminals at once, in real time: three torvane-sim
// processes, one command line, every flash equal to the file afterwards.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "commands/Command.h"
#include "fixtures/AppFixture.h"
#include "image/MotFile.h"

namespace fs = std::filesystem;

namespace {

// Runs torvane-sim and waits until it has printed its device path.
pid_t StartSim(const std::string& port, const fs::path& flashOut)
{
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        execl(TORVANE_BINARY_DIR "/torvane-sim", "torvane-sim", "--port", port.c_str(), "--erase-ms", "100",
              "--flash-out", flashOut.c_str(), nullptr);
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

} // namespace
