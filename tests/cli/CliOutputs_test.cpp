// torvane-cli's output files: refused before any port is touched when they would do
// harm, and written so that a planted link or a cut run harms nothing.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/ExitCode.h"
#include "fixtures/CliFixture.h"

namespace fs = std::filesystem;

namespace {

class CliOutputs : public CliFixture
{
protected:
    CliOutputs()
    {
        m_upgradeText = MakeSRecords({{kArea, Pattern(kArea, kAreaLength, 3)}});
        m_file = WriteFile("panel.mot", m_upgradeText).string();
        WriteFile("panel.id", kIdFile);
        Device().SetIdVerified(true);
    }
    static std::string Read(const fs::path& file)
    {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Refused as a usage error, with nothing sent to the panel.
    void ExpectRefused(std::vector<std::string> args, const std::string& why)
    {
        EXPECT_EQ(Run(std::move(args)), static_cast<int>(ExitCode::Usage));
        EXPECT_NE(m_err.str().find(why), std::string::npos) << m_err.str();
        EXPECT_TRUE(HostBytes().empty());
    }

    std::string m_upgradeText;
    std::string m_file;
};

TEST_F(CliOutputs, OneOutputWithSeveralPortsIsRefused)
{
    const std::string out = (m_dir / "out.mot").string();
    ExpectRefused({"read", "--port", "COM1", "--port", "COM2", "--range", "F0000-F00FF", "-o", out},
                  "several --port");
    ExpectRefused({"program", m_file, "--port", "COM1", "--port", "COM2", "--backup", out}, "several --port");
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(CliOutputs, BackupOntoTheUpgradeFileItselfIsRefused)
{
    std::vector<fs::path> names = {fs::path(m_file), m_dir / "." / "panel.mot"};
#ifndef _WIN32
    fs::create_hard_link(m_file, m_dir / "hard.mot");
    fs::create_symlink(m_file, m_dir / "soft.mot");
    names.insert(names.end(), {m_dir / "hard.mot", m_dir / "soft.mot"});
#endif
    for (const fs::path& backup : names) {
        SCOPED_TRACE(backup);
        ExpectRefused({"program", m_file, "--port", "COM1", "--backup", backup.string()},
                      "upgrade file itself");
    }
    // The upgrade's .id is an input too.
    ExpectRefused({"read", "--port", "COM1", "--range", "F0000-F00FF", "--upgrade", m_file, "-o",
                   (m_dir / "panel.id").string()},
                  "upgrade file itself");
    EXPECT_EQ(Read(m_file), m_upgradeText);
    EXPECT_EQ(Read(m_dir / "panel.id"), kIdFile);
}

TEST_F(CliOutputs, OutputsThatAreNoFileAreRefusedBeforeThePort)
{
    fs::create_directories(m_dir / "old.id");
    ExpectRefused({"program", m_file, "--port", "COM1", "--backup", (m_dir / "old.mot").string()}, "old.id");
#ifdef _WIN32
    // "written to NUL.mot" with nothing on the disk: the null device behind a file name.
    const std::string device = (m_dir / "NUL.mot").string();
#else
    const std::string device = "/dev/null";
#endif
    ExpectRefused({"read", "--port", "COM1", "--range", "F0000-F00FF", "-o", device},
                  fs::path(device).filename().string());
}

TEST_F(CliOutputs, AnEarlierBackupIsKeptUnlessItsOverwriteIsAsked)
{
    const fs::path backup = m_dir / "old.mot";
    std::ofstream(backup) << "the only copy";
    ExpectRefused({"program", m_file, "--port", "COM1", "--backup", backup.string()}, "--overwrite-backup");
    EXPECT_EQ(m_err.str(), "torvane-cli: " + backup.string() +
                               " is there already (an earlier backup?): name another file, or add "
                               "--overwrite-backup to replace it\n");
    EXPECT_EQ(Read(backup), "the only copy");

    ASSERT_EQ(Run({"program", m_file, "--port", "COM1", "--backup", backup.string(), "--overwrite-backup"}),
              0)
        << m_err.str();
    EXPECT_EQ(Read(backup).rfind("S0", 0), 0u);
}

TEST_F(CliOutputs, PlantedLinkAtTheOutputIsReplacedNotWrittenThrough)
{
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need privileges on Windows";
#endif
    const fs::path victim = m_dir / "victim.txt";
    const fs::path out = m_dir / "out.mot";
    std::ofstream(victim) << "precious";
    fs::create_symlink(victim, out);
    fs::create_symlink(victim, m_dir / "old.id");
    ASSERT_EQ(Run({"read", "--port", "COM1", "--range", "F0000-F00FF", "-o", out.string()}), 0)
        << m_err.str();
    EXPECT_FALSE(fs::is_symlink(out));
    EXPECT_EQ(Read(out).rfind("S0", 0), 0u);
    ASSERT_EQ(Run({"program", m_file, "--port", "COM1", "--backup", (m_dir / "old.mot").string()}), 0)
        << m_err.str();
    EXPECT_EQ(Read(m_dir / "old.id"), kIdFile);
    EXPECT_FALSE(fs::is_symlink(m_dir / "old.id"));
    EXPECT_EQ(Read(victim), "precious");
}

} // namespace
