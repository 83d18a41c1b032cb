// The fuzzers' seed corpora replayed by the normal test run, so an input that once
// crashed a reader stays a regression test on every machine (no clang needed).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "fixtures/AppFixture.h"
#include "framework/Dialog.h"
#include "link/SaveIni.h"
#include "platform/Paths.h"
#include "platform/ProfileIni.h"
#include "res/Resource.h"
#include "shell/image/IDCheckDlg.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> Corpus(const std::string& name)
{
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(TORVANE_SOURCE_DIR) / "fuzz" / "corpus" / name))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class IdFileCorpus : public AppFixture
{
protected:
    // Loads `upgrade` through the dialog's Load button with `idText` beside it.
    CIDCheckDlg& Load(const std::string& idText, bool topImage)
    {
        const std::string base = topImage ? "top" : "low";
        const auto image = topImage ? MemoryMap{{0xFFFF00, Pattern(0xFFFF00, 16)}}
                                    : MemoryMap{{0xF0000, Pattern(0xF0000, 16)}};
        const auto file = WriteFile(base + ".mot", MakeSRecords(image));
        WriteFile(base + ".id", idText);
        m_host.AnswerFileDialog(file.string());
        m_host.Expect(IDD_IDCHECK, CDialogScript().Press(IDC_LOAD).Escape());
        CIDCheckDlg::s_nChipStyle = 0;
        m_dialog = std::make_unique<CIDCheckDlg>();
        EXPECT_EQ(m_dialog->DoModal(), IDCANCEL);
        return *m_dialog;
    }
    static std::vector<std::string> Texts(const CIDCheckDlg& d)
    {
        return {d.m_strId1, d.m_strId2, d.m_strId3, d.m_strId4, d.m_strId5, d.m_strId6, d.m_strId7};
    }
    std::unique_ptr<CIDCheckDlg> m_dialog;
};

TEST_F(IdFileCorpus, EverySeedLoadsQuietlyWithTwoDigitTexts)
{
    const auto files = Corpus("idfile");
    ASSERT_FALSE(files.empty());
    for (const fs::path& seed : files) {
        const std::string bytes = ReadAll(seed);
        // The fuzzer picks the image by the first byte's low bit: replay both key sets.
        for (bool top : {false, true}) {
            m_host.ClearRecords();
            const CIDCheckDlg& dialog = Load(bytes, top);
            EXPECT_TRUE(Boxes().empty()) << seed.filename();
            for (const std::string& text : Texts(dialog))
                EXPECT_TRUE(text.empty() || text.size() == 2) << seed.filename() << ": " << text;
            EXPECT_TRUE(HostBytes().empty()) << "Load sends nothing";
        }
    }
}

TEST_F(IdFileCorpus, SeedsGiveTheTextsATechnicianWrote)
{
    const fs::path dir = fs::path(TORVANE_SOURCE_DIR) / "fuzz" / "corpus" / "idfile";
    EXPECT_EQ(Texts(Load(ReadAll(dir / "all_seven.id"), false)),
              (std::vector<std::string>{"12", "34", "56", "78", "9A", "BC", "DE"}));
    EXPECT_EQ(Texts(Load(ReadAll(dir / "style1_keys.id"), false)),
              (std::vector<std::string>{"22", "33", "44", "55", "66", "77", "88"}))
        << "a six-digit key marks the M16C/80 map";
    EXPECT_EQ(Texts(Load(ReadAll(dir / "crlf.id"), false))[0], "12");
    EXPECT_EQ(Texts(Load(ReadAll(dir / "no_final_newline.id"), false))[0], "57");
    EXPECT_EQ(Texts(Load(ReadAll(dir / "empty.id"), false)), std::vector<std::string>(7));
}

class IniCorpus : public ::testing::Test
{
protected:
    void SetUp() override { fs::create_directories(platform::ConfigDir()); }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove(platform::SettingsFilePath(), ec);
    }
};

TEST_F(IniCorpus, EverySeedReadsWithoutHarmAndSavesWhole)
{
    const auto files = Corpus("ini");
    ASSERT_FALSE(files.empty());
    for (const fs::path& seed : files) {
        const std::string bytes = ReadAll(seed);
        std::ofstream(platform::SettingsFilePath().Native(), std::ios::binary) << bytes;
        CSaveIni ini;
        if (ini.Load()) {
            EXPECT_NE(ini.m_dwBaudRate, 0u) << seed.filename();
            EXPECT_NE(ini.m_byByteSize, 0u) << seed.filename();
        }
        ini.GetPageReadTimeout(5000);
        for (const char* section : {"Last Comm State", "timeout", "", "["})
            platform::GetPrivateProfileInt(section, "Baundrate", 7, platform::SettingsFilePath());
        EXPECT_EQ(ReadAll(platform::SettingsFilePath()), bytes) << "reading changed " << seed.filename();

        ini.Set(9600, 8, 0, 0);
        EXPECT_TRUE(ini.Save()) << seed.filename();
        CSaveIni reread;
        EXPECT_TRUE(reread.Load()) << seed.filename();
        EXPECT_EQ(reread.m_dwBaudRate, 9600u) << seed.filename();
    }
}

} // namespace
