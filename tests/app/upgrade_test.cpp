// The visible road: "Load Upgrade File", Erase, Program, Exit, and the panel's gates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "app/TorvaneDlg.h"
#include "commands/EraseCmd.h"
#include "commands/ProgramCmd.h"
#include "commands/StatesDlg.h"
#include "fixtures/AppFixture.h"
#include "framework/Dialog.h"
#include "res/Resource.h"
#include "shell/image/IDCheckDlg.h"

namespace {

const std::string kTimeout = "Timeout Error.\nPlease reset Orvex ( toggle power supply ).";

// Data inside the programmed area (two pieces with a hole) and outside it.
MemoryMap UpgradeImage()
{
    return {{0xF0000, Pattern(0xF0000, 0x1234)},
            {0xF8010, Pattern(0xF8010, 0x300, 5)},
            {0xFFF80, Pattern(0xFFF80, 0x80, 9)},
            {0xC0000, Pattern(0xC0000, 0x100, 3)}};
}

// The bytes the area should hold after programming that image.
std::vector<uint8_t> ExpectedArea(const MemoryMap& image)
{
    std::vector<uint8_t> area(0x10000, 0xFF);
    for (const auto& [base, bytes] : image)
        for (size_t i = 0; i < bytes.size(); ++i)
            if (base + i >= 0xF0000 && base + i <= 0xFFFFF) area[base + i - 0xF0000] = bytes[i];
    return area;
}

size_t CountFrames(const std::vector<uint8_t>& bytes, uint8_t code, size_t frameLength)
{
    size_t frames = 0;
    for (size_t i = 0; i < bytes.size();) {
        if (bytes[i] == code && i + frameLength <= bytes.size()) {
            ++frames;
            i += frameLength;
        } else {
            ++i;
        }
    }
    return frames;
}

class Upgrade : public AppFixture
{
protected:
    // Runs the panel with the given presses; returns the buttons' enabled states at the end.
    struct Buttons
    {
        BOOL erase, program, exit;
    };
    Buttons RunPanel(CDialogScript script)
    {
        Buttons state{};
        m_host.Expect(IDD_TORVANE_DIALOG, script
                                              .Do([&](CDialog& d) {
                                                  state = {d.GetDlgItem(IDC_ERASE)->IsWindowEnabled(),
                                                           d.GetDlgItem(IDC_PROGRAM)->IsWindowEnabled(),
                                                           d.GetDlgItem(IDCANCEL)->IsWindowEnabled()};
                                              })
                                              .CloseBox());
        CTorvaneDlg panel;
        m_app->m_pMainWnd = &panel;
        panel.DoModal();
        m_app->m_pMainWnd = nullptr;
        return state;
    }
    std::vector<uint8_t> BytesAfter(size_t mark) const
    {
        const auto all = HostBytes();
        return std::vector<uint8_t>(all.begin() + static_cast<long>(mark), all.end());
    }
};

TEST_F(Upgrade, WholeRoadFromStartToExitProgramsExactlyTheArea)
{
    const MemoryMap image = UpgradeImage();
    const auto file = WriteFile("panel.mot", MakeSRecords(image));
    WriteFile("panel.id", "FFFDF:B6\nFFFE3:B6\n");
    ExpectPortDialogOk();
    m_host.AnswerFileDialog(file.string());
    m_host.Expect(IDD_IDCHECK,
                  CDialogScript()
                      .Press(IDC_LOAD)
                      .Do([&](CDialog& d) { EXPECT_EQ(d.GetDlgItemText(IDC_FILENAME), file.string()); })
                      .Press(IDOK));
    m_host.Expect(IDD_PREWRITE, CDialogScript()
                                    .Do([](CDialog& d) {
                                        EXPECT_EQ(d.GetDlgItemText(IDC_PREWRITE_START), "0F0000");
                                        EXPECT_EQ(d.GetDlgItemText(IDC_PREWRITE_END), "0FFFFF");
                                    })
                                    .Enter());
    m_host.Expect(IDD_TORVANE_DIALOG, CDialogScript().Press(IDC_ERASE).Press(IDC_PROGRAM).Press(IDCANCEL));
    m_app->InitInstance();

    EXPECT_EQ(Boxes(), (std::vector<std::string>{"Erase OK.", "Program OK."}));
    EXPECT_EQ(Device().ReadFlashRange(0xF0000, 0x10000), ExpectedArea(image));
    // Nothing outside the area was written: the page at 0xC0000 stays erased.
    EXPECT_EQ(Device().ReadFlash(0xC0000), 0xFF);
    const auto pages = Device().ProgrammedPages();
    ASSERT_EQ(pages.size(), 256u);
    for (uint32_t i = 0; i < 256; ++i)
        EXPECT_EQ(pages[i], 0xF0000 + i * 256) << i;
    const auto bytes = HostBytes();
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 3, bytes.end()), (std::vector<uint8_t>{0xB0, 0xB0, 0xB0}));
    EXPECT_EQ(m_host.ProgressPositions().front(), 0);
    EXPECT_EQ(m_host.ProgressPositions().back(), 130);
    EXPECT_FALSE(m_app->m_hMutex.IsHeld());
}

TEST_F(Upgrade, PanelRefusesWithoutLinkAndSendsNothing)
{
    OpenLink();
    m_app->m_bLinkOk = FALSE;
    m_app->m_bIdPassed = TRUE;
    const Buttons state = RunPanel(CDialogScript().Press(IDC_ERASE));
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Can not communicate."});
    EXPECT_EQ(m_host.MessageBoxes()[0].type, static_cast<unsigned>(MB_ICONINFORMATION));
    EXPECT_EQ(m_host.MessageBoxes()[0].ownerTemplate, IDD_TORVANE_DIALOG);
    // Only the exit procedure's codes went out.
    EXPECT_EQ(HostBytes(), (std::vector<uint8_t>{0xB0, 0xB0, 0xB0}));
    EXPECT_TRUE(state.erase);
    EXPECT_FALSE(state.program);
}

TEST_F(Upgrade, PanelRefusesWithoutIdAndSendsNothing)
{
    OpenLink();
    m_app->m_bLinkOk = TRUE;
    m_app->m_bIdPassed = FALSE;
    RunPanel(CDialogScript().Press(IDC_ERASE));
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Did not pass ID."});
    EXPECT_EQ(HostBytes(), (std::vector<uint8_t>{0xB0, 0xB0, 0xB0}));
}

TEST_F(Upgrade, SilentProbeRunsTheRecoveryAndNotTheCommand)
{
    ReadyToErase(UpgradeImage());
    Device().SetSilent(true);
    m_host.Expect(IDD_SETCOMM, CDialogScript().Escape());
    const Buttons state = RunPanel(CDialogScript().Press(IDC_ERASE));
    EXPECT_EQ(Boxes().front(), kTimeout);
    const auto bytes = HostBytes();
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0xA7), 0);
    EXPECT_FALSE(m_app->m_bLinkOk);
    EXPECT_TRUE(state.erase);
}

TEST_F(Upgrade, EraseThatAnswersAfter39SecondsSucceeds)
{
    ReadyToErase(UpgradeImage());
    Device().SetEraseTimeMs(39000);
    Device().WriteFlash(0xF1234, 0x00);
    const Buttons state = RunPanel(CDialogScript().Press(IDC_ERASE));
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Erase OK."});
    EXPECT_EQ(Device().ReadFlash(0xF1234), 0xFF);
    EXPECT_FALSE(state.erase);
    EXPECT_TRUE(state.program);
    EXPECT_EQ(m_app->m_link.GetTimeout(), 5000u);
}

TEST_F(Upgrade, EraseSilentPast40SecondsRecoversThenReportsTheError)
{
    ReadyToErase(UpgradeImage());
    Device().SetEraseTimeMs(41000);
    m_host.Expect(IDD_SETCOMM, CDialogScript().Escape());
    CEraseCmd erase;
    EXPECT_EQ(erase.Run(), 0);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{kTimeout, "Erase error."}));
    EXPECT_EQ(m_host.MessageBoxes()[1].type, static_cast<unsigned>(MB_ICONSTOP));
    EXPECT_EQ(m_app->m_link.GetTimeout(), 5000u);
}

TEST_F(Upgrade, EraseStatusBitSetIsAnError)
{
    ReadyToErase(UpgradeImage());
    Device().FailErase(true);
    CEraseCmd erase;
    EXPECT_EQ(erase.Run(), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Erase error."});
}

TEST_F(Upgrade, ProgramFailureAfterTheFirstPageStopsWithAnError)
{
    ReadyToErase(UpgradeImage());
    Device().FailProgramAtPage(0xF0000);
    m_host.Expect(IDD_PREWRITE, CDialogScript().Press(IDOK));
    CProgramCmd program;
    EXPECT_EQ(program.Run(), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Program error."});
    EXPECT_EQ(CountFrames(HostBytes(), 0x41, 259), 1u);
    EXPECT_EQ(m_app->m_link.GetTimeout(), 5000u);
}

TEST_F(Upgrade, StopAfterTheFirstFrameKeepsProgramOffered)
{
    ReadyToErase(UpgradeImage());
    m_host.Expect(IDD_PREWRITE, CDialogScript().Press(IDOK));
    m_host.CloseProgressAtRound(1);
    BOOL panelEnabledAtBox = FALSE;
    CWnd* panelWnd = nullptr;
    m_host.onMessageBox = [&](const MessageBoxRecord&) {
        panelEnabledAtBox = panelWnd && panelWnd->IsWindowEnabled();
    };
    const Buttons state = RunPanel(CDialogScript()
                                       .Do([&](CDialog& d) {
                                           panelWnd = &d;
                                           d.GetDlgItem(IDC_ERASE)->EnableWindow(FALSE);
                                           d.GetDlgItem(IDC_PROGRAM)->EnableWindow(TRUE);
                                       })
                                       .Press(IDC_PROGRAM));
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Stop programming."});
    EXPECT_EQ(m_host.MessageBoxes()[0].type, static_cast<unsigned>(MB_ICONINFORMATION));
    EXPECT_TRUE(panelEnabledAtBox) << "the panel is enabled again before the stop message";
    EXPECT_EQ(CountFrames(HostBytes(), 0x41, 259), 1u);
    EXPECT_TRUE(state.program);
    EXPECT_FALSE(state.exit);
    EXPECT_EQ(m_app->m_link.GetTimeout(), 5000u);
}

TEST_F(Upgrade, DeviceFallingSilentMidLoopNeverReportsSuccess)
{
    ReadyToErase(UpgradeImage());
    m_host.Expect(IDD_PREWRITE, CDialogScript().Press(IDOK));
    // Power lost during the tenth page; the technician brings it back during the recovery.
    Device().PowerCycleAfterBytes(1 + 9 * 262 + 100);
    // The rest of the frame reached a freshly started boot loader as commands; as the box
    // asks, the technician toggles the power, which takes a few seconds.
    m_host.onMessageBox = [this](const MessageBoxRecord& box) {
        if (box.text != kTimeout) return;
        m_clock.Advance(3000);
        Device().PowerCycleNow();
    };
    m_host.Expect(IDD_SETCOMM, CDialogScript().Press(IDOK));
    CProgramCmd program;
    EXPECT_EQ(program.Run(), 0);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{kTimeout, "Program error."}));
}

TEST_F(Upgrade, CancelledAreaDialogSendsNothing)
{
    ReadyToErase(UpgradeImage());
    m_host.Expect(IDD_PREWRITE, CDialogScript().Escape());
    CProgramCmd program;
    EXPECT_EQ(program.Run(), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Stop programming."});
    EXPECT_EQ(m_host.MessageBoxes()[0].type, static_cast<unsigned>(MB_OK));
    EXPECT_TRUE(HostBytes().empty());
}

// Whole, well-formed files that would blank the panel: Erase and Program refuse them
// before any byte, and the old firmware stays.
class NothingForTheArea : public Upgrade, public ::testing::WithParamInterface<MemoryMap>
{
};

TEST_P(NothingForTheArea, IsRefusedBeforeAnyByte)
{
    ReadyToErase(GetParam());
    ASSERT_TRUE(m_app->m_image.IsWhole());
    Device().WriteFlash(0xF1234, 0x00);
    // Program is reached too, as after an erase that an earlier file passed.
    const Buttons state = RunPanel(CDialogScript()
                                       .Press(IDC_ERASE)
                                       .Do([](CDialog& d) { d.GetDlgItem(IDC_PROGRAM)->EnableWindow(TRUE); })
                                       .Press(IDC_PROGRAM));
    EXPECT_EQ(Boxes(), (std::vector<std::string>(2, "Can not accept this file.")));
    for (const auto& box : m_host.MessageBoxes())
        EXPECT_EQ(box.type, static_cast<unsigned>(MB_ICONSTOP));
    EXPECT_EQ(HostBytes(), (std::vector<uint8_t>{0xB0, 0xB0, 0xB0})) << "only the exit's codes";
    EXPECT_EQ(Device().ReadFlash(0xF1234), 0x00);
    EXPECT_TRUE(Device().ProgrammedPages().empty());
    EXPECT_TRUE(state.erase);
    EXPECT_FALSE(state.exit);
}

INSTANTIATE_TEST_SUITE_P(Upgrade, NothingForTheArea,
                         ::testing::Values(MemoryMap{}, MemoryMap{{0xC0000, Pattern(0xC0000, 0x100)}},
                                           MemoryMap{{0xEFF00, Pattern(0xEFF00, 0x100)}}));

TEST_F(Upgrade, QuitDuringProgrammingIsKeptForLater)
{
    ReadyToErase(UpgradeImage());
    m_host.Expect(IDD_PREWRITE, CDialogScript().Press(IDOK));
    m_host.QuitAtRound(3);
    CProgramCmd program;
    EXPECT_EQ(program.Run(), 1);
    EXPECT_TRUE(m_host.QuitPosted());
    EXPECT_EQ(Device().ProgrammedPages().size(), 256u);
}

class LoadUpgradeFile : public AppFixture
{
protected:
    void SetUp() override
    {
        OpenLink();
        m_app->m_bLinkOk = TRUE;
        m_file = WriteFile("panel.mot", MakeSRecords(UpgradeImage()));
    }
    size_t IdFrames() const { return CountFrames(HostBytes(), 0xF5, 12); }
    std::filesystem::path m_file;
};

TEST_F(LoadUpgradeFile, AlreadyVerifiedSendsNoFrame)
{
    Device().SetIdVerified(true);
    m_host.AnswerFileDialog(m_file.string());
    m_host.Expect(IDD_IDCHECK, CDialogScript().Press(IDC_LOAD).Press(IDOK));
    CIDCheckDlg dialog;
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(IdFrames(), 0u);
    EXPECT_TRUE(m_app->m_bIdPassed);
    uint8_t page[256];
    EXPECT_NE(m_app->m_image.GetPage(page, 0xF00), nullptr);
}

TEST_F(LoadUpgradeFile, RejectedIdKeepsTheDialogOpenAndOkResends)
{
    Device().SetId({1, 2, 3, 4, 5, 6, 7});
    m_host.Expect(IDD_IDCHECK, CDialogScript()
                                   .SetText(IDC_FILENAME, m_file.string())
                                   .Press(IDOK)
                                   .Do([this](CDialog&) {
                                       EXPECT_EQ(IdFrames(), 1u);
                                       Device().SetId({0xB6, 0xB6, 0xB6, 0xB6, 0xB6, 0xB6, 0xB6});
                                   })
                                   .Press(IDOK));
    CIDCheckDlg dialog;
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Not match ID."});
    EXPECT_EQ(m_host.MessageBoxes()[0].type, static_cast<unsigned>(MB_ICONEXCLAMATION));
    EXPECT_EQ(IdFrames(), 2u);
    EXPECT_TRUE(m_app->m_bIdPassed);
    // The frame: code, the ID area's address low byte first, seven bytes, the default code.
    const auto bytes = HostBytes();
    const auto at = std::find(bytes.begin(), bytes.end(), 0xF5);
    ASSERT_NE(at, bytes.end());
    EXPECT_EQ(std::vector<uint8_t>(at, at + 12),
              (std::vector<uint8_t>{0xF5, 0xDF, 0xFF, 0x0F, 0x07, 0xB6, 0xB6, 0xB6, 0xB6, 0xB6, 0xB6, 0xB6}));
}

TEST_F(LoadUpgradeFile, NoReplyAfterTheFrameDoesNotPassTheId)
{
    // The device answers the first status request, then loses power before the second.
    Device().PowerCycleAfterBytes(1 + 12);
    Device().SilentAfterBytes(1 + 12);
    m_host.Expect(IDD_SETCOMM, CDialogScript().Escape());
    // The dialog stays open; once the panel answers again, OK checks the ID anew.
    m_host.Expect(IDD_IDCHECK, CDialogScript()
                                   .SetText(IDC_FILENAME, m_file.string())
                                   .Press(IDOK)
                                   .Do([this](CDialog&) {
                                       EXPECT_EQ(Boxes(), std::vector<std::string>{kTimeout});
                                       EXPECT_FALSE(m_app->m_bIdPassed);
                                       Device().SetSilent(false);
                                   })
                                   .Press(IDOK));
    CIDCheckDlg dialog;
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(IdFrames(), 2u);
    EXPECT_TRUE(m_app->m_bIdPassed);
}

TEST_F(LoadUpgradeFile, CapitalExtensionIsRefusedButOkStillChecksTheId)
{
    const auto upper = WriteFile("PANEL.MOT", MakeSRecords(UpgradeImage()));
    m_host.AnswerFileDialog(upper.string());
    m_host.Expect(IDD_IDCHECK, CDialogScript().Press(IDC_LOAD).Press(IDOK));
    CIDCheckDlg dialog;
    dialog.DoModal();
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Can not accept this file."});
    EXPECT_EQ(m_host.MessageBoxes()[0].type, static_cast<unsigned>(MB_ICONSTOP));
    EXPECT_EQ(IdFrames(), 1u);
    EXPECT_TRUE(m_app->m_bIdPassed);
}

TEST_F(LoadUpgradeFile, IdFileBesideABootProgramIsRead)
{
    const auto btp = WriteFile("boot.btp", MakeSRecords(UpgradeImage()));
    WriteFile("boot.id", "FFFDF 12\nFFFE3 34\nFFFFB=AB\nXFFEB 99\nFFFDF 56\n");
    m_host.AnswerFileDialog(btp.string());
    m_host.Expect(IDD_IDCHECK, CDialogScript()
                                   .Press(IDC_LOAD)
                                   .Do([](CDialog& d) {
                                       EXPECT_EQ(d.GetDlgItemText(IDC_ID1), "56"); // the later line stands
                                       EXPECT_EQ(d.GetDlgItemText(IDC_ID2), "34");
                                       EXPECT_EQ(d.GetDlgItemText(IDC_ID3), "");
                                       EXPECT_EQ(d.GetDlgItemText(IDC_ID7), "AB");
                                   })
                                   .Escape());
    CIDCheckDlg dialog;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(HostBytes().empty());
}

TEST_F(LoadUpgradeFile, MissingIdFileIsSilentAndTheDefaultCodeIsSent)
{
    Device().SetIdVerified(false);
    m_host.AnswerFileDialog(m_file.string());
    m_host.Expect(IDD_IDCHECK, CDialogScript().Press(IDC_LOAD).Press(IDOK));
    CIDCheckDlg dialog;
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(m_app->m_bIdPassed);
}

TEST_F(LoadUpgradeFile, AFileReplacedDuringTheIdCheckIsNotWhatIsKept)
{
    Device().SetIdVerified(false);
    m_host.AnswerFileDialog(m_file.string());
    m_host.Expect(IDD_IDCHECK, CDialogScript().Press(IDC_LOAD).Press(IDOK));
    // The file is swapped at the first wait of the OK's exchange with the panel.
    const std::string other = MakeSRecords({{0xF0000, std::vector<uint8_t>(256, 0x5A)}});
    bool swapped = false;
    m_app->m_link.SetWaitHook([&] {
        if (!swapped) WriteFile("panel.mot", other);
        swapped = true;
    });
    CIDCheckDlg dialog;
    EXPECT_EQ(dialog.DoModal(), IDOK);
    ASSERT_TRUE(swapped);
    uint8_t page[256];
    ASSERT_NE(m_app->m_image.GetPage(page, 0xF00), nullptr);
    EXPECT_NE(page[0], 0x5A);
}

TEST_F(LoadUpgradeFile, ImageReachingTheTopPageSelectsTheM16C80Keys)
{
    const auto top = WriteFile("top.mot", MakeSRecords({{0xFFFF00, Pattern(0xFFFF00, 16)}}));
    WriteFile("top.id", "FFFDF 11\nFFFFDF 22\n");
    m_host.AnswerFileDialog(top.string());
    m_host.Expect(IDD_IDCHECK, CDialogScript()
                                   .Press(IDC_LOAD)
                                   .Do([](CDialog& d) {
                                       EXPECT_EQ(d.GetDlgItemText(IDC_ID1), "22");
                                       EXPECT_EQ(d.GetDlgItem(IDC_CHIP_80)->GetCheck(), 1);
                                   })
                                   .Press(IDOK));
    CIDCheckDlg dialog;
    dialog.DoModal();
    EXPECT_EQ(CIDCheckDlg::s_nChipStyle, 0); // OK puts the M16C/20-62 map back in force
    const auto bytes = HostBytes();
    const auto at = std::find(bytes.begin(), bytes.end(), 0xF5);
    ASSERT_NE(at, bytes.end());
    EXPECT_EQ(at[3], 0x0F);
}

TEST_F(LoadUpgradeFile, TypedPathThatDoesNotExistIsReportedAndTheDialogStays)
{
    const std::string missing = (m_dir / "nothere.mot").string();
    m_host.Expect(IDD_IDCHECK, CDialogScript().SetText(IDC_FILENAME, missing).Press(IDOK).Escape());
    CIDCheckDlg dialog;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(Boxes(), std::vector<std::string>{missing + " was not found."});
    EXPECT_EQ(m_host.WaitCursorDepth(), 0);
}

TEST_F(LoadUpgradeFile, OkWithoutPathAsksForIt)
{
    m_host.Expect(IDD_IDCHECK, CDialogScript().Press(IDOK).Escape());
    CIDCheckDlg dialog;
    dialog.DoModal();
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Did not input filename."});
    EXPECT_TRUE(HostBytes().empty());
}

TEST(StatusDialog, DecodesEveryField)
{
    CStatesDlg dialog;
    dialog.SetStatus(0x80, 0x0C);
    EXPECT_EQ(dialog.m_strReady, "Ready");
    EXPECT_EQ(dialog.m_strErase, "Right");
    EXPECT_EQ(dialog.m_strProgram, "Right");
    EXPECT_EQ(dialog.m_strAfterBlock, "Right");
    EXPECT_EQ(dialog.m_strIdCheck, "Match");
    EXPECT_EQ(dialog.m_strCheckSum, "Not match");
    EXPECT_EQ(dialog.m_strReceiveTimeout, "Right");
    EXPECT_EQ(dialog.m_strOverNumber, "Right");

    dialog.SetStatus(0x00, 0x00);
    EXPECT_EQ(dialog.m_strReady, "Busy");
    EXPECT_EQ(dialog.m_strIdCheck, "Not yet");

    dialog.SetStatus(0xB8, 0x1B);
    EXPECT_EQ(dialog.m_strReady, "Ready");
    EXPECT_EQ(dialog.m_strErase, "Error");
    EXPECT_EQ(dialog.m_strProgram, "Error");
    EXPECT_EQ(dialog.m_strAfterBlock, "Error");
    EXPECT_EQ(dialog.m_strCheckSum, "Match");
    EXPECT_EQ(dialog.m_strIdCheck, "");
    EXPECT_EQ(dialog.m_strReceiveTimeout, "Timeout");
    EXPECT_EQ(dialog.m_strOverNumber, "Over");
}

} // namespace

namespace {

TEST_F(LoadUpgradeFile, AnIntelHexFileUnderAnSRecordNameIsReadByItsContent)
{
    const auto hex = WriteFile("intel.mot", ":02000002F0000C\n"
                                            ":1000100001080F161D242B323940474E555C636A88\n"
                                            ":00000001FF\n");
    m_host.AnswerFileDialog(hex.string());
    m_host.Expect(IDD_IDCHECK, CDialogScript().Press(IDC_LOAD).Escape());
    CIDCheckDlg dialog;
    dialog.DoModal();
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(m_app->m_image.IsWhole());
    uint8_t page[256];
    ASSERT_NE(m_app->m_image.GetPage(page, 0xF00), nullptr);
    EXPECT_EQ(page[0x11], 0x08);
}

TEST_F(LoadUpgradeFile, WithTrustedKeysBesideTheSettingsOnlyASignedFileIsLoaded)
{
    if (std::system("command -v openssl >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl is not installed";
    const std::filesystem::path keys = SettingsFile().parent_path() / "trusted-keys";
    std::filesystem::create_directories(keys);
    const std::string key = (m_dir / "release-key.pem").string(), file = m_file.string();
    ASSERT_EQ(std::system(("openssl ecparam -name prime256v1 -genkey -noout -out '" + key +
                           "' && openssl pkey -in '" + key + "' -pubout -out '" +
                           (keys / "release.pub.pem").string() + "' && openssl dgst -sha256 -sign '" + key +
                           "' -out '" + file + ".sig' '" + file + "'")
                              .c_str()),
              0);
    m_host.AnswerFileDialog(file);
    m_host.Expect(IDD_IDCHECK, CDialogScript().Press(IDC_LOAD).Escape());
    CIDCheckDlg signedLoad;
    signedLoad.DoModal();
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(m_app->m_image.IsWhole());

    // A sound file of other content under the signed name: the reader's own box, nothing loaded.
    WriteFile("panel.mot", MakeSRecords({{0xF0000, std::vector<uint8_t>(256, 0x5A)}}));
    m_host.AnswerFileDialog(file);
    m_host.Expect(IDD_IDCHECK, CDialogScript().Press(IDC_LOAD).Escape());
    CIDCheckDlg tamperedLoad;
    tamperedLoad.DoModal();
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Can not accept this file."});
    EXPECT_FALSE(m_app->m_image.IsWhole());
}

} // namespace
