// A damaged upgrade file, or none, never costs the panel its firmware.
#include <gtest/gtest.h>

#include "app/TorvaneDlg.h"
#include "commands/DownloadCmd.h"
#include "commands/ProgramCmd.h"
#include "fixtures/AppFixture.h"
#include "framework/Dialog.h"
#include "res/Resource.h"
#include "shell/image/IDCheckDlg.h"
#include "shell/image/SelectDlg.h"

namespace {

const std::string kRefusal = "Can not accept this file.";

class DamagedFile : public AppFixture
{
protected:
    void SetUp() override
    {
        // The panel holds its old firmware and has passed the ID check; no file is loaded
        // yet, as after a start-up whose "Load Upgrade File" was closed.
        Device().SetIdVerified(true);
        OpenLink();
        m_app->m_bLinkOk = TRUE;
        m_app->m_bIdPassed = TRUE;
        for (uint32_t a = 0xF0000; a < 0x100000; a += 0x111)
            Device().WriteFlash(a, static_cast<uint8_t>(a >> 4));
        m_oldFirmware = Device().ReadFlashRange(0xF0000, 0x10000);
        m_good = MakeSRecords({{0xF0000, Pattern(0xF0000, 0x800)}});
    }

    // Every flash-writing handler of the panel, then the close box; the buttons' states
    // as the handlers left them.
    std::pair<BOOL, BOOL> PressEveryWritingButton()
    {
        std::pair<BOOL, BOOL> state{};
        m_host.Expect(IDD_TORVANE_DIALOG, CDialogScript()
                                              .Do([&](CDialog& d) {
                                                  auto& panel = static_cast<CTorvaneDlg&>(d);
                                                  panel.OnErase();
                                                  panel.OnProgram();
                                                  panel.OnEpr();
                                                  panel.OnBpr();
                                                  panel.OnDownload();
                                                  state = {d.GetDlgItem(IDC_ERASE)->IsWindowEnabled(),
                                                           d.GetDlgItem(IDC_PROGRAM)->IsWindowEnabled()};
                                              })
                                              .CloseBox());
        CTorvaneDlg panel;
        m_app->m_pMainWnd = &panel;
        panel.DoModal();
        m_app->m_pMainWnd = nullptr;
        return state;
    }

    std::vector<uint8_t> m_oldFirmware;
    std::string m_good;
};

TEST_F(DamagedFile, refused_or_missing_file_sends_nothing_and_keeps_the_old_firmware)
{
    const size_t firstData = m_good.find("\nS2") + 1;
    std::string flipped = m_good;
    flipped[firstData + 12] = flipped[firstData + 12] == '0' ? '1' : '0';
    std::string wrongCount = m_good;
    wrongCount[firstData + 3] = static_cast<char>(wrongCount[firstData + 3] + 1);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"bom", "\xEF\xBB\xBF" + m_good},
        {"truncated", m_good.substr(0, m_good.size() / 2)},
        {"flipped digit", flipped},
        {"wrong count", wrongCount},
    };
    for (const auto& [name, content] : files) {
        SCOPED_TRACE(name);
        m_host.ClearRecords();
        const auto path = WriteFile("damaged.mot", content).string();
        const size_t mark = HostBytes().size();
        // OK keeps "Load Upgrade File" open with nothing sent; the technician cancels.
        m_host.Expect(IDD_IDCHECK, CDialogScript().SetText(IDC_FILENAME, path).Press(IDOK).Escape());
        CIDCheckDlg load;
        EXPECT_EQ(load.DoModal(), IDCANCEL);
        EXPECT_EQ(HostBytes().size(), mark) << "the refused file reached the panel";

        const auto [erase, program] = PressEveryWritingButton();
        EXPECT_EQ(Boxes(), std::vector<std::string>(6, kRefusal));
        EXPECT_EQ(m_host.MessageBoxes()[0].type, static_cast<unsigned>(MB_OK));
        EXPECT_EQ(m_host.MessageBoxes()[1].type, static_cast<unsigned>(MB_ICONSTOP));
        EXPECT_TRUE(erase);
        EXPECT_FALSE(program);
        // Only the exit's return to 9600 bit/s went out.
        const auto bytes = HostBytes();
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + static_cast<long>(mark), bytes.end()),
                  (std::vector<uint8_t>{0xB0, 0xB0, 0xB0}));
        EXPECT_EQ(Device().ReadFlashRange(0xF0000, 0x10000), m_oldFirmware);
    }
}

TEST_F(DamagedFile, no_file_loaded_says_so_and_sends_nothing)
{
    PressEveryWritingButton();
    EXPECT_EQ(Boxes(), std::vector<std::string>(5, "Did not input filename."));
    EXPECT_EQ(m_host.MessageBoxes()[0].type, static_cast<unsigned>(MB_ICONEXCLAMATION));
    EXPECT_EQ(HostBytes(), (std::vector<uint8_t>{0xB0, 0xB0, 0xB0}));
    EXPECT_EQ(Device().ReadFlashRange(0xF0000, 0x10000), m_oldFirmware);
}

TEST_F(DamagedFile, good_file_still_programs_exactly_what_it_holds)
{
    const auto path = WriteFile("panel.mot", m_good).string();
    m_host.Expect(IDD_IDCHECK, CDialogScript().SetText(IDC_FILENAME, path).Press(IDOK));
    CIDCheckDlg load;
    EXPECT_EQ(load.DoModal(), IDOK);
    m_host.Expect(IDD_PREWRITE, CDialogScript().Press(IDOK));
    m_host.Expect(IDD_TORVANE_DIALOG, CDialogScript().Press(IDC_ERASE).Press(IDC_PROGRAM).CloseBox());
    CTorvaneDlg panel;
    m_app->m_pMainWnd = &panel;
    panel.DoModal();
    m_app->m_pMainWnd = nullptr;
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"Erase OK.", "Program OK."}));
    std::vector<uint8_t> expected(0x10000, 0xFF);
    const auto pattern = Pattern(0xF0000, 0x800);
    std::copy(pattern.begin(), pattern.end(), expected.begin());
    EXPECT_EQ(Device().ReadFlashRange(0xF0000, 0x10000), expected);
}

TEST_F(DamagedFile, refused_file_keeps_the_file_selection_open)
{
    const auto path = WriteFile("damaged.mot", m_good.substr(0, m_good.size() / 2)).string();
    m_app->m_bIdPassed = FALSE;
    m_host.Expect(IDD_SELECT, CDialogScript().SetText(IDC_FILENAME, path).Press(IDOK).Escape());
    CSelectDlg select;
    EXPECT_EQ(select.DoModal(), IDCANCEL);
    EXPECT_FALSE(m_app->m_bIdPassed);
}

TEST_F(DamagedFile, quit_request_while_the_area_dialog_is_open_sends_no_page)
{
    LoadImage({{0xF0000, Pattern(0xF0000, 0x100)}});
    const size_t mark = HostBytes().size();
    // The modal loop of a quitting application ends without EndDialog: -1.
    m_host.Expect(IDD_PREWRITE, CDialogScript().Do([](CDialog& d) { d.EndDialog(-1); }));
    CProgramCmd program;
    EXPECT_EQ(program.Run(), 0);
    EXPECT_EQ(HostBytes().size(), mark);
    EXPECT_EQ(Device().ReadFlashRange(0xF0000, 0x10000), m_oldFirmware);
}

TEST_F(DamagedFile, download_and_address_dialog_refuse_what_does_not_fit)
{
    LoadImage({{0xC0000, Pattern(0xC0000, 0x100)}});
    const size_t mark = HostBytes().size();
    // 0x10100 bytes: the 16-bit size field would wrap and the rest arrive as commands.
    m_host.Expect(
        IDD_SETADDRESS,
        CDialogScript().SetText(IDC_START_ADDRESS, "0C0000").SetText(IDC_END_ADDRESS, "0D00FF").Press(IDOK));
    CDownloadCmd download;
    EXPECT_EQ(download.Run(), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Stop downloading."});

    // Above FFFFFF (also where 32 bits would wrap to 0) OK keeps "Input Address" open.
    m_host.ClearRecords();
    m_host.Expect(IDD_SETADDRESS, CDialogScript()
                                      .SetText(IDC_END_ADDRESS, "1000000")
                                      .Press(IDOK)
                                      .SetText(IDC_END_ADDRESS, "100000000")
                                      .Press(IDOK)
                                      .Escape());
    CDownloadCmd again;
    EXPECT_EQ(again.Run(), 0);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(HostBytes().size(), mark);

    // A write that fails (the adapter pulled out) is an error, never "Download Completed.".
    m_host.ClearRecords();
    m_host.Expect(
        IDD_SETADDRESS,
        CDialogScript().SetText(IDC_START_ADDRESS, "0C0000").SetText(IDC_END_ADDRESS, "0C03FF").Press(IDOK));
    m_host.Expect(IDD_DOWNLOAD, CDialogScript().Do([this](CDialog&) { m_app->m_link.Close(); }).Press(IDOK));
    CDownloadCmd failing;
    EXPECT_EQ(failing.Run(), 0);
    ASSERT_EQ(m_host.MessageBoxes().size(), 1u);
    EXPECT_NE(Boxes()[0], "Download Completed.");
    EXPECT_EQ(m_host.MessageBoxes()[0].type, static_cast<unsigned>(MB_ICONSTOP));
}

} // namespace
