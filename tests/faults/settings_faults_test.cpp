// The settings file against what a bench machine does to it: a full disk, a folder where
// the file should be, binary garbage, absurd numbers. Load never crashes and a failed
// Save never leaves a half-written file; start-up copes with whatever Load returns.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fixtures/AppFixture.h"
#include "framework/Dialog.h"
#include "link/SaveIni.h"
#include "platform/Paths.h"
#include "platform/ProfileIni.h"
#include "res/Resource.h"

namespace fs = std::filesystem;

namespace {

const std::string kSaved57600 = "[Last Comm State]\nBaundrate=57600\nByte=8\nStop Bit=0\nParity=0\n";
const std::string kSaved9600 = "[Last Comm State]\nBaundrate=9600\nByte=8\nStop Bit=0\nParity=0\n";
const std::string kCommError = "Communication error.\nPlease reset Orvex ( toggle power supply ).";

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteAll(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

class SettingsFaults : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::remove_all(platform::ConfigDir());
        fs::create_directories(platform::ConfigDir());
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(platform::ConfigDir(), ec);
    }
    fs::path File() const { return platform::SettingsFilePath(); }
};

// Child exit codes of the tmpfs test.
enum : int { kChildOk = 0, kNoMount = 77, kSaveNotRefused = 10, kOldFileChanged, kLoadLost, kLeftovers };

TEST_F(SettingsFaults, FullDiskKeepsTheOldFileWhole)
{
    // A real ENOSPC: a 16 KiB tmpfs in a private mount namespace of a child process.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const fs::path mountPoint = platform::ConfigDir().Native().parent_path() / "tiny";
        fs::create_directories(mountPoint);
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=16k") != 0)
            _exit(kNoMount);
        setenv("XDG_CONFIG_HOME", mountPoint.c_str(), 1);
        WriteAll(platform::SettingsFilePath(), kSaved57600);
        {
            // Fill what is left of the disk.
            std::ofstream filler(mountPoint / "filler", std::ios::binary);
            const std::string block(512, 'x');
            for (int i = 0; i < 64 && filler; ++i)
                filler << block << std::flush;
        }
        CSaveIni ini;
        ini.Set(115200, 8, 0, 0);
        const platform::ProfileWrite written = ini.Save();
        int code = kChildOk;
        if (written)
            code = kSaveNotRefused;
        else if (ReadAll(platform::SettingsFilePath()) != kSaved57600)
            code = kOldFileChanged;
        CSaveIni reread;
        if (code == kChildOk && (!reread.Load() || reread.m_dwBaudRate != 57600)) code = kLoadLost;
        int entries = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(platform::ConfigDir()))
            ++entries;
        if (code == kChildOk && entries != 1) code = kLeftovers;
        umount(mountPoint.c_str());
        _exit(code);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kNoMount) GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    EXPECT_NE(WEXITSTATUS(status), kSaveNotRefused) << "the failed write was not noticed";
    EXPECT_NE(WEXITSTATUS(status), kOldFileChanged) << "the old file was changed";
    EXPECT_NE(WEXITSTATUS(status), kLoadLost) << "the old values no longer load";
    EXPECT_NE(WEXITSTATUS(status), kLeftovers) << "a temporary file was left behind";
    EXPECT_EQ(WEXITSTATUS(status), kChildOk);
}

TEST_F(SettingsFaults, FolderInPlaceOfTheFileNeitherLoadsNorBreaks)
{
    fs::create_directories(File());
    fs::create_directories(File() / "inside");
    CSaveIni ini;
    EXPECT_FALSE(ini.Load());
    ini.Set(9600, 8, 0, 0);
    EXPECT_FALSE(ini.Save().error.empty());
    EXPECT_TRUE(fs::is_directory(File() / "inside"));
}

TEST_F(SettingsFaults, BinaryGarbageNeverCrashesLoad)
{
    std::mt19937 random(20240611); // fixed seed: the same files on every run
    for (int round = 0; round < 200; ++round) {
        std::string bytes(random() % 2048, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random());
        if (round % 3 == 0) bytes.insert(random() % (bytes.size() + 1), "\n[Last Comm State]\nBaundrate=");
        WriteAll(File(), bytes);
        CSaveIni ini;
        const BOOL loaded = ini.Load();
        if (loaded) {
            EXPECT_NE(ini.m_dwBaudRate, 0u);
        }
        ini.GetPageReadTimeout(5000);
        EXPECT_EQ(ReadAll(File()), bytes) << "Load changed the file";
    }
}

TEST_F(SettingsFaults, NulBytesAndAnEndlessLineAreRead)
{
    WriteAll(File(),
             std::string("[Last Comm State]\nBaundrate=19200\0junk\nByte=8\nStop Bit=0\nParity=0", 64) +
                 std::string(1 << 20, 'x'));
    CSaveIni ini;
    ini.Load();
    SUCCEED();
}

struct NumberCase
{
    const char* text;
    uint32_t baudRate;
    uint8_t byteSize;
};

TEST_F(SettingsFaults, HugeAndNegativeNumbersLoadAsTheyWrapAndSaveWhole)
{
    const NumberCase cases[] = {
        {"Baundrate=4294967296\nByte=264\n", 0, 0},         // 2^32 keeps 32 bits: 0, so no load
        {"Baundrate=99999999999999999999\nByte=8\n", 0, 8}, // whatever 32 bits the reader keeps
        {"Baundrate=-9600\nByte=-248\n", static_cast<uint32_t>(-9600), 8},
        {"Baundrate=+115200\nByte=00008\n", 115200, 8},
        {"Baundrate=-0\nByte=8\n", 0, 0},
    };
    for (const NumberCase& c : cases) {
        WriteAll(File(), std::string("[Last Comm State]\n") + c.text + "Stop Bit=-2\nParity=2147483648\n");
        CSaveIni ini;
        const BOOL loaded = ini.Load();
        if (c.baudRate != 0 && c.byteSize != 0) {
            EXPECT_TRUE(loaded) << c.text;
            EXPECT_EQ(ini.m_dwBaudRate, c.baudRate) << c.text;
            EXPECT_EQ(ini.m_byByteSize, c.byteSize) << c.text;
        } else if (c.baudRate == 0 && c.byteSize == 0) {
            EXPECT_FALSE(loaded) << c.text;
        }
        // Whatever was read, a save writes the four keys whole, nothing half-way.
        ini.Set(ini.m_dwBaudRate, ini.m_byByteSize, ini.m_byParity, ini.m_byStopBits);
        EXPECT_TRUE(ini.Save());
        const std::string after = ReadAll(File());
        EXPECT_EQ(after.rfind("[Last Comm State]\nBaundrate=", 0), 0u) << after;
        EXPECT_NE(after.find("\nParity="), std::string::npos) << after;
    }
    // -1 is what a missing key reads as: such a file does not load.
    WriteAll(File(), "[Last Comm State]\nBaundrate=9600\nByte=8\nStop Bit=-1\nParity=0\n");
    EXPECT_FALSE(CSaveIni().Load());
}

// The whole start-up with a file a user has broken by hand.
class StartupWithBrokenSettings : public AppFixture
{
protected:
    void RunStartup()
    {
        ExpectPortDialogOk();
        m_host.Expect(IDD_IDCHECK, CDialogScript().Escape());
        m_host.Expect(IDD_TORVANE_DIALOG, CDialogScript().CloseBox());
        EXPECT_FALSE(m_app->InitInstance());
    }
};

TEST_F(StartupWithBrokenSettings, NegativeRateIsRefusedByTheDeviceAndTheFileRepaired)
{
    // -9600 reads as 4294957696, which has no speed code: the device does not echo 0x00.
    WriteSettings("[Last Comm State]\nBaundrate=-9600\nByte=8\nStop Bit=0\nParity=0\n");
    RunStartup();
    EXPECT_EQ(Boxes(), std::vector<std::string>{kCommError});
    EXPECT_EQ(SettingsText(), kSaved9600);
    EXPECT_EQ(Device().Baud(), 9600u);
}

TEST_F(StartupWithBrokenSettings, RateWithoutSpeedCodeStaysAt9600)
{
    WriteSettings("[Last Comm State]\nBaundrate=4800\nByte=8\nStop Bit=0\nParity=0\n");
    RunStartup();
    EXPECT_EQ(Boxes(), std::vector<std::string>{kCommError});
    EXPECT_EQ(SettingsText(), kSaved9600);
}

TEST_F(StartupWithBrokenSettings, BinaryGarbageIsIgnoredAndReplacedWhole)
{
    std::string garbage(4096, '\0');
    std::mt19937 random(7);
    for (char& c : garbage)
        c = static_cast<char>(random());
    WriteSettings(garbage);
    RunStartup();
    EXPECT_TRUE(Boxes().empty());
    // Sections the tool does not own are kept; its own section is written whole.
    const std::string text = SettingsText();
    EXPECT_NE(text.find("[Last Comm State]\nBaundrate=9600\nByte=8\nStop Bit=0\nParity=0\n"),
              std::string::npos);
}

} // namespace
