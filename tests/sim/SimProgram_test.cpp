// torvane-sim on a real pseudo-terminal, in real time: the alias, a speed change,
// one page program and read-back, and the flash written out at exit.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "SimTestSupport.h"
#include "platform/posix/UniqueFd.h"

extern char** environ;

namespace fs = std::filesystem;
using simtest::Bytes;

namespace {

class SimProgramTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("torvane-sim-test-" + std::to_string(getpid()));
        fs::create_directories(m_dir / "config");
    }

    void TearDown() override
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    // Starts the simulator and returns the device path it prints.
    std::string Start(std::vector<std::string> args)
    {
        const std::string binary = TORVANE_BINARY_DIR "/torvane-sim";
        if (!fs::exists(binary)) {
            ADD_FAILURE() << binary << " is not built (cmake --build ... --target torvane-sim)";
            return {};
        }
        int pipeFds[2];
        if (pipe(pipeFds) != 0) return {};
        platform::CUniqueFd readEnd(pipeFds[0]), writeEnd(pipeFds[1]);

        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("XDG_CONFIG_HOME=", 0) != 0) env.emplace_back(*e);
        env.push_back("XDG_CONFIG_HOME=" + (m_dir / "config").string());
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        args.insert(args.begin(), binary);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, readEnd.Get());
        const int rc = posix_spawn(&m_pid, binary.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) return {};
        writeEnd.Reset();

        std::string line;
        pollfd pfd{readEnd.Get(), POLLIN, 0};
        while (line.find('\n') == std::string::npos && poll(&pfd, 1, 2000) > 0) {
            char buffer[256];
            const ssize_t n = read(readEnd.Get(), buffer, sizeof buffer);
            if (n <= 0) break;
            line.append(buffer, n);
        }
        return line.substr(0, line.find('\n'));
    }

    int Stop()
    {
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path m_dir;
    pid_t m_pid = -1;
};

bool SetSpeed(int fd, speed_t speed)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

void WriteAll(int fd, const Bytes& bytes)
{
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
}

Bytes ReadBytes(int fd, size_t count, int timeoutMs = 1000)
{
    Bytes bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd pfd{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
        uint8_t buffer[512];
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (n <= 0) break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

TEST_F(SimProgramTest, serves_a_speed_change_and_a_page_program_on_a_pseudo_terminal)
{
    const fs::path flashOut = m_dir / "flash.mot";
    const std::string device = Start({"--port", "COM7", "--id-verified", "--flash-out", flashOut.string()});
    ASSERT_FALSE(device.empty());
    const fs::path alias = m_dir / "config" / "torvane" / "ports" / "COM7";
    ASSERT_TRUE(fs::is_symlink(alias));
    EXPECT_EQ(fs::read_symlink(alias).string(), device);

    platform::CUniqueFd fd(open(alias.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(fd.Valid());
    ASSERT_TRUE(SetSpeed(fd.Get(), B9600));
    WriteAll(fd.Get(), {0xB4});
    EXPECT_EQ(ReadBytes(fd.Get(), 1), (Bytes{0xB4}));
    ASSERT_TRUE(SetSpeed(fd.Get(), B115200));
    WriteAll(fd.Get(), {0xB4});
    EXPECT_EQ(ReadBytes(fd.Get(), 1), (Bytes{0xB4}));

    Bytes data(256);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i);
    WriteAll(fd.Get(), simtest::PageFrame(0xF0100, data));
    WriteAll(fd.Get(), {0x70});
    EXPECT_EQ(ReadBytes(fd.Get(), 2), (Bytes{0x80, 0x0C}));
    WriteAll(fd.Get(), simtest::PageReadFrame(0xF0100));
    EXPECT_EQ(ReadBytes(fd.Get(), 256), data);
    fd.Reset();

    EXPECT_EQ(Stop(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(alias)));
    std::ifstream in(flashOut);
    std::stringstream text;
    text << in.rdbuf();
    const std::string records = text.str();
    EXPECT_NE(records.find("S2240F0100000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F"),
              std::string::npos)
        << records;
    EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 1 + 8 + 1);
    EXPECT_TRUE(records.ends_with("S804000000FB\n"));
}

TEST_F(SimProgramTest, power_off_on_a_signal_cuts_an_erase_and_the_status_file_counts_frames)
{
    const fs::path old = m_dir / "old.mot";
    const fs::path status = m_dir / "status";
    std::ofstream(old) << "S00600004844521B\nS2080F0000DEADBEEFB0\nS804000000FB\n";
    const std::string device = Start({"--port", "COM7", "--id-verified", "--flash-in", old.string(),
                                      "--erase-ms", "1000", "--status-file", status.string()});
    ASSERT_FALSE(device.empty());
    platform::CUniqueFd fd(open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(fd.Valid());
    ASSERT_TRUE(SetSpeed(fd.Get(), B9600));
    WriteAll(fd.Get(), {0xA7, 0xD0, 0x70});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(m_pid, SIGUSR1); // off a fifth into the erase
    EXPECT_TRUE(ReadBytes(fd.Get(), 2, 1200).empty()) << "the erase's status must never come";
    WriteAll(fd.Get(), {0x70});
    EXPECT_TRUE(ReadBytes(fd.Get(), 2, 200).empty());
    std::ifstream in(status);
    std::stringstream text;
    text << in.rdbuf();
    for (const char* line : {"power=off\n", "erase_commands=1\n", "status_requests=1\n", "bytes_lost=1\n"})
        EXPECT_NE(text.str().find(line), std::string::npos) << line << " in\n" << text.str();

    kill(m_pid, SIGUSR1); // on again, from power-on
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    WriteAll(fd.Get(), {0x70});
    EXPECT_EQ(ReadBytes(fd.Get(), 2), (Bytes{0x80, 0x0C}));
    WriteAll(fd.Get(), simtest::PageReadFrame(0xF0000));
    const Bytes page = ReadBytes(fd.Get(), 256);
    ASSERT_EQ(page.size(), 256u);
    EXPECT_EQ(Bytes(page.begin(), page.begin() + 5), (Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0xFF}))
        << "the erase had not reached the page";
    EXPECT_EQ(Stop(), 0);
}

} // namespace
