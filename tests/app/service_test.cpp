// The service commands behind the panel's hidden buttons.
#include <gtest/gtest.h>

#include "commands/BPRCmd.h"
#include "commands/BlankCmd.h"
#include "commands/DownloadCmd.h"
#include "commands/EPRCmd.h"
#include "commands/ReadCmd.h"
#include "commands/SetAddressDlg.h"
#include "commands/StatesCmd.h"
#include "commands/VersionCmd.h"
#include "fixtures/AppFixture.h"
#include "framework/Dialog.h"
#include "res/Resource.h"
#include "shell/image/SelectDlg.h"
#include "shell/link/SetCommDlg.h"

namespace {

const std::string kTimeout = "Timeout Error.\nPlease reset Orvex ( toggle power supply ).";

class Service : public AppFixture
{
protected:
    void SetUp() override
    {
        g_strLastStart = "0C0000";
        g_strLastEnd = "0FFFFF";
    }
    CDialogScript Range(const std::string& start, const std::string& end)
    {
        return CDialogScript().SetText(IDC_START_ADDRESS, start).SetText(IDC_END_ADDRESS, end).Press(IDOK);
    }
    size_t Count(uint8_t code) const
    {
        const auto bytes = HostBytes();
        return static_cast<size_t>(std::count(bytes.begin(), bytes.end(), code));
    }
    // Programs the device's flash directly with the image's bytes.
    void Flash(const MemoryMap& image)
    {
        for (const auto& [base, bytes] : image)
            for (size_t i = 0; i < bytes.size(); ++i)
                Device().WriteFlash(base + static_cast<uint32_t>(i), bytes[i]);
    }
};

TEST_F(Service, AddressRangeIsAlignedToPages)
{
    ReadyToErase({});
    m_host.Expect(IDD_SETADDRESS, Range("0c0010", "0C0120"));
    CBlankCmd probe;
    uint32_t start = 0, end = 0;
    struct Access : CBlankCmd
    {
        using CCheckMemorryCmd::AskAddressRange;
    } access;
    EXPECT_TRUE(access.AskAddressRange(start, end));
    EXPECT_EQ(start, 0xC0000u);
    EXPECT_EQ(end, 0xC01FFu);
    EXPECT_EQ(g_strLastStart, "0c0010");
}

TEST_F(Service, RangeDialogOffersTheImageRangeOrTheRememberedTexts)
{
    ReadyToErase({{0xC0000, Pattern(0xC0000, 0x200)}, {0xFFF00, Pattern(0xFFF00, 0x100)}});
    m_host.Expect(IDD_SETADDRESS, CDialogScript()
                                      .Do([](CDialog& d) {
                                          EXPECT_EQ(d.GetDlgItemText(IDC_START_ADDRESS), "0C0000");
                                          EXPECT_EQ(d.GetDlgItemText(IDC_END_ADDRESS), "0FFFFF");
                                      })
                                      .Escape());
    CBlankCmd blank;
    EXPECT_EQ(blank.Run(), 0);

    LoadImage({});
    g_strLastStart = "0D0000";
    m_host.Expect(IDD_SETADDRESS,
                  CDialogScript()
                      .Do([](CDialog& d) { EXPECT_EQ(d.GetDlgItemText(IDC_START_ADDRESS), "0D0000"); })
                      .Escape());
    EXPECT_EQ(blank.Run(), 0);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(HostBytes().empty());
}

TEST_F(Service, BlankCheckNamesTheFirstByteThatIsNotErased)
{
    ReadyToErase({});
    Device().WriteFlash(0xC0123, 0x7F);
    Device().WriteFlash(0xC0200, 0x00);
    m_host.Expect(IDD_SETADDRESS, Range("0C0000", "0C0FFF"));
    CBlankCmd blank;
    EXPECT_EQ(blank.Run(), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Find not blank at address\r0C0123"});
    EXPECT_EQ(m_host.MessageBoxes()[0].type, static_cast<unsigned>(MB_OK));
}

TEST_F(Service, BlankCheckOfOnePageHasAZeroLengthBarAndEndsSilently)
{
    ReadyToErase({});
    m_host.Expect(IDD_SETADDRESS, Range("C0010", "C0020"));
    CBlankCmd blank;
    EXPECT_EQ(blank.Run(), 0);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(Count(0xFF), 1u); // one page-read frame
    ASSERT_FALSE(m_host.ProgressPositions().empty());
    for (int position : m_host.ProgressPositions())
        EXPECT_EQ(position, 0);
}

TEST_F(Service, StartAboveEndIsRefusedWithAWarning)
{
    ReadyToErase({});
    m_host.Expect(IDD_SETADDRESS, Range("0FFFFF", "0C0000"));
    CBlankCmd blank;
    blank.Run();
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Too small start address."});
    EXPECT_EQ(m_host.MessageBoxes()[0].type, static_cast<unsigned>(MB_ICONWARNING));
    EXPECT_TRUE(HostBytes().empty());
}

TEST_F(Service, CancelInTheProgressWindowEndsTheCheckSilently)
{
    ReadyToErase({});
    m_host.Expect(IDD_SETADDRESS, Range("0C0000", "0FFFFF"));
    m_host.CloseProgressAtRound(2);
    CBlankCmd blank;
    blank.Run();
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(Count(0xFF), 2u);
}

TEST_F(Service, ReadBackNamesTheFirstDifferenceAndNeverAnErasedImageByte)
{
    const MemoryMap image{{0xC0000, Pattern(0xC0000, 0x300)}};
    ReadyToErase(image);
    Flash(image);
    Device().WriteFlash(0xC0280, 0x00); // differs from the image
    Device().WriteFlash(0xC0400, 0x00); // the image holds nothing there
    m_host.Expect(IDD_SETADDRESS, Range("0C0000", "0C04FF"));
    CReadCmd read;
    EXPECT_EQ(read.Run(), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Find not match at address\r0C0280"});
}

TEST_F(Service, ReadBackOfAMatchingFlashEndsSilently)
{
    const MemoryMap image{{0xC0000, Pattern(0xC0000, 0x300)}};
    ReadyToErase(image);
    Flash(image);
    Device().WriteFlash(0xC0400, 0x12);
    m_host.Expect(IDD_SETADDRESS, Range("0C0000", "0C04FF"));
    CReadCmd read;
    read.Run();
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(Service, PageReadWaitsAsLongAsTheSettingsFileSaysAndRestoresTheTimeout)
{
    ReadyToErase({});
    WriteSettings("[timeout]\npageread=2000\n");
    Device().SetReplyDelayMs(1500);
    m_host.Expect(IDD_SETADDRESS, Range("0C0000", "0C00FF"));
    m_app->m_link.SetTimeout(1000);
    CBlankCmd blank;
    blank.Run();
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(m_app->m_link.GetTimeout(), 1000u);

    WriteSettings("");
    Device().SetReplyDelayMs(1500);
    m_host.Expect(IDD_SETADDRESS, Range("0C0000", "0C00FF"));
    m_host.Expect(IDD_SETCOMM, CDialogScript().Escape());
    blank.Run();
    EXPECT_EQ(Boxes(), std::vector<std::string>{kTimeout});
    EXPECT_EQ(m_app->m_link.GetTimeout(), 1000u);
}

TEST_F(Service, BlankProgramReadOnANonBlankRangeProgramsNothing)
{
    ReadyToErase({{0xC0000, Pattern(0xC0000, 0x200)}});
    Device().WriteFlash(0xC0105, 0x00);
    m_host.Expect(IDD_SETADDRESS, Range("0C0000", "0C01FF"));
    CBPRCmd bpr;
    EXPECT_EQ(bpr.Run(), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Find not blank at address\r0C0105"});
    EXPECT_TRUE(Device().ProgrammedPages().empty());
}

TEST_F(Service, BlankProgramReadProgramsAndVerifiesEveryByte)
{
    const MemoryMap image{{0xC0010, Pattern(0xC0010, 0x180)}};
    ReadyToErase(image);
    m_host.Expect(IDD_SETADDRESS, CDialogScript().Press(IDOK));
    m_host.Expect(IDD_PREWRITE, CDialogScript()
                                    .Do([](CDialog& d) {
                                        EXPECT_EQ(d.GetDlgItemText(IDC_PREWRITE_START), "0C0000");
                                        EXPECT_EQ(d.GetDlgItemText(IDC_PREWRITE_END), "0C01FF");
                                    })
                                    .Press(IDOK));
    CBPRCmd bpr;
    EXPECT_EQ(bpr.Run(), 1);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Program OK."});
    EXPECT_EQ(Device().ProgrammedPages(), (std::vector<uint32_t>{0xC0000, 0xC0100}));
    EXPECT_EQ(Device().ReadFlashRange(0xC0010, 0x180), image.at(0xC0010));
    EXPECT_EQ(m_app->m_link.GetTimeout(), 5000u);
}

TEST_F(Service, BlankProgramReadWithAFailedPageNeverSaysOk)
{
    ReadyToErase({{0xC0000, std::vector<uint8_t>(0x200, 0xFF)}});
    Device().FailProgramAtPage(0xC0100);
    m_host.Expect(IDD_SETADDRESS, CDialogScript().Press(IDOK));
    m_host.Expect(IDD_PREWRITE, CDialogScript().Press(IDOK));
    CBPRCmd bpr;
    EXPECT_EQ(bpr.Run(), 0);
    // The image is all 0xFF, so the read-back finds no difference: the page decides.
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Program error."});
}

TEST_F(Service, EraseProgramReadWithAnEmptyImageFillsTheDefaultRange)
{
    ReadyToErase({});
    Device().WriteFlash(0xD0000, 0x00);
    CEPRCmd epr;
    EXPECT_EQ(epr.Run(), 1);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Program OK."});
    const auto pages = Device().ProgrammedPages();
    ASSERT_EQ(pages.size(), 0x400u);
    EXPECT_EQ(pages.front(), 0xC0000u);
    EXPECT_EQ(pages.back(), 0xFFF00u);
    EXPECT_EQ(Device().ReadFlash(0xD0000), 0xFF);
    EXPECT_EQ(m_host.ProgressPositions().back(), static_cast<int>((0xFFFFF - 0xC0000 - 256) / 500));
}

TEST_F(Service, EraseProgramReadStopsAtAFailedPage)
{
    ReadyToErase({{0xC0000, Pattern(0xC0000, 0x400)}});
    Device().FailProgramAtPage(0xC0200);
    CEPRCmd epr;
    EXPECT_EQ(epr.Run(), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Program error."});
    EXPECT_EQ(m_host.MessageBoxes()[0].type, static_cast<unsigned>(MB_ICONSTOP));
    EXPECT_EQ(Device().ProgrammedPages(), (std::vector<uint32_t>{0xC0000, 0xC0100}));
    EXPECT_EQ(Device().ReadFlash(0xC0300), 0xFF); // no frame after the failed page
    EXPECT_EQ(m_app->m_link.GetTimeout(), 5000u);
}

TEST_F(Service, EraseProgramReadWithAFailedEraseProgramsNothing)
{
    ReadyToErase({{0xC0000, Pattern(0xC0000, 0x100)}});
    Device().FailErase(true);
    CEPRCmd epr;
    EXPECT_EQ(epr.Run(), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Erase error."});
    EXPECT_TRUE(Device().ProgrammedPages().empty());
    EXPECT_EQ(m_app->m_link.GetTimeout(), 5000u);
}

TEST_F(Service, StopDuringTheSequenceProgrammingGivesNoVerdict)
{
    ReadyToErase({{0xC0000, Pattern(0xC0000, 0x1000)}});
    m_host.CloseProgressAtRound(2);
    CEPRCmd epr;
    EXPECT_EQ(epr.Run(), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Stop programming."});
    EXPECT_EQ(m_app->m_link.GetTimeout(), 5000u);
}

TEST_F(Service, DownloadSendsTheHeaderAndThePagesBackToBack)
{
    MemoryMap image{{0xC0000, Pattern(0xC0000, 0x100)}, {0xC0200, Pattern(0xC0200, 0x200, 1)}};
    ReadyToErase(image);
    m_host.Expect(IDD_SETADDRESS, Range("0C0000", "0C03FF"));
    m_host.Expect(IDD_DOWNLOAD, CDialogScript().Press(IDOK));
    CDownloadCmd download;
    EXPECT_EQ(download.Run(), 1);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Download Completed."});

    std::vector<uint8_t> program(0x400, 0x00); // absent pages travel as zeros
    for (const auto& [base, bytes] : image)
        std::copy(bytes.begin(), bytes.end(), program.begin() + (base - 0xC0000));
    uint8_t sum = 0;
    for (uint8_t b : program)
        sum = static_cast<uint8_t>(sum + b);
    const auto sent = HostBytes();
    ASSERT_EQ(sent.size(), 1028u);
    EXPECT_EQ(std::vector<uint8_t>(sent.begin(), sent.begin() + 4),
              (std::vector<uint8_t>{0xFA, 0x00, 0x04, sum}));
    EXPECT_EQ(std::vector<uint8_t>(sent.begin() + 4, sent.end()), program);
    EXPECT_EQ(Device().DownloadedProgram(), program);
}

TEST_F(Service, DownloadOf256PagesCarriesSizeZero)
{
    ReadyToErase({});
    m_host.Expect(IDD_SETADDRESS, Range("0C0000", "0CFFFF"));
    m_host.Expect(IDD_DOWNLOAD, CDialogScript().Press(IDOK));
    g_dwPagePause = 5;
    CDownloadCmd download;
    download.Run();
    const auto sent = HostBytes();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[1], 0x00);
    EXPECT_EQ(sent[2], 0x00);
    EXPECT_EQ(sent.size(), 4u + 0x10000u);
}

TEST_F(Service, DownloadNotConfirmedSendsNothing)
{
    ReadyToErase({});
    m_host.Expect(IDD_SETADDRESS, Range("0C0000", "0CFFFF"));
    m_host.Expect(IDD_DOWNLOAD, CDialogScript().Press(IDCANCEL));
    CDownloadCmd download;
    EXPECT_EQ(download.Run(), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Stop downloading."});
    EXPECT_EQ(m_host.MessageBoxes()[0].type, static_cast<unsigned>(MB_OK));
    EXPECT_TRUE(HostBytes().empty());
}

TEST_F(Service, VersionShowsTheTextUpToTheFirstZero)
{
    ReadyToErase({});
    std::string shown;
    auto capture = [&](CDialog& d) { shown = d.GetDlgItemText(IDC_VERSION_TEXT); };
    Device().SetVersion("VER.2.10");
    m_host.Expect(IDD_VERSION, CDialogScript().Do(capture).Press(IDOK));
    CVersionCmd version;
    EXPECT_EQ(version.Run(), 1);
    EXPECT_EQ(shown, "VER.2.10");

    Device().SetVersion(std::string("ABC\0DEFG", 8));
    m_host.Expect(IDD_VERSION, CDialogScript().Do(capture).Press(IDOK));
    version.Run();
    EXPECT_EQ(shown, "ABC");

    Device().SetSilent(true);
    m_host.Expect(IDD_VERSION, CDialogScript().Do(capture).Press(IDOK));
    EXPECT_EQ(version.Run(), 1);
    EXPECT_EQ(shown, "ERROR");
    EXPECT_TRUE(Boxes().empty()); // no recovery for the version query
}

TEST_F(Service, StatusCommandShowsTheDecodedRegisterOrRecovers)
{
    ReadyToErase({});
    m_host.Expect(IDD_STATES, CDialogScript()
                                  .Do([](CDialog& d) {
                                      EXPECT_EQ(d.GetDlgItemText(IDC_ST_READY), "Ready");
                                      EXPECT_EQ(d.GetDlgItemText(IDC_ST_IDCHECK), "Match");
                                  })
                                  .Press(IDOK));
    CStatesCmd states;
    EXPECT_EQ(states.Run(), 1);
    Device().SetSilent(true);
    m_host.Expect(IDD_SETCOMM, CDialogScript().Escape());
    EXPECT_EQ(states.Run(), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{kTimeout});
}

TEST_F(Service, FileSelectionRefusesABootProgramAndOkPassesTheIdWithoutTalking)
{
    OpenLink();
    const auto btp = WriteFile("boot.btp", MakeSRecords({{0xC0000, Pattern(0xC0000, 16)}}));
    const auto mot = WriteFile("main.mot", MakeSRecords({{0xD0000, Pattern(0xD0000, 16)}}));
    m_host.AnswerFileDialog(btp.string());
    m_host.Expect(IDD_SELECT, CDialogScript()
                                  .Press(IDC_LOAD)
                                  .Do([this](CDialog& d) {
                                      EXPECT_EQ(d.GetDlgItemText(IDC_FILENAME), "");
                                      uint8_t page[256];
                                      EXPECT_NE(m_app->m_image.GetPage(page, 0xC00), nullptr);
                                  })
                                  .SetText(IDC_FILENAME, mot.string())
                                  .Press(IDOK));
    CSelectDlg dialog;
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Can not accept this file."});
    EXPECT_TRUE(m_app->m_bIdPassed);
    EXPECT_TRUE(HostBytes().empty());
    uint8_t page[256];
    EXPECT_NE(m_app->m_image.GetPage(page, 0xD00), nullptr);
}

TEST(SetCommDialog, ReportsThePagePauseItWasBuiltWith)
{
    g_dwPagePause = 25;
    uint32_t pause = 0;
    EXPECT_TRUE(CSetCommDlg().GetPagePause(pause));
    EXPECT_EQ(pause, 25u);
    g_dwPagePause = 40;
    EXPECT_EQ(ParseUnsignedDecimal("  115200x"), 115200u);
    EXPECT_EQ(ParseUnsignedDecimal("abc"), 0u);
}

} // namespace
