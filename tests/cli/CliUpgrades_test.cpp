// Upgrades as a line receives them, against the in-process panel: Intel HEX and raw
// binary files programmed, signed releases accepted or refused before any port, and the
// plant's own checks around each attempt.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/RecordsReport.h"
#include "fixtures/CliFixture.h"

namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(TORVANE_SOURCE_DIR) / "tests/platform/signatures";

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class CliUpgrades : public CliFixture
{
protected:
    CliUpgrades()
    {
        m_mot = WriteFile("panel.mot", MakeSRecords({{kArea, Pattern(kArea, 0x1000, 9)}})).string();
    }
    // The signed release of the shared corpus, copied beside the test's files.
    std::string SignedRelease(const std::string& name, bool tamper)
    {
        std::string bytes = ReadText(kCorpus / "upgrade.bin");
        if (tamper) bytes[1234] ^= 0x01;
        WriteFile(name + ".sig", ReadText(kCorpus / "upgrade.bin.sig"));
        return WriteFile(name, bytes).string();
    }

    static std::string Hook(const std::string& arguments)
    {
        return "\"" + std::string(TORVANE_TEST_HOOK) + "\" " + arguments;
    }

    void PutSerial(const std::string& serial)
    {
        for (uint32_t i = 0; i < serial.size(); ++i)
            Device().WriteFlash(0xE0000 + i, static_cast<uint8_t>(serial[i]));
    }

    std::string m_mot;
};

TEST_F(CliUpgrades, IntelHexWithSegmentAndLinearAddressesIsProgrammedByItsContent)
{
    // Under a name the windows take: the content says Intel HEX.
    const std::string file = WriteFile("panel.s", ":02000002F0000C\n"
                                                  ":1000100001080F161D242B323940474E555C636A88\n"
                                                  ":02000004000FEB\n"
                                                  ":10FF0000496E74656C2048455820746F702121211A\n"
                                                  ":00000001FF\n")
                                 .string();
    ASSERT_EQ(Run({"program", file, "--port", "COM1", "--no-records"}), 0) << m_err.str();
    std::vector<uint8_t> expected(kAreaLength, 0xFF);
    for (uint32_t i = 0; i < 16; ++i)
        expected[0x10 + i] = static_cast<uint8_t>(i * 7 + 1);
    const std::string top = "Intel HEX top!!!";
    std::copy(top.begin(), top.end(), expected.begin() + 0xFF00);
    EXPECT_EQ(Area(), expected);

    // A damaged line is named, and nothing is sent.
    const std::string damaged =
        WriteFile("damaged.hex",
                  ":02000002F0000C\n:1000100001080F161D242B323940474E555C636A89\n:00000001FF\n")
            .string();
    const size_t sent = HostBytes().size();
    EXPECT_EQ(Run({"program", damaged, "--port", "COM1", "--no-records"}), 6);
    EXPECT_NE(m_err.str().find(damaged + ": refused: line 2: "), std::string::npos) << m_err.str();
    EXPECT_EQ(HostBytes().size(), sent);
}

TEST_F(CliUpgrades, ASignedBinaryIsProgrammedWithItsSignerRecordedAndATamperedOneNeverReachesAPort)
{
    const std::string key = (kCorpus / "release.pub.pem").string();
    const std::string tampered = SignedRelease("tampered.bin", true);
    EXPECT_EQ(Run({"program", tampered, "--base", "0F0000", "--trusted-key", key, "--port", "COM1",
                   "--records", m_db}),
              6);
    EXPECT_EQ(m_err.str(),
              "torvane-cli: " + tampered + ": refused: " + tampered + ".sig: not signed by a trusted key\n");
    EXPECT_TRUE(HostBytes().empty());

    const std::string good = SignedRelease("release.bin", false);
    ASSERT_EQ(
        Run({"program", good, "--base", "0F0000", "--trusted-key", key, "--port", "COM1", "--records", m_db}),
        0)
        << m_err.str();
    const std::string bytes = ReadText(good);
    std::vector<uint8_t> expected(kAreaLength, 0xFF);
    std::copy(bytes.begin(), bytes.end(), expected.begin());
    EXPECT_EQ(Area(), expected);

    const std::vector<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    for (const CAttempt& row : rows)
        EXPECT_EQ(row.signer, row.outcome == "pass" ? key : "") << row.outcome;
}

TEST_F(CliUpgrades, APreCheckRefusesOneSerialWithItsFirstLineAndNothingIsErased)
{
    PutSerial("SN-042");
    const std::vector<uint8_t> before = Area();
    EXPECT_EQ(Run({"program", m_mot, "--port", "COM1", "--serial-at", "E0000:8", "--pre-check",
                   Hook("refuse SN-042"), "--records", m_db}),
              1);
    EXPECT_NE(m_err.str().find("pre-check refused the panel: serial SN-042 is on hold\n"), std::string::npos)
        << m_err.str();
    EXPECT_EQ(Area(), before);
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0].outcome, "fail");
    EXPECT_TRUE(Rows()[0].eraseResult.empty());

    PutSerial("SN-043");
    EXPECT_EQ(Run({"program", m_mot, "--port", "COM1", "--serial-at", "E0000:8", "--pre-check",
                   Hook("refuse SN-042"), "--records", m_db}),
              0)
        << m_err.str();
}

TEST_F(CliUpgrades, APreCheckPastItsLimitIsKilledAndRefusesThePanel)
{
    const std::vector<uint8_t> before = Area();
    const std::string marker = (m_dir / "marker").string();
    EXPECT_EQ(Run({"program", m_mot, "--port", "COM1", "--pre-check", Hook("linger \"" + marker + "\""),
                   "--hook-timeout", "1", "--no-records"}),
              1);
    EXPECT_NE(m_err.str().find("pre-check refused the panel: no answer within 1 s (killed)"),
              std::string::npos)
        << m_err.str();
    EXPECT_EQ(Area(), before);
}

TEST_F(CliUpgrades, OnResultReceivesTheRecordAsRecordsJsonWritesIt)
{
    const std::string saved = (m_dir / "result.json").string();
    ASSERT_EQ(Run({"program", m_mot, "--port", "COM1", "--on-result", Hook("save \"" + saved + "\""),
                   "--records", m_db}),
              0)
        << m_err.str();
    const std::vector<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(ReadText(saved)), nlohmann::json(AttemptJson(rows[0])));
    EXPECT_EQ(rows[0].outcome, "pass");

    // A failing hook is said and kept with the record; the flash's outcome stands.
    EXPECT_EQ(Run({"program", m_mot, "--port", "COM1", "--on-result", Hook("nonsense"), "--records", m_db}),
              0);
    EXPECT_NE(m_err.str().find("on-result hook failed: exit code 2"), std::string::npos) << m_err.str();
    const std::vector<CAttempt> after = Rows();
    ASSERT_EQ(after.size(), 2u);
    const CAttempt& second = after[0].id == rows[0].id ? after[1] : after[0];
    EXPECT_EQ(second.outcome, "pass");
    EXPECT_NE(second.messages.back().find("on-result hook failed"), std::string::npos);
}

} // namespace
