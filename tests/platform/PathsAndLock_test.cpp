#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/InstanceLock.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace {

TEST(PathsTest, ConfigurationLivesInTheXdgFolder)
{
    const fs::path base = std::getenv("XDG_CONFIG_HOME");
    EXPECT_EQ(platform::ConfigDir(), base / "torvane");
    EXPECT_EQ(platform::PortsDir(), base / "torvane" / "ports");
    EXPECT_EQ(platform::SettingsFilePath(), base / "torvane" / "torvane.INI");
}

TEST(PathsTest, ComNamesResolveToAliasOrTtyS)
{
    EXPECT_EQ(platform::ResolvePortName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(platform::ResolvePortName("com10"), "/dev/ttyS9");
    EXPECT_EQ(platform::ResolvePortName("/dev/ttyUSB0"), "/dev/ttyUSB0");
    // Nothing is looked up in the working folder: a file "printer" there is not a port.
    for (const char* name : {"COM0", "COMX", "printer", "dev/ttyS0", "./ttyS0", "..", ""})
        EXPECT_EQ(platform::ResolvePortName(name), fs::path()) << name;

    fs::create_directories(platform::PortsDir());
    const fs::path alias = platform::PortsDir() / "COM4";
    const fs::path named = platform::PortsDir() / "bench-panel";
    fs::create_symlink("/dev/ttyUSB7", alias);
    fs::create_symlink("/dev/ttyUSB8", named);
    EXPECT_EQ(platform::ResolvePortName("Com4"), alias);
    EXPECT_EQ(platform::ResolvePortName("bench-panel"), named);
    fs::remove(alias);
    fs::remove(named);
}

TEST(InstanceLockTest, SecondHolderIsRefusedUntilReleased)
{
    platform::CInstanceLock first;
    platform::CInstanceLock second;
    ASSERT_TRUE(first.Acquire("TORVANE.exe"));
    EXPECT_FALSE(second.Acquire("TORVANE.exe"));
    EXPECT_FALSE(second.IsHeld());

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::CInstanceLock other;
        _exit(other.Acquire("TORVANE.exe") ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "another process got the lock";

    first.Release();
    EXPECT_TRUE(second.Acquire("TORVANE.exe"));
}

TEST(InstanceLockTest, KilledHolderReleasesTheLock)
{
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        platform::CInstanceLock lock;
        const char held = lock.Acquire("TORVANE.exe") ? '1' : '0';
        (void)!write(pipeFds[1], &held, 1);
        pause();
        _exit(0);
    }
    close(pipeFds[1]);
    char held = 0;
    ASSERT_EQ(read(pipeFds[0], &held, 1), 1);
    close(pipeFds[0]);
    ASSERT_EQ(held, '1');

    platform::CInstanceLock mine;
    EXPECT_FALSE(mine.Acquire("TORVANE.exe"));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(mine.Acquire("TORVANE.exe"));
}

} // namespace
