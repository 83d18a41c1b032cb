// Dialogs against the scripted host: data exchange, keyboard, file errors, progress.
#include <gtest/gtest.h>

#include "framework/Dialog.h"
#include "framework/FileDialog.h"
#include "framework/ScriptedHost.h"
#include "framework/WaitCursor.h"
#include "framework/WinApp.h"
#include "platform/TextFile.h"
#include "res/Resource.h"

namespace {

constexpr int kPortDialog = 900;
constexpr int kCombo = 10;
constexpr int kName = 11;
constexpr int kRadioA = 12;
constexpr int kRadioB = 13;
constexpr int kLoad = 14;

ControlTemplate Line(int id, ControlKind kind, std::string text, unsigned style = 0)
{
    ControlTemplate c;
    c.id = id;
    c.kind = kind;
    c.text = std::move(text);
    c.cx = 50;
    c.cy = 14;
    c.style = style;
    return c;
}

const DialogTemplate& PortTemplate()
{
    static const DialogTemplate tmpl = [] {
        DialogTemplate t;
        t.id = kPortDialog;
        t.caption = "Pick a port";
        ControlTemplate combo = Line(kCombo, ControlKind::ComboDropDown, "", CS_TABSTOP);
        combo.items = {"COM1", "COM2", "COM3", "COM4", "COM10"};
        t.controls = {combo,
                      Line(kName, ControlKind::Edit, "", CS_TABSTOP),
                      Line(kRadioA, ControlKind::RadioButton, "A", CS_GROUP),
                      Line(kRadioB, ControlKind::RadioButton, "B"),
                      Line(kLoad, ControlKind::PushButton, "Load", CS_GROUP | CS_TABSTOP),
                      Line(IDOK, ControlKind::PushButton, "OK", CS_TABSTOP),
                      Line(IDCANCEL, ControlKind::PushButton, "Cancel", CS_TABSTOP | CS_HIDDEN)};
        return t;
    }();
    return tmpl;
}

class CPortDlg : public CDialog
{
public:
    CPortDlg() : CDialog(PortTemplate())
    {
        OnCommandId(kLoad, [this] { OnLoad(); });
    }

    std::string m_strPort = "COM1";
    std::string m_strName;
    int m_nChoice = 0;
    std::function<void()> onLoad;

    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_CBString(pDX, kCombo, m_strPort);
        DDX_Text(pDX, kName, m_strName);
        DDX_Radio(pDX, kRadioA, m_nChoice);
    }

private:
    void OnLoad()
    {
        if (onLoad) onLoad();
    }
};

class DialogTest : public testing::Test
{
protected:
    void SetUp() override { previous = SetHost(&host); }
    void TearDown() override { SetHost(previous); }

    CScriptedHost host;
    IHost* previous = nullptr;
};

TEST_F(DialogTest, ComboShowsFirstItemMatchingThePrefixCaseInsensitively)
{
    CPortDlg dlg;
    dlg.m_strPort = "com3";
    host.Expect(kPortDialog, CDialogScript()
                                 .Do([](CDialog& d) {
                                     EXPECT_EQ(d.GetDlgItem(kCombo)->GetCurSel(), 2);
                                     EXPECT_EQ(d.GetDlgItemText(kCombo), "COM3");
                                 })
                                 .Press(IDOK));
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.m_strPort, "COM3");

    // "COM1" is a prefix of "COM10" too: the first entry wins.
    dlg.m_strPort = "com1";
    host.Expect(kPortDialog, CDialogScript().Press(IDOK));
    dlg.DoModal();
    EXPECT_EQ(dlg.m_strPort, "COM1");
    EXPECT_TRUE(host.Failures().empty());
}

TEST_F(DialogTest, ComboKeepsATextThatNoItemStartsWith)
{
    CPortDlg dlg;
    dlg.m_strPort = "/dev/ttyUSB0";
    host.Expect(kPortDialog, CDialogScript()
                                 .Do([](CDialog& d) {
                                     EXPECT_EQ(d.GetDlgItem(kCombo)->GetCurSel(), -1);
                                     EXPECT_EQ(d.GetDlgItemText(kCombo), "/dev/ttyUSB0");
                                 })
                                 .Press(IDOK));
    dlg.DoModal();
    EXPECT_EQ(dlg.m_strPort, "/dev/ttyUSB0");
}

TEST_F(DialogTest, TypedTextsAndRadioReachTheFieldsOnOk)
{
    CPortDlg dlg;
    dlg.m_nChoice = 1;
    host.Expect(kPortDialog, CDialogScript()
                                 .Do([](CDialog& d) {
                                     EXPECT_EQ(d.GetDlgItem(kRadioA)->GetCheck(), 0);
                                     EXPECT_EQ(d.GetDlgItem(kRadioB)->GetCheck(), 1);
                                 })
                                 .SetText(kCombo, "COM4")
                                 .SetText(kName, "update.mot")
                                 .SelectRadio(kRadioA)
                                 .Press(IDOK));
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.m_strPort, "COM4");
    EXPECT_EQ(dlg.m_strName, "update.mot");
    EXPECT_EQ(dlg.m_nChoice, 0);
}

TEST_F(DialogTest, CancelLeavesTheFieldsAlone)
{
    CPortDlg dlg;
    host.Expect(kPortDialog, CDialogScript().SetText(kCombo, "COM9").Escape());
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.m_strPort, "COM1");
}

TEST_F(DialogTest, EscapeAndCloseBoxCancelEvenWithTheCancelButtonHidden)
{
    CPortDlg dlg;
    host.Expect(kPortDialog, CDialogScript().Escape());
    host.Expect(kPortDialog, CDialogScript().CloseBox());
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_TRUE(host.Failures().empty());
}

TEST_F(DialogTest, EnterWithoutDefaultButtonSendsOk)
{
    CPortDlg dlg;
    host.Expect(kPortDialog, CDialogScript().SetText(kName, "x").Enter());
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.m_strName, "x");
}

TEST_F(DialogTest, EnterPressesTheFocusedButtonButNotADisabledOne)
{
    CPortDlg dlg;
    int loads = 0;
    dlg.onLoad = [&] { ++loads; };
    host.Expect(kPortDialog, CDialogScript()
                                 .Enter(kLoad)
                                 .Do([](CDialog& d) { d.GetDlgItem(kLoad)->EnableWindow(FALSE); })
                                 .Enter(kLoad)
                                 .Do([](CDialog& d) { EXPECT_FALSE(d.IsEnded()); })
                                 .Escape());
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(loads, 1);
}

TEST_F(DialogTest, EnterRunsTheDefaultButtonOnlyWhileItIsEnabled)
{
    DialogTemplate tmpl;
    tmpl.id = 901;
    tmpl.controls = {Line(kLoad, ControlKind::DefPushButton, "Go")};
    class CGoDlg : public CDialog
    {
    public:
        explicit CGoDlg(const DialogTemplate& t) : CDialog(t)
        {
            OnCommandId(kLoad, [this] { EndDialog(7); });
        }
    } dlg(tmpl);
    EXPECT_EQ(dlg.GetDefID(), kLoad);
    host.Expect(901, CDialogScript().Enter());
    EXPECT_EQ(dlg.DoModal(), 7);

    host.Expect(901, CDialogScript()
                         .Do([](CDialog& d) { d.GetDlgItem(kLoad)->EnableWindow(FALSE); })
                         .Enter()
                         .Do([](CDialog& d) { EXPECT_FALSE(d.IsEnded()); })
                         .Escape());
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

TEST_F(DialogTest, FileErrorFromAHandlerIsReportedAndTheDialogStaysOpen)
{
    CPortDlg dlg;
    dlg.onLoad = [] { throw CFileException(CFileException::fileNotFound, "/tmp/none/upgrade.mot"); };
    host.Expect(kPortDialog,
                CDialogScript().Press(kLoad).Do([](CDialog& d) { EXPECT_FALSE(d.IsEnded()); }).Escape());
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    ASSERT_EQ(host.MessageBoxes().size(), 1u);
    const MessageBoxRecord& box = host.MessageBoxes()[0];
    EXPECT_EQ(box.text, "/tmp/none/upgrade.mot was not found.");
    EXPECT_EQ(box.caption, "Firmaware Upgrade");
    EXPECT_EQ(box.type, MB_ICONEXCLAMATION);
    EXPECT_EQ(box.ownerTemplate, kPortDialog);
    EXPECT_EQ(host.Events(), (std::vector<std::string>{
                                 "dialog 900", "box /tmp/none/upgrade.mot was not found.", "end 900 2"}));
}

TEST_F(DialogTest, ControlsStartAsTheTemplateSays)
{
    CDialog panel(IDD_TORVANE_DIALOG);
    EXPECT_EQ(panel.GetWindowText(), "Orvex upgrade");
    ASSERT_NE(panel.GetDlgItem(IDC_ERASE), nullptr);
    EXPECT_TRUE(panel.GetDlgItem(IDC_ERASE)->IsWindowEnabled());
    EXPECT_TRUE(panel.GetDlgItem(IDC_ERASE)->IsWindowVisible());
    EXPECT_FALSE(panel.GetDlgItem(IDC_PROGRAM)->IsWindowEnabled());
    EXPECT_FALSE(panel.GetDlgItem(IDC_READ)->IsWindowVisible());
    EXPECT_EQ(panel.GetDefID(), 0);

    CDialog ports(IDD_S_PRG);
    ASSERT_NE(ports.GetDlgItem(IDC_PORT), nullptr);
    EXPECT_EQ(ports.GetDlgItem(IDC_PORT)->Items().front(), "COM1");
    EXPECT_EQ(ports.GetDlgItem(IDC_PORT)->Items().size(), 10u);
    EXPECT_FALSE(ports.GetDlgItem(IDC_BOOT_LOADER)->IsWindowVisible());

    CDialog unknown(4242);
    EXPECT_EQ(unknown.GetDlgItem(IDOK), nullptr);
}

// A peer as a host would attach it: model changes reach it, user input does not echo.
class CCountingPeer : public IWindowPeer
{
public:
    void WindowChanged() override { ++windowChanges; }
    void ControlChanged(int id) override { changed.push_back(id); }
    int windowChanges = 0;
    std::vector<int> changed;
};

TEST_F(DialogTest, ModelChangesReachThePeerAndUserInputDoesNotEcho)
{
    CPortDlg dlg;
    CCountingPeer peer;
    dlg.AttachPeer(&peer);
    dlg.SetDlgItemText(kName, "a");
    dlg.GetDlgItem(kLoad)->ShowWindow(SW_HIDE);
    dlg.GetDlgItem(kLoad)->ShowWindow(SW_HIDE); // no change, no notice
    dlg.EnableWindow(FALSE);
    dlg.SetWindowText("Title");
    dlg.GetDlgItem(kName)->SetTextFromUser("typed");
    dlg.GetDlgItem(kRadioA)->SetCheckFromUser(1);
    dlg.GetDlgItem(kCombo)->SetCurSelFromUser(1);
    EXPECT_EQ(peer.changed, (std::vector<int>{kName, kLoad}));
    EXPECT_EQ(peer.windowChanges, 2);
    EXPECT_EQ(dlg.GetDlgItemText(kCombo), "COM2");
    dlg.AttachPeer(nullptr);
}

TEST_F(DialogTest, EnableWindowReportsThePreviousState)
{
    CPortDlg dlg;
    EXPECT_FALSE(dlg.EnableWindow(FALSE)); // was enabled
    EXPECT_TRUE(dlg.EnableWindow(TRUE));   // was disabled
    EXPECT_TRUE(dlg.ShowWindow(SW_SHOW) == FALSE);
    EXPECT_TRUE(dlg.ShowWindow(SW_HIDE));
}

TEST_F(DialogTest, FileDialogAnswersAndWaitCursorNests)
{
    host.AnswerFileDialog(std::string("/data/fw.mot"));
    host.AnswerFileDialog(std::nullopt);
    CFileDialog pick(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_FILEMUSTEXIST,
                     "Motlora Hex File (*.s;*.mot)|*.s;*.mot|");
    EXPECT_EQ(pick.DoModal(), IDOK);
    EXPECT_EQ(pick.GetPathName(), "/data/fw.mot");
    CFileDialog cancelled(TRUE, nullptr, nullptr, 0, "");
    EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
    EXPECT_TRUE(host.Failures().empty());
    CFileDialog unexpected(TRUE, nullptr, nullptr, 0, "");
    EXPECT_EQ(unexpected.DoModal(), IDCANCEL);
    EXPECT_EQ(host.Failures().size(), 1u);

    {
        CWaitCursor wait;
        EXPECT_EQ(host.WaitCursorDepth(), 1);
        wait.Restore();
        EXPECT_EQ(host.WaitCursorDepth(), 0);
    }
    EXPECT_EQ(host.WaitCursorDepth(), 0);
    {
        CWaitCursor wait;
    }
    EXPECT_EQ(host.WaitCursorDepth(), 0);
}

} // namespace
