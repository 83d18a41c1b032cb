#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <vector>

#include "platform/TextFile.h"

namespace fs = std::filesystem;

namespace {

class TextFileTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("torvane-text-" + std::to_string(getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::vector<std::string> ReadAll(const std::string& content)
    {
        const fs::path path = m_dir / "f.mot";
        std::ofstream(path, std::ios::binary) << content;
        platform::CTextFile file;
        file.Open(path);
        std::vector<std::string> lines;
        std::string line;
        while (file.ReadLine(line))
            lines.push_back(line);
        return lines;
    }

    fs::path m_dir;
};

TEST_F(TextFileTest, SplitsAtLineFeedsAndDropsTheCarriageReturnBeforeThem)
{
    EXPECT_EQ(ReadAll("S0\r\nS1\n\nS9"), (std::vector<std::string>{"S0", "S1", "", "S9"}));
    EXPECT_EQ(ReadAll("a\rb\r\n"), (std::vector<std::string>{"a\rb"}));
    EXPECT_TRUE(ReadAll("").empty());
}

TEST_F(TextFileTest, LinesOfAnyLength)
{
    const std::string longLine(100000, 'F');
    EXPECT_EQ(ReadAll(longLine + "\r\nx\n"), (std::vector<std::string>{longLine, "x"}));
}

TEST_F(TextFileTest, MissingFileThrowsNamingIt)
{
    const fs::path path = m_dir / "none.mot";
    platform::CTextFile file;
    try {
        file.Open(path);
        FAIL() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
        EXPECT_EQ(e.m_strFileName, path.string());
        EXPECT_EQ(e.GetErrorMessage(), path.string() + " was not found.");
    }
}

TEST_F(TextFileTest, FolderCannotBeAccessed)
{
    platform::CTextFile file;
    try {
        file.Open(m_dir);
        FAIL() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::accessDenied);
        EXPECT_EQ(e.GetErrorMessage(), m_dir.string() + " could not be accessed.");
    }
}

TEST(FileExceptionTest, MessagesNameTheFile)
{
    EXPECT_EQ(CFileException::FromErrno(EACCES, "/x/a.mot").GetErrorMessage(),
              "/x/a.mot could not be accessed.");
    EXPECT_EQ(CFileException::FromErrno(EIO, "/x/a.mot").GetErrorMessage(),
              "An unexpected error occurred while accessing /x/a.mot.");
    EXPECT_EQ(CFileException::FromErrno(EIO, "/x/a.mot").m_lOsError, EIO);
}

} // namespace
