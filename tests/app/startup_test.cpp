// Start-up sequence and link services against the simulated panel.
#include <gtest/gtest.h>

#include "fixtures/AppFixture.h"
#include "framework/Dialog.h"
#include "platform/InstanceLock.h"
#include "res/Resource.h"
#include "shell/link/SettingCmd.h"

namespace {

const std::string kTimeout = "Timeout Error.\nPlease reset Orvex ( toggle power supply ).";
const std::string kCommError = "Communication error.\nPlease reset Orvex ( toggle power supply ).";

std::vector<uint8_t> SyncBurst()
{
    std::vector<uint8_t> bytes{0xB0};
    bytes.insert(bytes.end(), 16, 0x00);
    return bytes;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Startup : public AppFixture
{
protected:
    // Leaves "Load Upgrade File" with Escape and the panel with its close box.
    void ExpectUpgradeDialogAndPanel()
    {
        m_host.Expect(IDD_IDCHECK, CDialogScript().Escape());
        m_host.Expect(IDD_TORVANE_DIALOG, CDialogScript()
                                              .Do([this](CDialog&) {
                                                  m_panelFlags = {m_app->m_bLinkOk, m_app->m_bIdPassed};
                                              })
                                              .CloseBox());
    }
    std::pair<BOOL, BOOL> m_panelFlags{-1, -1};
};

TEST_F(Startup, AnsweringDeviceWithoutSettingsSendsTheBareSequenceAndSaves9600)
{
    ExpectPortDialogOk();
    ExpectUpgradeDialogAndPanel();
    EXPECT_FALSE(m_app->InitInstance());

    // Synchronisation, status, clear status; then the exit's three 0xB0.
    auto expected = Concat(SyncBurst(), {0x70, 0x50, 0xB0, 0xB0, 0xB0});
    EXPECT_EQ(HostBytes(), expected);
    for (const auto& [byte, baud] : m_panel->HostBytesWithBaud())
        EXPECT_EQ(baud, 9600u);
    EXPECT_EQ(m_panelFlags, std::make_pair(TRUE, FALSE));
    EXPECT_EQ(SettingsText(), "[Last Comm State]\nBaundrate=9600\nByte=8\nStop Bit=0\nParity=0\n");
    EXPECT_TRUE(Boxes().empty());
    EXPECT_FALSE(m_app->m_link.IsOpen());
}

TEST_F(Startup, KeepsTheProtocolPauses)
{
    ExpectPortDialogOk();
    ExpectUpgradeDialogAndPanel();
    m_app->InitInstance();
    std::vector<uint64_t> sent;
    for (const auto& event : m_panel->Trace())
        if (event.kind == sim::WireEvent::HostToDevice) sent.push_back(event.timeMs);
    ASSERT_GE(sent.size(), 19u);
    // 50 ms after the first 0xB0, 20 ms after each filler, then 50 ms and the echo read,
    // one second's settling before the status request.
    EXPECT_GE(sent[1] - sent[0], 50u);
    for (int i = 2; i <= 16; ++i)
        EXPECT_GE(sent[i] - sent[i - 1], 20u) << i;
    EXPECT_GE(sent[17] - sent[16], 1000u + 50u);
    EXPECT_LT(sent[17] - sent[16], 1200u);
}

TEST_F(Startup, RestoresTheSavedRateAndRewritesIt)
{
    WriteSavedRate(57600);
    ExpectPortDialogOk();
    ExpectUpgradeDialogAndPanel();
    m_app->InitInstance();

    const auto sent = m_panel->HostBytesWithBaud();
    std::vector<std::pair<uint8_t, uint32_t>> expected;
    for (uint8_t b : SyncBurst())
        expected.emplace_back(b, 9600);
    expected.insert(expected.end(),
                    {{0xB0, 9600}, {0xB3, 9600}, {0xB3, 57600}, {0x70, 57600}, {0x50, 57600}});
    ASSERT_GE(sent.size(), expected.size());
    EXPECT_EQ(std::vector(sent.begin(), sent.begin() + static_cast<long>(expected.size())), expected);
    EXPECT_NE(SettingsText().find("Baundrate=57600"), std::string::npos);
    // Exit goes back: 0xB3 and 0xB0 at 57600, then 0xB0 at 9600.
    const std::vector<std::pair<uint8_t, uint32_t>> exitBytes{{0xB3, 57600}, {0xB0, 57600}, {0xB0, 9600}};
    EXPECT_EQ(std::vector(sent.end() - 3, sent.end()), exitBytes);
    EXPECT_EQ(Device().Baud(), 9600u);
}

TEST_F(Startup, IdFieldOfTheStatusReplySetsTheFlag)
{
    Device().SetIdVerified(true);
    ExpectPortDialogOk();
    ExpectUpgradeDialogAndPanel();
    m_app->InitInstance();
    EXPECT_EQ(m_panelFlags, std::make_pair(TRUE, TRUE));
}

TEST_F(Startup, SilentDeviceRecoversOffersTheDialogsAndStillReachesThePanel)
{
    Device().SetSilent(true);
    uint64_t portDialogClosed = 0, timeoutShown = 0;
    m_host.Expect(IDD_S_PRG,
                  CDialogScript().Do([&](CDialog&) { portDialogClosed = m_clock.Now(); }).Press(IDOK));
    m_host.onMessageBox = [&](const MessageBoxRecord& box) {
        if (box.text == kTimeout && !timeoutShown) timeoutShown = m_clock.Now();
    };
    // The recovery's baud-rate dialog: the file already says 9600 while it is open.
    m_host.Expect(IDD_SETCOMM, CDialogScript()
                                   .Do([this](CDialog&) {
                                       EXPECT_NE(SettingsText().find("Baundrate=9600"), std::string::npos);
                                   })
                                   .Escape());
    // The recovery left 9600 in the file, so the rate restore runs into silence too.
    m_host.Expect(IDD_SETCOMM, CDialogScript().Escape());
    m_host.Expect(IDD_FIRSTSET, CDialogScript().Press(IDCANCEL));
    ExpectUpgradeDialogAndPanel();
    m_app->InitInstance();

    EXPECT_EQ(Boxes(),
              (std::vector<std::string>{kTimeout, kCommError, kTimeout, "Can not communicate to outside.",
                                        "Can not set baudrate to 9600bps."}));
    EXPECT_GE(timeoutShown - portDialogClosed, 5000u);
    EXPECT_LT(timeoutShown - portDialogClosed, 5600u);
    EXPECT_EQ(m_panelFlags, std::make_pair(FALSE, FALSE));
    const std::vector<unsigned> icons{MB_ICONSTOP, MB_ICONEXCLAMATION, MB_ICONSTOP, MB_ICONSTOP,
                                      MB_ICONEXCLAMATION};
    for (size_t i = 0; i < icons.size(); ++i)
        EXPECT_EQ(m_host.MessageBoxes()[i].type, icons[i]) << i;
}

TEST_F(Startup, FirstSettingOkRunsTheBaudRateSetting)
{
    // The device answers the synchronisation but not the status request.
    Device().SilentAfterBytes(17);
    ExpectPortDialogOk();
    m_host.Expect(IDD_FIRSTSET, CDialogScript().Press(IDOK));
    m_host.Expect(IDD_SETCOMM,
                  CDialogScript().Do([this](CDialog&) { Device().SetSilent(false); }).Press(IDOK));
    ExpectUpgradeDialogAndPanel();
    m_app->InitInstance();
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(m_panelFlags.first, TRUE);
}

TEST_F(Startup, SecondInstanceIsRefusedBeforeAnyPortIsTouched)
{
    platform::CInstanceLock other;
    ASSERT_TRUE(other.Acquire("TORVANE.exe"));
    EXPECT_FALSE(m_app->InitInstance());
    ASSERT_EQ(m_host.MessageBoxes().size(), 1u);
    EXPECT_EQ(m_host.MessageBoxes()[0].text, "This program is already running.");
    EXPECT_EQ(m_host.MessageBoxes()[0].caption, "Firmaware Upgrade");
    EXPECT_EQ(m_host.MessageBoxes()[0].type, static_cast<unsigned>(MB_ICONSTOP));
    EXPECT_TRUE(HostBytes().empty());
    EXPECT_FALSE(m_panel->PortOpen());
}

TEST_F(Startup, ExitInThePortDialogEndsWithNothingTouched)
{
    m_host.Expect(IDD_S_PRG, CDialogScript().Press(IDCANCEL));
    EXPECT_FALSE(m_app->InitInstance());
    EXPECT_TRUE(Boxes().empty());
    EXPECT_FALSE(m_panel->PortOpen());
    EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
}

TEST_F(Startup, TypedPortNameIsTheOneOpened)
{
    sim::CSimulatedPanel third("COM3");
    m_host.Expect(IDD_S_PRG, CDialogScript().SetText(IDC_PORT, "COM3").Press(IDOK));
    ExpectUpgradeDialogAndPanel();
    m_app->InitInstance();
    EXPECT_TRUE(HostBytes().empty());
    EXPECT_FALSE(third.HostBytes().empty());
}

class LinkServices : public AppFixture
{
};

TEST_F(LinkServices, ChangeTo115200MovesBothEndsWithEchoesOneSecondApart)
{
    OpenLink();
    const uint64_t start = m_clock.Now();
    EXPECT_EQ(m_app->ChangeBaudRate(m_app->m_link, 115200, 8, 0, 0, IDS_COMM_ERROR_SETTING), 115200u);
    const std::vector<std::pair<uint8_t, uint32_t>> expected{{0xB0, 9600}, {0xB4, 9600}, {0xB4, 115200}};
    EXPECT_EQ(m_panel->HostBytesWithBaud(), expected);
    EXPECT_GE(m_clock.Now() - start, 2000u);
    EXPECT_EQ(Device().Baud(), 115200u);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(LinkServices, RefusedRateKeepsTheCurrentOneAfterTheCallersMessage)
{
    OpenLink();
    Device().RefuseBaudCode(0xB4);
    EXPECT_EQ(m_app->ChangeBaudRate(m_app->m_link, 115200, 8, 0, 0, IDS_COMM_ERROR_STARTUP), 9600u);
    EXPECT_EQ(Boxes(), std::vector<std::string>{kCommError});
    EXPECT_EQ(m_host.MessageBoxes()[0].type, static_cast<unsigned>(MB_ICONEXCLAMATION));
    const std::vector<uint8_t> expected{0xB0, 0xB4, 0xB0};
    EXPECT_EQ(HostBytes(), expected);
}

TEST_F(LinkServices, ReturnTo9600At9600SendsThreeCodesSilently)
{
    OpenLink();
    m_app->ReturnTo9600(m_app->m_link);
    EXPECT_EQ(HostBytes(), (std::vector<uint8_t>{0xB0, 0xB0, 0xB0}));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(LinkServices, ReturnTo9600WithTheDeviceUnpluggedSaysSo)
{
    OpenLink();
    Device().SetSilent(true);
    m_app->ReturnTo9600(m_app->m_link);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Can not set baudrate to 9600bps."});
    EXPECT_EQ(m_host.MessageBoxes()[0].type, static_cast<unsigned>(MB_ICONEXCLAMATION));
}

TEST_F(LinkServices, RecoveryChainWithASilentDeviceEndsWhenTheUserCancels)
{
    OpenLink();
    Device().SetSilent(true);
    m_host.Expect(IDD_SETCOMM, CDialogScript().Press(IDOK));
    m_host.Expect(IDD_SETCOMM, CDialogScript().Press(IDOK));
    m_host.Expect(IDD_SETCOMM, CDialogScript().Escape());
    CSettingCmd setting;
    EXPECT_EQ(setting.Run(), 0u);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{kCommError, kTimeout, kCommError, kTimeout}));
    EXPECT_FALSE(m_app->m_bLinkOk);
    EXPECT_FALSE(m_app->m_bIdPassed);
}

TEST_F(LinkServices, RecoveryChainNeverGrowsTheStack)
{
    OpenLink();
    Device().SetSilent(true);
    // Every showing of the dialog must sit at the same stack depth.
    constexpr int kPatientPresses = 300;
    std::vector<uintptr_t> depths;
    auto recordDepth = [&](CDialog&) {
        volatile char marker = 0;
        depths.push_back(reinterpret_cast<uintptr_t>(&marker));
    };
    for (int i = 0; i < kPatientPresses; ++i)
        m_host.Expect(IDD_SETCOMM, CDialogScript().Do(recordDepth).Press(IDOK));
    m_host.Expect(IDD_SETCOMM, CDialogScript().Do(recordDepth).Escape());
    EXPECT_EQ(m_app->TimeoutRecovery(), 0u);
    EXPECT_EQ(Boxes().size(), 1u + 2u * kPatientPresses);
    ASSERT_EQ(depths.size(), kPatientPresses + 1u);
    EXPECT_EQ(depths.front(), depths.back());
}

TEST_F(LinkServices, RecoveryThatSucceedsOnALaterRoundRestoresTheLink)
{
    OpenLink();
    Device().SetSilent(true);
    m_host.Expect(IDD_SETCOMM, CDialogScript().Press(IDOK));
    // The technician power-cycles the panel while the second timeout box is open.
    int timeouts = 0;
    m_host.onMessageBox = [&](const MessageBoxRecord& box) {
        if (box.text == kTimeout && ++timeouts == 2) {
            Device().SetSilent(false);
            Device().PowerCycleNow();
            Device().SetIdVerified(true);
        }
    };
    m_host.Expect(IDD_SETCOMM, CDialogScript().Press(IDOK));
    EXPECT_EQ(m_app->TimeoutRecovery(), 9600u);
    EXPECT_TRUE(m_app->m_bLinkOk);
    EXPECT_TRUE(m_app->m_bIdPassed);
    EXPECT_NE(SettingsText().find("Baundrate=9600"), std::string::npos);
}

TEST_F(LinkServices, RecoveryResynchronisesWithFifteenMillisecondFillers)
{
    OpenLink();
    m_host.Expect(IDD_SETCOMM, CDialogScript().Escape());
    m_app->m_bLinkOk = m_app->m_bIdPassed = TRUE;
    EXPECT_EQ(m_app->TimeoutRecovery(), 0u);
    EXPECT_EQ(HostBytes(), SyncBurst());
    EXPECT_FALSE(m_app->m_bLinkOk);
    EXPECT_FALSE(m_app->m_bIdPassed);
    EXPECT_EQ(SettingsText(), "[Last Comm State]\nBaundrate=9600\nByte=8\nStop Bit=0\nParity=0\n");
}

TEST_F(LinkServices, SettingFromTheSavedRateMovesTheLinkAndLearnsTheId)
{
    OpenLink();
    WriteSavedRate(38400);
    Device().SetIdVerified(true);
    m_host.Expect(IDD_SETCOMM, CDialogScript()
                                   .Do([](CDialog& d) { EXPECT_EQ(d.GetDlgItemText(IDC_BAUDRATE), "38400"); })
                                   .Press(IDOK));
    CSettingCmd setting;
    EXPECT_EQ(setting.Run(), 38400u);
    EXPECT_TRUE(m_app->m_bLinkOk);
    EXPECT_TRUE(m_app->m_bIdPassed);
    const std::vector<std::pair<uint8_t, uint32_t>> expected{
        {0xB0, 9600}, {0xB2, 9600}, {0xB2, 38400}, {0x70, 38400}};
    EXPECT_EQ(m_panel->HostBytesWithBaud(), expected);
    EXPECT_NE(SettingsText().find("Baundrate=38400"), std::string::npos);
}

} // namespace

namespace {

TEST_F(Startup, PortThatDoesNotOpenSaysWhyAndOffersThePortDialogAgain)
{
    // COM77 does not exist at first: its adapter is plugged in while the box is open.
    std::unique_ptr<sim::CSimulatedPanel> late;
    m_host.onMessageBox = [&](const MessageBoxRecord& box) {
        if (!late) late = std::make_unique<sim::CSimulatedPanel>("COM77");
        EXPECT_EQ(box.type & MB_ICONMASK, MB_ICONSTOP);
        EXPECT_EQ(box.caption, "Firmaware Upgrade");
    };
    m_host.Expect(IDD_S_PRG, CDialogScript().SetText(IDC_PORT, "COM77").Press(IDOK));
    m_host.Expect(IDD_S_PRG, CDialogScript().SetText(IDC_PORT, "COM77").Press(IDOK));
    ExpectUpgradeDialogAndPanel();
    m_app->InitInstance();
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].rfind("Can not open COM77 (", 0), 0u) << Boxes()[0];
    EXPECT_NE(Boxes()[0].find("): no such port."), std::string::npos) << Boxes()[0];
    EXPECT_EQ(m_panelFlags.first, TRUE);
    ASSERT_TRUE(late);
    EXPECT_EQ(late->Device().Baud(), 9600u);
}

TEST_F(Startup, ExitAfterAPortThatDoesNotOpenEndsWithoutATimeout)
{
    m_host.Expect(IDD_S_PRG, CDialogScript().SetText(IDC_PORT, "COM78").Press(IDOK));
    m_host.Expect(IDD_S_PRG, CDialogScript().Press(IDCANCEL));
    EXPECT_FALSE(m_app->InitInstance());
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].rfind("Can not open COM78", 0), 0u);
}

TEST_F(LinkServices, RecoveryReopensThePortAndSaysOnceWhenItIsGone)
{
    // COM99 is no port of the machine's: once its simulated adapter is gone it stays gone.
    auto adapter = std::make_unique<sim::CSimulatedPanel>("COM99");
    adapter->Device().SetSilent(true);
    ASSERT_TRUE(m_app->m_link.Open("COM99"));
    m_app->m_link.SetTimeout(5000);
    // The adapter is pulled out while the time-out box is open; the technician tries the
    // baud-rate dialog once more, then gives up.
    m_host.onMessageBox = [&](const MessageBoxRecord& box) {
        if (box.text == kTimeout) adapter.reset();
    };
    m_host.Expect(IDD_SETCOMM, CDialogScript().Press(IDOK));
    m_host.Expect(IDD_SETCOMM, CDialogScript().Escape());
    m_app->TimeoutRecovery();
    const auto boxes = Boxes();
    EXPECT_EQ(std::count_if(boxes.begin(), boxes.end(),
                            [](const std::string& text) { return text.rfind("Can not open COM99", 0) == 0; }),
              1);
}

} // namespace
