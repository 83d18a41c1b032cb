#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "link/SaveIni.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace {

class SaveIniTest : public testing::Test
{
protected:
    void SetUp() override
    {
        fs::remove_all(platform::ConfigDir());
        fs::create_directories(platform::ConfigDir());
    }

    void WriteSettings(const std::string& text)
    {
        std::ofstream(platform::SettingsFilePath().Native(), std::ios::binary) << text;
    }
    std::string Settings() const
    {
        std::ifstream in(platform::SettingsFilePath().Native(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST_F(SaveIniTest, FirstSaveWritesTheFourKeysInOrder)
{
    fs::remove_all(platform::ConfigDir());
    CSaveIni ini;
    ini.Set(9600, 8, 0, 0);
    EXPECT_TRUE(ini.Save());
    EXPECT_EQ(Settings(), "[Last Comm State]\nBaundrate=9600\nByte=8\nStop Bit=0\nParity=0\n");
}

TEST_F(SaveIniTest, LoadGivesBackWhatWasSavedThroughTheCrossedKeys)
{
    CSaveIni out;
    out.Set(57600, 8, 1, 2);
    EXPECT_TRUE(out.Save());
    EXPECT_NE(Settings().find("Stop Bit=1\nParity=2\n"), std::string::npos);

    CSaveIni in;
    ASSERT_TRUE(in.Load());
    uint32_t baud = 0;
    uint8_t size = 0, parity = 9, stop = 9;
    in.Get(baud, size, parity, stop);
    EXPECT_EQ(baud, 57600u);
    EXPECT_EQ(size, 8);
    EXPECT_EQ(parity, 1);
    EXPECT_EQ(stop, 2);
}

TEST_F(SaveIniTest, LoadFailsOnMissingOrZeroValues)
{
    CSaveIni ini;
    EXPECT_FALSE(ini.Load()) << "no file";

    WriteSettings("[Last Comm State]\nBaundrate=0\nByte=8\nStop Bit=0\nParity=0\n");
    EXPECT_FALSE(ini.Load());

    WriteSettings("[Last Comm State]\nBaundrate=9600\nByte=256\nStop Bit=0\nParity=0\n");
    EXPECT_FALSE(ini.Load()) << "the low 8 bits of 256 are 0";

    WriteSettings("[Last Comm State]\nBaundrate=19200\nByte=8\nStop Bit=0\n");
    EXPECT_FALSE(ini.Load());
    EXPECT_EQ(ini.m_dwBaudRate, 19200u) << "fields read before the failure stay changed";

    WriteSettings("[Last Comm State]\nBaundrate=19200\nByte=8\nParity=0\n");
    EXPECT_FALSE(ini.Load());
}

TEST_F(SaveIniTest, NamesMatchIgnoringCase)
{
    WriteSettings("[LAST COMM STATE]\r\nbaundrate=38400\r\nBYTE=8\r\nstop bit=0\r\nPARITY=0\r\n");
    CSaveIni ini;
    ASSERT_TRUE(ini.Load());
    EXPECT_EQ(ini.m_dwBaudRate, 38400u);
    ini.Set(9600, 8, 0, 0);
    EXPECT_TRUE(ini.Save());
    EXPECT_EQ(Settings(), "[LAST COMM STATE]\r\nBaundrate=9600\r\nByte=8\r\nStop Bit=0\r\nParity=0\r\n");
}

TEST_F(SaveIniTest, SaveKeepsForeignSectionsAndComments)
{
    WriteSettings(
        "; written by hand\n[timeout]\npageread=2000\n\n[Last Comm State]\nBaundrate=115200\nextra=1\n");
    CSaveIni ini;
    ini.Set(9600, 8, 0, 0);
    EXPECT_TRUE(ini.Save());
    EXPECT_EQ(Settings(), "; written by hand\n[timeout]\npageread=2000\n\n[Last Comm State]\nBaundrate=9600\n"
                          "extra=1\nByte=8\nStop Bit=0\nParity=0\n");
    EXPECT_EQ(ini.GetPageReadTimeout(5000), 2000);
}

TEST_F(SaveIniTest, PageReadTimeOutDefaultsToTheCurrentOne)
{
    CSaveIni ini;
    EXPECT_EQ(ini.GetPageReadTimeout(5000), 5000);
    WriteSettings("[timeout]\nother=1\n");
    EXPECT_EQ(ini.GetPageReadTimeout(150), 150);
    WriteSettings("[Timeout]\nPageRead=  3000ms\n");
    EXPECT_EQ(ini.GetPageReadTimeout(150), 3000);
}

TEST_F(SaveIniTest, GarbageValuesLoadWithoutHarm)
{
    WriteSettings("[Last Comm State]\nBaundrate=-9600\nByte=-1\nStop Bit=zz\nParity=99999999999999999999\n"
                  "[timeout]\npageread=-5\n");
    CSaveIni ini;
    EXPECT_TRUE(ini.Load()) << "no range test: values are taken as read";
    EXPECT_EQ(ini.m_dwBaudRate, static_cast<uint32_t>(-9600));
    EXPECT_EQ(ini.m_byByteSize, 255);
    EXPECT_EQ(ini.m_byParity, 0);
    EXPECT_EQ(ini.GetPageReadTimeout(5000), -5);
}

TEST_F(SaveIniTest, FailedSaveLeavesNoBrokenFile)
{
    const std::string old = "[Last Comm State]\nBaundrate=57600\nByte=8\nStop Bit=0\nParity=0\n";
    WriteSettings(old);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{8, 8}; // a full disk, for root as well
        setrlimit(RLIMIT_FSIZE, &limit);
        CSaveIni ini;
        ini.Set(9600, 8, 0, 0);
        (void)ini.Save();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(Settings(), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(platform::ConfigDir()), fs::directory_iterator()), 1);
    CSaveIni ini;
    EXPECT_TRUE(ini.Load());
    EXPECT_EQ(ini.m_dwBaudRate, 57600u);
}

TEST_F(SaveIniTest, UnwritableLocationIsSilent)
{
    const std::string saved = std::getenv("XDG_CONFIG_HOME");
    const fs::path blocker = fs::path(saved) / "plain-file";
    std::ofstream(blocker) << "x";
    setenv("XDG_CONFIG_HOME", blocker.c_str(), 1);
    CSaveIni ini;
    ini.Set(9600, 8, 0, 0);
    EXPECT_FALSE(ini.Save().error.empty());
    EXPECT_FALSE(ini.Load());
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    fs::remove(blocker);
}

} // namespace
