// Which names open a port on Linux: only terminals, and never by a name looked up in the
// working folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "link/SerialComm.h"
#include "platform/Paths.h"
#include "platform/posix/TermiosDriver.h"

namespace fs = std::filesystem;

namespace {

class PortNames : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directories(platform::PortsDir());
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(m_master, 0);
        ASSERT_EQ(grantpt(m_master), 0);
        ASSERT_EQ(unlockpt(m_master), 0);
        m_slave = ptsname(m_master);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove(platform::PortsDir() / "COM7", ec);
        if (m_master >= 0) close(m_master);
    }
    int m_master = -1;
    std::string m_slave;
};

TEST_F(PortNames, AliasToACharacterDeviceThatIsNoTerminalIsNotOpened)
{
    for (const char* device : {"/dev/null", "/dev/zero", "/dev/urandom"}) {
        SCOPED_TRACE(device);
        struct stat info = {};
        ASSERT_EQ(stat(device, &info), 0);
        EXPECT_FALSE(platform::IsTerminalDevice(info.st_rdev));
        fs::remove(platform::PortsDir() / "COM7");
        fs::create_symlink(device, platform::PortsDir() / "COM7");
        CSerialComm port;
        EXPECT_FALSE(port.Open("COM7"));
        EXPECT_EQ(port.LastOpenError(), platform::OpenError::NotATerminal);
    }
    // A terminal behind the alias still opens: a pseudo-terminal here.
    fs::remove(platform::PortsDir() / "COM7");
    fs::create_symlink(m_slave, platform::PortsDir() / "COM7");
    CSerialComm port;
    EXPECT_TRUE(port.Open("COM7")) << m_slave;
}

TEST_F(PortNames, NamesAreNotLookedUpInTheWorkingFolder)
{
    const fs::path dir = fs::temp_directory_path() / ("torvane-portnames-" + std::to_string(getpid()));
    fs::create_directories(dir / "dev");
    fs::create_symlink(m_slave, dir / "panel");
    fs::create_symlink(m_slave, dir / "dev" / "panel");
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    for (const char* name : {"panel", "./panel", "dev/panel"}) {
        CSerialComm port;
        EXPECT_FALSE(port.Open(name)) << name;
        EXPECT_EQ(port.LastOpenError(), platform::OpenError::NotFound) << name;
    }
    CSerialComm port;
    EXPECT_TRUE(port.Open((dir / "panel").string())) << "an absolute path opens";
    fs::current_path(before);
    fs::remove_all(dir);
}

} // namespace
