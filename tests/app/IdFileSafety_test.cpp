// "Load Upgrade File" with an .id name that leads to no ordinary file: read within a
// second or ignored, never a hang, an endless read or a crash.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sys/stat.h>

#include "fixtures/AppFixture.h"
#include "framework/Dialog.h"
#include "res/Resource.h"
#include "shell/image/IDCheckDlg.h"

namespace fs = std::filesystem;

namespace {

class IdFileSafety : public AppFixture
{
protected:
    void SetUp() override
    {
        OpenLink();
        m_app->m_bLinkOk = TRUE;
        m_file = WriteFile("panel.mot", MakeSRecords({{0xF0000, Pattern(0xF0000, 0x100)}}));
    }
    fs::path m_file;
};

TEST_F(IdFileSafety, FifoDeviceOrHugeIdFileIsIgnoredAtOnce)
{
    const fs::path id = m_dir / "panel.id";
    const std::vector<std::function<void()>> makers = {
        [&] { ASSERT_EQ(mkfifo(id.c_str(), 0600), 0); },
        [&] { fs::create_symlink("/dev/urandom", id); },
        [&] { fs::create_symlink("/dev/zero", id); },
        [&] { WriteFile("panel.id", "FFFDF 12\n" + std::string(70 * 1024, '\n')); },
    };
    for (size_t i = 0; i < makers.size(); ++i) {
        SCOPED_TRACE(i);
        fs::remove(id);
        makers[i]();
        m_host.AnswerFileDialog(m_file.string());
        m_host.Expect(IDD_IDCHECK, CDialogScript()
                                       .Press(IDC_LOAD)
                                       .Do([](CDialog& d) { EXPECT_EQ(d.GetDlgItemText(IDC_ID1), ""); })
                                       .Escape());
        const auto start = std::chrono::steady_clock::now();
        CIDCheckDlg dialog;
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    }
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(HostBytes().empty());
}

} // namespace
