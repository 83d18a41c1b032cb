// The termios driver under CSerialComm, over real pseudo-terminals. Short limits only.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <termios.h>
#include <unistd.h>

#include "link/PtyPeer.h"
#include "link/SerialComm.h"
#include "platform/Paths.h"
#include "platform/posix/UniqueFd.h"

namespace fs = std::filesystem;
using Ms = std::chrono::milliseconds;

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class SerialCommPtyTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_pty.SlavePath().empty()) << "no pseudo-terminal";
        ASSERT_TRUE(m_port.Open(m_pty.SlavePath())) << platform::DescribeOpenError(m_port.LastOpenError());
    }

    // Elapsed real time of one call.
    template <typename F> Ms Timed(F&& call)
    {
        const auto start = std::chrono::steady_clock::now();
        call();
        return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - start);
    }

    CPtyPeer m_pty;
    CSerialComm m_port;
};

TEST_F(SerialCommPtyTest, ReadTimesOutJustAfterTheLimitWithoutBurningCpu)
{
    m_port.SetTimeout(120);
    uint8_t reply[2];
    const double cpuBefore = CpuSeconds();
    uint32_t got = 1;
    const Ms took = Timed([&] { got = m_port.Read(reply, 2); });
    EXPECT_EQ(got, 0u);
    EXPECT_GE(took.count(), 120);
    EXPECT_LT(took.count(), 400);
    EXPECT_LT(CpuSeconds() - cpuBefore, 0.06);
}

TEST_F(SerialCommPtyTest, PartialReplyTimesOutWithoutBurningCpu)
{
    m_port.SetTimeout(100);
    m_pty.Send("\x80");
    uint8_t reply[2];
    const double cpuBefore = CpuSeconds();
    EXPECT_EQ(m_port.Read(reply, 2), 0u);
    EXPECT_LT(CpuSeconds() - cpuBefore, 0.06);
    EXPECT_EQ(m_port.Read(reply, 1), 1u) << "the byte stays queued";
    EXPECT_EQ(reply[0], 0x80);
}

TEST_F(SerialCommPtyTest, ReadLeavesTheRestQueuedAndPurgeDiscardsIt)
{
    m_port.SetTimeout(150);
    m_pty.Send("abc");
    char buffer[3] = {};
    ASSERT_EQ(m_port.Read(buffer, 2), 2u);
    EXPECT_EQ(std::string(buffer, 2), "ab");
    ASSERT_EQ(m_port.Read(buffer, 1), 1u);
    EXPECT_EQ(buffer[0], 'c');

    m_pty.Send("stale");
    std::this_thread::sleep_for(Ms(10));
    EXPECT_EQ(m_port.Purge(0), FALSE);
    m_pty.Send("Z");
    ASSERT_EQ(m_port.Read(buffer, 1), 1u);
    EXPECT_EQ(buffer[0], 'Z');
}

TEST_F(SerialCommPtyTest, ReadWaitsForAReplyThatComesLater)
{
    m_port.SetTimeout(1000);
    std::thread sender([&] {
        std::this_thread::sleep_for(Ms(30));
        m_pty.Send("x");
        std::this_thread::sleep_for(Ms(30));
        m_pty.Send("y");
    });
    char reply[2] = {};
    const Ms took = Timed([&] { EXPECT_EQ(m_port.Read(reply, 2), 2u); });
    sender.join();
    EXPECT_EQ(std::string(reply, 2), "xy");
    EXPECT_LT(took.count(), 500);
}

// The driver lets the kernel hold its wake-up until a whole reply is queued; replies
// longer than the kernel can count, shorter ones after them, and a hang-up in the middle
// of one must all still end the read.
TEST_F(SerialCommPtyTest, WholeRepliesOfAnyLengthAndAHangUpMidReply)
{
    m_port.SetTimeout(1000);
    const std::string page(300, '\x5A');
    std::thread sender([&] {
        m_pty.Send(page.substr(0, 100));
        std::this_thread::sleep_for(Ms(20));
        m_pty.Send(page.substr(100, 199));
        std::this_thread::sleep_for(Ms(20));
        m_pty.Send(page.substr(299));
    });
    std::string reply(300, '\0');
    EXPECT_EQ(m_port.Read(reply.data(), 300), 300u);
    sender.join();
    EXPECT_EQ(reply, page);

    m_pty.Send("k");
    char one = 0;
    EXPECT_LT(Timed([&] { EXPECT_EQ(m_port.Read(&one, 1), 1u); }).count(), 200);
    EXPECT_EQ(one, 'k');

    m_port.SetTimeout(0);
    m_pty.Send("\x80");
    std::thread hangUp([&] {
        std::this_thread::sleep_for(Ms(30));
        m_pty.HangUp();
    });
    uint8_t status[2];
    EXPECT_LT(Timed([&] { EXPECT_EQ(m_port.Read(status, 2), 0u); }).count(), 500);
    hangUp.join();
}

TEST_F(SerialCommPtyTest, HungUpPeerEndsReadsAtOnce)
{
    m_port.SetTimeout(0); // no limit: only the hang-up can end this read
    m_pty.HangUp();
    uint8_t byte = 0;
    const double cpuBefore = CpuSeconds();
    uint32_t got = 1;
    const Ms took = Timed([&] { got = m_port.Read(&byte, 1); });
    EXPECT_EQ(got, 0u);
    EXPECT_LT(took.count(), 200);
    EXPECT_LT(CpuSeconds() - cpuBefore, 0.1);
    EXPECT_EQ(m_port.Read(&byte, 1), 0u);
}

TEST_F(SerialCommPtyTest, PortIsExclusive)
{
    EXPECT_FALSE(m_port.Open(m_pty.SlavePath()));
    EXPECT_EQ(m_port.LastOpenError(), platform::OpenError::InUse);
    EXPECT_TRUE(m_port.IsOpen());

    CSerialComm second;
    EXPECT_FALSE(second.Open(m_pty.SlavePath()));
    EXPECT_EQ(second.LastOpenError(), platform::OpenError::InUse);
    EXPECT_FALSE(second.IsOpen());

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CSerialComm other;
        _exit(other.Open(m_pty.SlavePath()) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "another process opened the port";

    EXPECT_TRUE(m_port.Close());
    EXPECT_TRUE(m_port.Close());
    EXPECT_TRUE(second.Open(m_pty.SlavePath()));
}

TEST_F(SerialCommPtyTest, ComAliasInThePortsFolder)
{
    m_port.Close();
    fs::create_directories(platform::PortsDir());
    const fs::path alias = platform::PortsDir() / "COM3";
    fs::remove(alias);
    fs::create_symlink(m_pty.SlavePath(), alias);
    EXPECT_TRUE(m_port.Open("com3"));
    EXPECT_EQ(m_port.DeviceName(), "com3");
    CSerialComm viaPath;
    EXPECT_FALSE(viaPath.Open(m_pty.SlavePath())) << "the lock must hold through the alias";
    m_port.Close();
    fs::remove(alias);
}

TEST_F(SerialCommPtyTest, StateReadsBackWhatWasSet)
{
    CSerialCommState state;
    state.m_dwBaudRate = 19200;
    state.m_byByteSize = 8;
    state.m_byStopBits = 2;
    ASSERT_TRUE(m_port.SetState(state));
    CSerialCommState read;
    ASSERT_TRUE(m_port.GetState(read));
    EXPECT_EQ(read.m_dwBaudRate, 19200u);
    EXPECT_EQ(read.m_byByteSize, 8);
    EXPECT_EQ(read.m_byParity, 0);
    EXPECT_EQ(read.m_byStopBits, 2);

    state = {};
    state.m_dwBaudRate = 115200;
    state.m_byByteSize = 8;
    ASSERT_TRUE(m_port.SetState(state));
    state.m_dwBaudRate = 12345;
    EXPECT_FALSE(m_port.SetState(state));
    // A pseudo-terminal keeps 8 bits without parity whatever it is told: refused.
    state.m_dwBaudRate = 9600;
    state.m_byByteSize = 7;
    state.m_byParity = 2;
    EXPECT_FALSE(m_port.SetState(state));
    ASSERT_TRUE(m_port.GetState(read));
    EXPECT_EQ(read.m_dwBaudRate, 115200u);
    EXPECT_EQ(read.m_byByteSize, 8);
    EXPECT_EQ(read.m_byParity, 0);
    EXPECT_EQ(read.m_byStopBits, 0);
}

TEST_F(SerialCommPtyTest, WriteTakesTheWireTime)
{
    CSerialCommState state;
    state.m_dwBaudRate = 9600;
    state.m_byByteSize = 8;
    ASSERT_TRUE(m_port.SetState(state));
    const std::string frame(96, '\x41');
    uint32_t written = 0;
    const Ms took = Timed([&] { written = m_port.Write(frame.data(), uint32_t(frame.size())); });
    EXPECT_EQ(written, 96u);
    EXPECT_GE(took.count(), 100);
    EXPECT_LT(took.count(), 400);
    EXPECT_EQ(m_pty.Receive(96), frame);
}

class OpenRefusalTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("torvane-open-" + std::to_string(getpid()));
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    fs::path m_dir;
};

TEST_F(OpenRefusalTest, RegularFileIsRefusedAndLeftIntact)
{
    const fs::path file = m_dir / "firmware.mot";
    std::ofstream(file) << "S00600004844521B\n";
    CSerialComm port;
    EXPECT_FALSE(port.Open(file.string()));
    EXPECT_EQ(port.LastOpenError(), platform::OpenError::NotATerminal);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(fs::file_size(file), 17u);
}

TEST_F(OpenRefusalTest, FolderAndMissingDeviceAreRefused)
{
    CSerialComm port;
    EXPECT_FALSE(port.Open(m_dir.string()));
    EXPECT_EQ(port.LastOpenError(), platform::OpenError::NotATerminal);
    EXPECT_FALSE(port.Open((m_dir / "ttyNONE").string()));
    EXPECT_EQ(port.LastOpenError(), platform::OpenError::NotFound);
    EXPECT_FALSE(port.Open("/dev/null")) << "a character device that is no terminal";
    EXPECT_EQ(port.LastOpenError(), platform::OpenError::NotATerminal);
    EXPECT_FALSE(port.IsOpen());
}

} // namespace
