#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/ProfileIni.h"

namespace fs = std::filesystem;
using platform::GetPrivateProfileInt;
using platform::WritePrivateProfileInt;

namespace {

class ProfileIniTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("torvane-ini-" + std::to_string(getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_file = m_dir / "test.INI";
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void WriteFile(const std::string& text)
    {
        std::ofstream out(m_file, std::ios::binary);
        out << text;
    }
    std::string ReadFile() const
    {
        std::ifstream in(m_file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    int Value(const std::string& key, int defaultValue = -7)
    {
        return GetPrivateProfileInt("S", key, defaultValue, m_file);
    }

    fs::path m_dir;
    fs::path m_file;
};

TEST_F(ProfileIniTest, ReadsValuesTheWayWindowsDoes)
{
    WriteFile("[S]\n"
              "plain=9600\n"
              "  spaced   =   57600  \n"
              "trailing=12abc\n"
              "negative=-5\n"
              "plus=+42\n"
              "garbage=abc\n"
              "empty=\n"
              "wrapped=4294967297\n"
              "huge=99999999999999999999999999\n"
              "quoted=\"300\"\n");
    EXPECT_EQ(Value("plain"), 9600);
    EXPECT_EQ(Value("spaced"), 57600);
    EXPECT_EQ(Value("trailing"), 12);
    EXPECT_EQ(Value("negative"), -5);
    EXPECT_EQ(Value("plus"), 42);
    EXPECT_EQ(Value("garbage"), 0);
    EXPECT_EQ(Value("empty"), -7);
    EXPECT_EQ(Value("wrapped"), 1);
    Value("huge"); // any value, but no crash
    EXPECT_EQ(Value("quoted"), 300);
}

TEST_F(ProfileIniTest, MissingFileSectionOrKeyGivesTheDefault)
{
    EXPECT_EQ(Value("plain", 5), 5);
    WriteFile("[Other]\nplain=1\n[S]\nx=2\n");
    EXPECT_EQ(Value("plain", 5), 5);
    EXPECT_EQ(Value("x", 5), 2);
    EXPECT_EQ(GetPrivateProfileInt("S", "x", 9, m_dir), 9); // a folder is no file
}

TEST_F(ProfileIniTest, NamesMatchIgnoringCaseAndOnlyWithinTheirSection)
{
    WriteFile("; comment=1\r\n[ last comm state ]\r\nBAUNDRATE=19200\r\n[next]\r\nByte=8\r\n");
    EXPECT_EQ(GetPrivateProfileInt("Last Comm State", "Baundrate", 0, m_file), 19200);
    EXPECT_EQ(GetPrivateProfileInt("Last Comm State", "Byte", 0, m_file), 0);
}

TEST_F(ProfileIniTest, WriteCreatesFolderFileAndSection)
{
    const fs::path nested = m_dir / "a" / "b" / "x.INI";
    ASSERT_TRUE(WritePrivateProfileInt("Sec", "Key", 4294967295LL, nested));
    std::ifstream in(nested);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "[Sec]\nKey=4294967295\n");
    EXPECT_EQ(static_cast<uint32_t>(GetPrivateProfileInt("Sec", "Key", 0, nested)), 4294967295u);
}

TEST_F(ProfileIniTest, WriteKeepsEveryOtherLineByteForByte)
{
    WriteFile(
        "; my notes\r\n[timeout]\r\npageread = 2000 ; slow cable\r\n\r\n[S]\r\nA=1\r\nB=2\r\n\r\n[Z]\r\nq=x");
    ASSERT_TRUE(WritePrivateProfileInt("s", "b", 3, m_file));
    ASSERT_TRUE(WritePrivateProfileInt("S", "C", 4, m_file));
    EXPECT_EQ(ReadFile(), "; my notes\r\n[timeout]\r\npageread = 2000 ; slow "
                          "cable\r\n\r\n[S]\r\nA=1\r\nb=3\r\nC=4\r\n\r\n[Z]\r\nq=x");
    ASSERT_TRUE(WritePrivateProfileInt("New", "k", -1, m_file));
    EXPECT_EQ(
        ReadFile(),
        "; my notes\r\n[timeout]\r\npageread = 2000 ; slow cable\r\n\r\n[S]\r\nA=1\r\nb=3\r\nC=4\r\n\r\n"
        "[Z]\r\nq=x\r\n\r\n[New]\r\nk=-1\r\n");
}

TEST_F(ProfileIniTest, FailedWriteReportsAndLeavesNoFile)
{
    WriteFile("not a folder");
    const fs::path inside = m_file / "x.INI";
    EXPECT_FALSE(WritePrivateProfileInt("S", "k", 1, inside).error.empty());
    EXPECT_EQ(ReadFile(), "not a folder");
}

TEST_F(ProfileIniTest, FullDiskDuringWriteKeepsTheOldFileWhole)
{
    const std::string old = "[S]\nk=1\n" + std::string(200, ';') + "\n";
    WriteFile(old);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A file-size limit binds root too: the next write cannot finish.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{16, 16};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(WritePrivateProfileInt("S", "k", 2, m_file) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write claimed success";
    EXPECT_EQ(ReadFile(), old);
    int files = 0;
    for (const auto& entry : fs::directory_iterator(m_dir)) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1) << "a temporary file was left behind";
}

} // namespace

namespace {

TEST_F(ProfileIniTest, SettingsBehindALinkFifoOrDeviceAreNeitherFollowedNorAHang)
{
    const fs::path real = m_dir / "elsewhere.INI";
    {
        std::ofstream(real, std::ios::binary) << "[S]\nA=5\n";
    }
    fs::create_symlink(real, m_file);
    EXPECT_EQ(Value("A"), -7) << "read through the link";
    EXPECT_NE(platform::WritePrivateProfileInt("S", "A", 9, m_file).error.find(m_file.string()),
              std::string::npos);
    EXPECT_TRUE(fs::is_symlink(m_file));
    EXPECT_EQ(GetPrivateProfileInt("S", "A", 0, real), 5);

    const auto start = std::chrono::steady_clock::now();
    fs::remove(m_file);
    ASSERT_EQ(mkfifo(m_file.c_str(), 0600), 0);
    EXPECT_EQ(Value("A"), -7);
    EXPECT_FALSE(platform::WritePrivateProfileInt("S", "A", 9, m_file));
    fs::remove(m_file);
    std::ofstream(m_file, std::ios::binary) << std::string(70 * 1024, '\n') << "[S]\nA=1\n";
    EXPECT_EQ(Value("A"), -7) << "more than 64 KiB is not read";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(ProfileIniTest, WrittenSettingsAreTheUsersAlone)
{
    ASSERT_TRUE(platform::WritePrivateProfileInt("S", "A", 1, m_file));
    struct stat info = {};
    ASSERT_EQ(stat(m_file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

} // namespace
