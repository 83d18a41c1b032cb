#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/InstanceLock.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace {

TEST(PathsTest, ConfigurationLivesInTheXdgFolder)
{
    const fs::path base = std::getenv("XDG_CONFIG_HOME");
    EXPECT_EQ(platform::ConfigDir().Native(), base / "torvane");
    EXPECT_EQ(platform::PortsDir().Native(), base / "torvane" / "ports");
    EXPECT_EQ(platform::SettingsFilePath().Native(), base / "torvane" / "torvane.INI");
}

TEST(PathsTest, ComNamesResolveToAliasOrTtyS)
{
    EXPECT_EQ(platform::ResolvePortName("COM1").Native(), "/dev/ttyS0");
    EXPECT_EQ(platform::ResolvePortName("com10").Native(), "/dev/ttyS9");
    EXPECT_EQ(platform::ResolvePortName("/dev/ttyUSB0").Native(), "/dev/ttyUSB0");
    // Nothing is looked up in the working folder: a file "printer" there is not a port.
    for (const char* name : {"COM0", "COMX", "printer", "dev/ttyS0", "./ttyS0", "..", ""})
        EXPECT_EQ(platform::ResolvePortName(name).Native(), fs::path()) << name;

    fs::create_directories(platform::PortsDir());
    const fs::path alias = platform::PortsDir() / "COM4";
    const fs::path named = platform::PortsDir() / "bench-panel";
    fs::create_symlink("/dev/ttyUSB7", alias);
    fs::create_symlink("/dev/ttyUSB8", named);
    EXPECT_EQ(platform::ResolvePortName("Com4").Native(), alias);
    EXPECT_EQ(platform::ResolvePortName("bench-panel").Native(), named);
    fs::remove(alias);
    fs::remove(named);
}

TEST(PathsTest, ThePortsDeviceIsTheNodeBehindTheAliasAndItsLinks)
{
    // FIX1 -> a by-path name -> the node, as udev links them (relative links included).
    const fs::path dev = fs::path(std::getenv("XDG_CONFIG_HOME")) / "dev";
    fs::create_directories(dev / "serial" / "by-path");
    std::ofstream(dev / "ttyUSB0").put('\0');
    const fs::path byPath = dev / "serial" / "by-path" / "pci-0000:00:14.0-usb-0:2:1.0-port0";
    fs::create_symlink("../../ttyUSB0", byPath);
    fs::create_directories(platform::PortsDir());
    fs::create_symlink(byPath, platform::PortsDir() / "FIX1");
    fs::create_symlink("/dev/ttyUSB7", platform::PortsDir() / "FIX2");

    EXPECT_EQ(platform::PortDevice("FIX1").Native(), fs::canonical(dev / "ttyUSB0"));
    EXPECT_EQ(platform::PortDevice(byPath.string()).Native(), fs::canonical(dev / "ttyUSB0"));
    EXPECT_EQ(platform::PortDevice("FIX2").Native(), "/dev/ttyUSB7") << "unplugged: still the node it names";
    EXPECT_EQ(platform::PortDevice("printer").Native(), fs::path());
    fs::remove(platform::PortsDir() / "FIX1");
    fs::remove(platform::PortsDir() / "FIX2");
    fs::remove_all(dev);
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

namespace {

// Runs body in a child process with HOME in a scratch folder and no XDG_RUNTIME_DIR, as
// under sudo; the child's exit code is the number of failed checks.
int WithoutRuntimeDir(const std::function<int(const fs::path& lockDir)>& body)
{
    const fs::path home = fs::path(std::getenv("XDG_CONFIG_HOME")).parent_path() / "home-without-runtime";
    fs::remove_all(home);
    fs::create_directories(home);
    const pid_t child = fork();
    if (child == 0) {
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_RUNTIME_DIR");
        _exit(body(home / ".cache" / "torvane"));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

} // namespace

TEST(InstanceLockTest, WithoutRuntimeDirTheLockIsInAPrivateFolderOfTheUser)
{
    EXPECT_EQ(WithoutRuntimeDir([](const fs::path& dir) {
                  platform::CInstanceLock first, second;
                  std::string why;
                  int failed = first.TryAcquire("TORVANE.exe", why) != platform::CInstanceLock::Result::Held;
                  failed +=
                      second.TryAcquire("TORVANE.exe", why) != platform::CInstanceLock::Result::HeldByAnother;
                  struct stat info = {};
                  failed += lstat(dir.c_str(), &info) != 0 || (info.st_mode & 0777) != 0700;
                  return failed;
              }),
              0);
}

TEST(InstanceLockTest, LockFolderMadeBySomeoneElseIsToldApartFromASecondCopy)
{
    using Result = platform::CInstanceLock::Result;
    // Open to others, a link to a shared folder, and (as root) another user's folder.
    EXPECT_EQ(WithoutRuntimeDir([](const fs::path& dir) {
                  fs::create_directories(dir);
                  chmod(dir.c_str(), 0777);
                  platform::CInstanceLock lock;
                  std::string why;
                  const bool refused = lock.TryAcquire("TORVANE.exe", why) == Result::CannotCreate;
                  return refused && why.find(dir.string()) != std::string::npos ? 0 : 1;
              }),
              0);
    EXPECT_EQ(WithoutRuntimeDir([](const fs::path& dir) {
                  fs::create_directories(dir.parent_path());
                  fs::create_symlink("/tmp", dir);
                  platform::CInstanceLock lock;
                  std::string why;
                  return lock.TryAcquire("TORVANE.exe", why) == Result::CannotCreate ? 0 : 1;
              }),
              0);
    if (geteuid() != 0) return;
    EXPECT_EQ(WithoutRuntimeDir([](const fs::path& dir) {
                  fs::create_directories(dir);
                  chmod(dir.c_str(), 0700);
                  if (chown(dir.c_str(), 65534, 65534) != 0) return 2;
                  platform::CInstanceLock lock;
                  std::string why;
                  return lock.TryAcquire("TORVANE.exe", why) == Result::CannotCreate ? 0 : 1;
              }),
              0);
}
