// What a bench does to a real port: the USB adapter pulled out while a reply is awaited,
// the port held by another program, a port name that leads to a file. Real
// pseudo-terminals, short limits only.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "link/PtyPeer.h"
#include "link/SerialComm.h"
#include "platform/Paths.h"
#include "platform/posix/UniqueFd.h"

namespace fs = std::filesystem;
using Ms = std::chrono::milliseconds;

namespace {

double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// A Read that blocks in another thread, with the wall and CPU time it took.
struct ReadOutcome
{
    uint32_t got = 99;
    Ms took{0};
    double cpu = 0;
};

ReadOutcome ReadWhile(CSerialComm& port, uint32_t count, const std::function<void()>& meanwhile)
{
    ReadOutcome outcome;
    std::thread reader([&] {
        uint8_t buffer[8] = {};
        const double cpuBefore = ThreadCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        outcome.got = port.Read(buffer, count);
        outcome.took = std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - start);
        outcome.cpu = ThreadCpuSeconds() - cpuBefore;
    });
    std::this_thread::sleep_for(Ms(60)); // the reader is waiting in the kernel by now
    meanwhile();
    reader.join();
    return outcome;
}

class PulledAdapter : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_pty.SlavePath().empty()) << "no pseudo-terminal";
        ASSERT_TRUE(m_port.Open(m_pty.SlavePath())) << platform::DescribeOpenError(m_port.LastOpenError());
    }
    CPtyPeer m_pty;
    CSerialComm m_port;
};

TEST_F(PulledAdapter, ReadWithoutLimitEndsWhenThePeerVanishes)
{
    m_port.SetTimeout(0); // only the hang-up can end this read
    const ReadOutcome outcome = ReadWhile(m_port, 2, [&] { m_pty.HangUp(); });
    EXPECT_EQ(outcome.got, 0u);
    EXPECT_LT(outcome.took.count(), 60 + 300);
    EXPECT_LT(outcome.cpu, 0.05) << "the waiting read spun";
    EXPECT_TRUE(m_port.IsHungUp());
}

TEST_F(PulledAdapter, ReadWithTheEraseLimitDoesNotWaitItOut)
{
    m_port.SetTimeout(40000);
    const ReadOutcome outcome = ReadWhile(m_port, 2, [&] { m_pty.HangUp(); });
    EXPECT_EQ(outcome.got, 0u);
    EXPECT_LT(outcome.took.count(), 60 + 300) << "waited for the time-out of a device that is gone";
    EXPECT_LT(outcome.cpu, 0.05);
}

TEST_F(PulledAdapter, HalfAReplyThenThePullGivesNothing)
{
    m_port.SetTimeout(5000);
    const ReadOutcome outcome = ReadWhile(m_port, 2, [&] {
        m_pty.Send("\x80");
        std::this_thread::sleep_for(Ms(20));
        m_pty.HangUp();
    });
    EXPECT_EQ(outcome.got, 0u);
    EXPECT_LT(outcome.took.count(), 60 + 20 + 300);
    EXPECT_LT(outcome.cpu, 0.05);
}

TEST_F(PulledAdapter, LaterCallsFailAtOnceAndPurgeAndCloseStaySafe)
{
    m_pty.HangUp();
    m_port.SetTimeout(5000);
    const auto start = std::chrono::steady_clock::now();
    uint8_t byte = 0x70;
    (void)m_port.Write(&byte, 1); // the result is not looked at by the protocol; it must not hang or signal
    EXPECT_EQ(m_port.Read(&byte, 1), 0u);
    m_port.Purge(0);
    EXPECT_EQ(m_port.Read(&byte, 1), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, Ms(500));
    EXPECT_TRUE(m_port.IsHungUp());
    EXPECT_TRUE(m_port.Close());
    EXPECT_FALSE(m_port.IsOpen());
}

TEST_F(PulledAdapter, ItsSpeedCannotBeSetAndThePortSaysItIsGone)
{
    // A hung-up tty answers every TCGETS with EIO: that is the adapter gone, not a speed
    // the adapter lacks, and nothing but a new open can help.
    m_pty.HangUp();
    CSerialCommState state;
    state.m_dwBaudRate = 9600;
    state.m_byByteSize = 8;
    EXPECT_FALSE(m_port.SetState(state));
    EXPECT_TRUE(m_port.IsHungUp());
}

TEST(MovedAlias, AnAliasPointedAtANewNodeEndsTheOldPortAndOpensTheNewOne)
{
    CPtyPeer first, second;
    ASSERT_FALSE(second.SlavePath().empty()) << "no pseudo-terminal";
    const fs::path alias = fs::temp_directory_path() / ("torvane-alias-" + std::to_string(getpid()));
    fs::remove(alias);
    fs::create_symlink(first.SlavePath(), alias);
    CSerialComm port;
    ASSERT_TRUE(port.Open(alias.string()));
    port.SetTimeout(50);
    uint8_t byte = 0;
    EXPECT_EQ(port.Read(&byte, 1), 0u);
    EXPECT_FALSE(port.IsHungUp()) << "silence alone is no lost port";

    fs::remove(alias);
    fs::create_symlink(second.SlavePath(), alias);
    EXPECT_EQ(port.Read(&byte, 1), 0u);
    EXPECT_TRUE(port.IsHungUp());
    EXPECT_EQ(port.LastReadEnd(), CSerialComm::ReadEnd::HungUp);
    port.Close();
    ASSERT_TRUE(port.Open(alias.string()));
    second.Send("\x80");
    EXPECT_EQ(port.Read(&byte, 1), 1u);
    EXPECT_EQ(byte, 0x80);
    fs::remove(alias);
}

// Another program holds the port: a child process opens it and keeps it until told.
class HeldPort : public ::testing::Test
{
protected:
    enum class Hold { Flock, Exclusive };

    void HoldInChild(Hold how)
    {
        ASSERT_FALSE(m_pty.SlavePath().empty()) << "no pseudo-terminal";
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        ASSERT_EQ(pipe(m_release), 0);
        m_child = fork();
        ASSERT_GE(m_child, 0);
        if (m_child == 0) {
            close(ready[0]);
            close(m_release[1]);
            const int fd = open(m_pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
            bool held = fd >= 0;
            if (held && how == Hold::Flock) held = flock(fd, LOCK_EX | LOCK_NB) == 0;
            if (held && how == Hold::Exclusive) held = ioctl(fd, TIOCEXCL) == 0;
            const char answer = held ? 'y' : 'n';
            (void)!write(ready[1], &answer, 1);
            char release = 0;
            (void)!read(m_release[0], &release, 1);
            _exit(0);
        }
        close(ready[1]);
        char answer = 0;
        ASSERT_EQ(read(ready[0], &answer, 1), 1);
        close(ready[0]);
        ASSERT_EQ(answer, 'y') << "the child could not take the port";
    }

    void Release()
    {
        if (m_child <= 0) return;
        close(m_release[1]);
        int status = 0;
        waitpid(m_child, &status, 0);
        m_child = -1;
    }

    void TearDown() override { Release(); }

    CPtyPeer m_pty;
    pid_t m_child = -1;
    int m_release[2] = {-1, -1};
};

TEST_F(HeldPort, LockedByAnotherProgramIsReportedInUse)
{
    HoldInChild(Hold::Flock);
    CSerialComm port;
    EXPECT_FALSE(port.Open(m_pty.SlavePath()));
    EXPECT_EQ(port.LastOpenError(), platform::OpenError::InUse);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(platform::DescribeOpenError(port.LastOpenError()).empty(), false);
    // Once the other program has let go, the port opens.
    Release();
    EXPECT_TRUE(port.Open(m_pty.SlavePath()));
}

TEST_F(HeldPort, ExclusiveModeOfAnotherProgramIsNoCrash)
{
    // TIOCEXCL keeps other users out but not root: either way the open is clean.
    HoldInChild(Hold::Exclusive);
    CSerialComm port;
    if (port.Open(m_pty.SlavePath())) {
        EXPECT_TRUE(port.IsOpen());
        EXPECT_TRUE(port.Close());
    } else {
        EXPECT_EQ(port.LastOpenError(), platform::OpenError::InUse);
        EXPECT_FALSE(port.IsOpen());
    }
}

// Whether a program that does not use flock can open the slave while we hold it: 'y'
// opened, 'b' refused busy, 's' the kernel would not bind this process (root), 'e' other.
char OtherProgramOpens(const std::string& slave)
{
    const pid_t child = fork();
    if (child == 0) {
        // Root passes TIOCEXCL; an ordinary user (nobody) shows what the kernel enforces.
        if (geteuid() == 0 && (chmod(slave.c_str(), 0666) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit('s');
        const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd >= 0 ? 'y' : errno == EBUSY ? 'b' : 'e');
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? static_cast<char>(WEXITSTATUS(status)) : 'e';
}

TEST(ExclusivePort, OtherProgramsCannotOpenThePortWhileItIsHeld)
{
    CPtyPeer pty;
    CSerialComm port;
    ASSERT_TRUE(port.Open(pty.SlavePath()));
    const char whileHeld = OtherProgramOpens(pty.SlavePath());
    if (whileHeld == 's') GTEST_SKIP() << "cannot act as an ordinary user here";
    EXPECT_EQ(whileHeld, 'b') << "a terminal program could take bytes of the exchange";
    // Closed, the port is free again (and we may reopen it, as a recovery does).
    EXPECT_TRUE(port.Close());
    EXPECT_EQ(OtherProgramOpens(pty.SlavePath()), 'y');
    EXPECT_TRUE(port.Open(pty.SlavePath()));
}

class PortNameToAFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("torvane-portfaults-" + std::to_string(getpid()));
        fs::create_directories(m_dir);
        fs::create_directories(platform::PortsDir());
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
        fs::remove(platform::PortsDir() / "COM7", ec);
    }
    fs::path m_dir;
};

TEST_F(PortNameToAFile, ComAliasToARegularFileIsRefusedAndTheFileUntouched)
{
    const fs::path file = m_dir / "panel-upgrade.mot";
    const std::string content = "S00600004844521B\nS9030000FC\n";
    std::ofstream(file, std::ios::binary) << content;
    const auto stamp = fs::last_write_time(file);
    fs::create_symlink(file, platform::PortsDir() / "COM7");

    CSerialComm port;
    EXPECT_FALSE(port.Open("COM7"));
    EXPECT_EQ(port.LastOpenError(), platform::OpenError::NotATerminal);
    EXPECT_FALSE(port.IsOpen());
    // Nothing the protocol does afterwards reaches the file.
    const uint8_t sync = 0xB0;
    EXPECT_EQ(port.Write(&sync, 1), 0u);
    port.Purge(0);
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content);
    EXPECT_EQ(fs::last_write_time(file), stamp);
}

TEST_F(PortNameToAFile, ComAliasToAFolderIsRefused)
{
    fs::create_symlink(m_dir, platform::PortsDir() / "COM7");
    CSerialComm port;
    EXPECT_FALSE(port.Open("COM7"));
    EXPECT_EQ(port.LastOpenError(), platform::OpenError::NotATerminal);
    EXPECT_TRUE(fs::is_directory(m_dir));
}

TEST_F(PortNameToAFile, NamedPipeIsRefusedWithoutBlocking)
{
    const fs::path fifo = m_dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    CSerialComm port;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.Open(fifo.string())) << "a named pipe is no port";
    EXPECT_LT(std::chrono::steady_clock::now() - start, Ms(500)) << "opening a pipe must not block";
}

} // namespace
