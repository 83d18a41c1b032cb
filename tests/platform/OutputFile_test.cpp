// Files the program writes and the small files it reads, against what an unlucky or
// hostile machine puts behind their names.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/OutputFile.h"
#include "platform/SmallFile.h"

namespace fs = std::filesystem;

namespace {

class FilesTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("torvane-files-" + std::to_string(getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    static std::string Read(const fs::path& file)
    {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void Write(const fs::path& file, const std::string& text)
    {
        std::ofstream(file, std::ios::binary) << text;
    }
    size_t Entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(m_dir), {})); }

    fs::path m_dir;
};

TEST_F(FilesTest, AtomicWriteReplacesAPlantedLinkAndNeverWritesThroughIt)
{
    const fs::path victim = m_dir / "victim.txt";
    const fs::path target = m_dir / "out.mot";
    Write(victim, "precious");
    fs::create_symlink(victim, target);
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(target, "S9030000FC\n", error)) << error;
    EXPECT_EQ(Read(victim), "precious");
    EXPECT_FALSE(fs::is_symlink(target));
    EXPECT_EQ(Read(target), "S9030000FC\n");
    EXPECT_EQ(Entries(), 2u) << "a temporary file was left behind";

    ASSERT_TRUE(platform::WriteFileAtomically(target, "again", error, platform::FileAccess::Private));
    EXPECT_EQ(Read(target), "again");
    struct stat info = {};
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(FilesTest, TargetsThatAreNoPlainFileAreRefusedNamingThem)
{
    std::string error;
    for (const fs::path& target : {m_dir, fs::path("/dev/null"), m_dir / "no-such-folder" / "out.mot"}) {
        SCOPED_TRACE(target);
        EXPECT_FALSE(platform::CheckOutputTarget(target, error));
        EXPECT_FALSE(platform::WriteFileAtomically(target, "x", error));
        EXPECT_NE(error.find(target.parent_path().string()), std::string::npos) << error;
    }
    EXPECT_TRUE(fs::is_directory(m_dir));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(Entries(), 0u);
}

TEST(WindowsDeviceNames, AreKnownWithAnyExtensionAndCase)
{
    for (const char* name : {"NUL", "NUL.mot", "nul.tar.gz", "C:\\x\\Con.txt", "dir/aux", "COM1", "com9.s",
                             "LPT3.mot", "NUL .mot", "prn.", "CONOUT$"})
        EXPECT_TRUE(platform::IsWindowsDeviceName(platform::CPath::FromUtf8(name))) << name;
    for (const char* name :
         {"NULL.mot", "panel.mot", "COM10.mot", "COM.mot", "nul-backup.mot", "xCON.mot", "CON/x.mot"})
        EXPECT_FALSE(platform::IsWindowsDeviceName(platform::CPath::FromUtf8(name))) << name;
}

TEST_F(FilesTest, SameFileIsFoundByIdentityNotByName)
{
    const fs::path file = m_dir / "panel.mot";
    Write(file, "S9030000FC\n");
    fs::create_hard_link(file, m_dir / "hard.mot");
    fs::create_symlink(file, m_dir / "soft.mot");
    EXPECT_TRUE(platform::IsSameFile(file, m_dir / "hard.mot"));
    EXPECT_TRUE(platform::IsSameFile(m_dir / "soft.mot", m_dir / "." / "panel.mot"));
    Write(m_dir / "copy.mot", "S9030000FC\n");
    EXPECT_FALSE(platform::IsSameFile(file, m_dir / "copy.mot"));
    EXPECT_FALSE(platform::IsSameFile(file, m_dir / "missing.mot"));
}

TEST_F(FilesTest, SmallFileReadsOnlyARegularFileUpTo64KiB)
{
    ASSERT_EQ(mkfifo((m_dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", m_dir / "zero");
    fs::create_symlink("/dev/urandom", m_dir / "urandom");
    Write(m_dir / "big", std::string(platform::kSmallFileLimit + 1, 'x'));
    Write(m_dir / "fits", std::string(platform::kSmallFileLimit, 'x'));

    std::string content, error;
    const auto start = std::chrono::steady_clock::now();
    for (const char* name : {"fifo", "zero", "urandom", "big"}) {
        SCOPED_TRACE(name);
        error.clear();
        EXPECT_EQ(platform::ReadSmallFile(m_dir / name, content, error), platform::SmallFileStatus::Refused);
        EXPECT_NE(error.find((m_dir / name).string()), std::string::npos) << error;
        EXPECT_TRUE(content.empty());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(platform::ReadSmallFile(m_dir / "fits", content, error), platform::SmallFileStatus::Ok);
    EXPECT_EQ(content.size(), platform::kSmallFileLimit);
    EXPECT_EQ(platform::ReadSmallFile(m_dir / "none", content, error), platform::SmallFileStatus::Missing);

    fs::create_symlink(m_dir / "fits", m_dir / "link");
    EXPECT_EQ(platform::ReadSmallFile(m_dir / "link", content, error), platform::SmallFileStatus::Ok);
    EXPECT_EQ(platform::ReadSmallFile(m_dir / "link", content, error, platform::FollowLinks::No),
              platform::SmallFileStatus::Refused);
    EXPECT_NE(error.find("link"), std::string::npos) << error;
}

TEST_F(FilesTest, SmallTextFileGivesTheLinesOfTextFile)
{
    Write(m_dir / "panel.id", "FFFDF B6\r\n\nFFFE3 B6");
    platform::CSmallTextFile file;
    file.Open(m_dir / "panel.id");
    std::vector<std::string> lines;
    for (std::string line; file.ReadLine(line);)
        lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"FFFDF B6", "", "FFFE3 B6"}));
    EXPECT_THROW(file.Open(m_dir / "missing.id"), CFileException);
}

} // namespace
