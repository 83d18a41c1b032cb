// The scripted host as the application tests use it: scripts, failures, boxes, pumping.
#include <gtest/gtest.h>

#include "framework/Dialog.h"
#include "framework/ScriptedHost.h"
#include "framework/WinApp.h"
#include "res/Resource.h"

namespace {

constexpr int kAsk = 910;
constexpr int kProgress = 911;
constexpr int kGo = 20;
constexpr int kBar = 21;
constexpr int kMessage = 22;

ControlTemplate Line(int id, ControlKind kind, std::string text, unsigned style = 0)
{
    ControlTemplate c;
    c.id = id;
    c.kind = kind;
    c.text = std::move(text);
    c.style = style;
    return c;
}

const DialogTemplate& AskTemplate()
{
    static const DialogTemplate tmpl = [] {
        DialogTemplate t;
        t.id = kAsk;
        t.caption = "Ask";
        t.controls = {Line(kGo, ControlKind::PushButton, "Go"), Line(IDOK, ControlKind::DefPushButton, "OK"),
                      Line(IDCANCEL, ControlKind::PushButton, "Cancel")};
        return t;
    }();
    return tmpl;
}

const DialogTemplate& ProgressTemplate()
{
    static const DialogTemplate tmpl = [] {
        DialogTemplate t;
        t.id = kProgress;
        t.caption = "Titel";
        t.style = DS_SYSMENU | DS_MODALFRAME | DS_CENTER; // not visible until shown
        t.controls = {Line(kMessage, ControlKind::Static, "Message", CS_NOPREFIX),
                      Line(kBar, ControlKind::ProgressBar, ""),
                      Line(IDCANCEL, ControlKind::PushButton, "Cancel", CS_HIDDEN)};
        return t;
    }();
    return tmpl;
}

class CAskDlg : public CDialog
{
public:
    CAskDlg() : CDialog(AskTemplate())
    {
        OnCommandId(kGo, [this] {
            ++goes;
            if (onGo) onGo(*this);
        });
    }
    int goes = 0;
    std::function<void(CAskDlg&)> onGo;
};

// A modeless window with the progress window's closing path.
class CBarDlg : public CDialog
{
public:
    CBarDlg() : CDialog(ProgressTemplate()) {}
    CProgressCtrl m_progress;
    std::string m_strMessage;
    int* m_pbCancel = nullptr;
    CWnd* m_pParent = nullptr;
    BOOL m_bParentEnabled = FALSE;

    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Control(pDX, kBar, m_progress);
        DDX_Text(pDX, kMessage, m_strMessage);
    }
    void OnOK() override {}
    void OnCancel() override
    {
        *m_pbCancel = 1;
        if (m_pParent) m_pParent->EnableWindow(m_bParentEnabled);
        if (IsWindow()) DestroyWindow();
    }
};

class ScriptedHostTest : public testing::Test
{
protected:
    void SetUp() override { previous = SetHost(&host); }
    void TearDown() override { SetHost(previous); }

    CScriptedHost host;
    IHost* previous = nullptr;
};

TEST_F(ScriptedHostTest, UnexpectedDialogFailsAndIsCancelledWithoutRunning)
{
    std::vector<std::string> reported;
    host.onFailure = [&](const std::string& what) { reported.push_back(what); };
    CAskDlg dlg;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(reported, (std::vector<std::string>{"unexpected dialog 910 Ask"}));
    EXPECT_EQ(host.Failures(), reported);
    EXPECT_FALSE(dlg.IsWindow());
}

TEST_F(ScriptedHostTest, ADisabledOrHiddenButtonCannotBePressed)
{
    CAskDlg dlg;
    host.Expect(kAsk, CDialogScript()
                          .Do([](CDialog& d) { d.GetDlgItem(kGo)->EnableWindow(FALSE); })
                          .Press(kGo)
                          .Do([](CDialog& d) {
                              d.GetDlgItem(kGo)->EnableWindow(TRUE);
                              d.GetDlgItem(kGo)->ShowWindow(SW_HIDE);
                          })
                          .Press(kGo)
                          .Press(IDCANCEL));
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.goes, 0);
    EXPECT_EQ(host.Failures().size(), 2u);
}

TEST_F(ScriptedHostTest, ADialogLeftOpenBySItsScriptFailsAndIsCancelled)
{
    CAskDlg dlg;
    host.Expect(kAsk, CDialogScript().Press(kGo));
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.goes, 1);
    EXPECT_EQ(host.Failures(), (std::vector<std::string>{"dialog 910 still open at end of script"}));
}

TEST_F(ScriptedHostTest, ShowingsAreAnsweredInOrderAndUnusedScriptsCounted)
{
    CAskDlg dlg;
    host.Expect(kAsk, CDialogScript().Enter());
    host.Expect(kAsk, CDialogScript().Escape());
    host.Expect(kAsk, CDialogScript().Escape());
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(host.PendingScripts(), 1);
}

TEST_F(ScriptedHostTest, MessageBoxesAreRecordedInOrderWithCaptionIconAndOwner)
{
    CWinApp app;
    CAskDlg dlg;
    dlg.onGo = [](CAskDlg& self) {
        AfxMessageBox(IDS_ERASE_OK, MB_ICONINFORMATION, &self);
        AfxMessageBox(std::string("Find not blank at address\r0C0123"), MB_ICONSTOP);
    };
    std::vector<std::string> seenWhileOpen;
    host.onMessageBox = [&](const MessageBoxRecord& box) { seenWhileOpen.push_back(box.text); };
    host.Expect(kAsk, CDialogScript().Press(kGo).Press(IDOK));
    dlg.DoModal();
    AfxMessageBox(IDS_PROGRAM_OK, MB_OK);

    ASSERT_EQ(host.MessageBoxes().size(), 3u);
    EXPECT_EQ(host.MessageTexts(),
              (std::vector<std::string>{"Erase OK.", "Find not blank at address\r0C0123", "Program OK."}));
    EXPECT_EQ(seenWhileOpen, host.MessageTexts());
    for (const auto& box : host.MessageBoxes())
        EXPECT_EQ(box.caption, "Firmaware Upgrade");
    EXPECT_EQ(host.MessageBoxes()[0].type, MB_ICONINFORMATION);
    EXPECT_EQ(host.MessageBoxes()[0].ownerTemplate, kAsk);
    EXPECT_EQ(host.MessageBoxes()[1].type, MB_ICONSTOP);
    EXPECT_EQ(host.MessageBoxes()[1].ownerTemplate, 0); // no main window yet
    EXPECT_EQ(host.MessageBoxes()[2].type, MB_OK);

    // Without an owner the box belongs to the main window.
    CAskDlg panel;
    app.m_pMainWnd = &panel;
    AfxMessageBox(IDS_NO_9600, MB_ICONEXCLAMATION);
    EXPECT_EQ(host.MessageBoxes().back().ownerTemplate, kAsk);
}

TEST_F(ScriptedHostTest, NestedDialogsRunInsideTheirParentsHandler)
{
    CAskDlg outer;
    outer.onGo = [&](CAskDlg&) {
        CAskDlg inner;
        EXPECT_EQ(inner.DoModal(), IDOK);
        EXPECT_EQ(AfxGetActiveWindow(), &outer);
    };
    host.Expect(
        kAsk,
        CDialogScript().Do([&](CDialog& d) { EXPECT_EQ(AfxGetActiveWindow(), &d); }).Press(kGo).Escape());
    host.Expect(kAsk, CDialogScript().Press(IDOK));
    EXPECT_EQ(outer.DoModal(), IDCANCEL);
    EXPECT_EQ(host.Events(),
              (std::vector<std::string>{"dialog 910", "dialog 910", "end 910 1", "end 910 2"}));
    EXPECT_EQ(AfxGetActiveWindow(), nullptr);
}

TEST_F(ScriptedHostTest, ClosingTheModelessWindowInAPumpRoundCancelsTheLoop)
{
    CAskDlg panel;
    host.Expect(kAsk, CDialogScript()
                          .Do([&](CDialog& d) {
                              int cancel = 0;
                              auto* bar = new CBarDlg; // released by the loop below
                              ASSERT_TRUE(bar->Create(kProgress, &d));
                              EXPECT_FALSE(bar->IsWindowVisible());
                              bar->m_pParent = &d;
                              bar->m_bParentEnabled = !d.EnableWindow(FALSE);
                              bar->m_pbCancel = &cancel;
                              bar->ShowWindow(SW_SHOW);
                              EXPECT_EQ(AfxGetActiveWindow(), bar);
                              bar->m_progress.SetRange(0, 10);
                              int pages = 0;
                              for (int page = 1; page <= 10; ++page) {
                                  ++pages;
                                  if (bar->IsWindow()) bar->m_progress.SetPos(page);
                                  PumpWaitingMessages();
                                  if (cancel) break;
                              }
                              EXPECT_EQ(pages, 3);
                              EXPECT_FALSE(bar->IsWindow());
                              EXPECT_TRUE(d.IsWindowEnabled());
                              delete bar;
                          })
                          .Press(IDOK));
    host.CloseProgressAtRound(3);
    panel.DoModal();
    EXPECT_EQ(host.PumpRounds(), 3);
    EXPECT_EQ(host.ProgressPositions(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(host.Events(),
              (std::vector<std::string>{"dialog 910", "create 911", "destroy 911", "end 910 1"}));
    EXPECT_TRUE(host.Failures().empty());
}

TEST_F(ScriptedHostTest, ProgressRangeWrapsAtSixteenBitsAndPositionsAreClamped)
{
    CBarDlg bar;
    int cancel = 0;
    bar.m_pbCancel = &cancel;
    ASSERT_TRUE(bar.Create(kProgress));
    ASSERT_TRUE(bar.m_progress.IsBound());
    const unsigned upper = 70000; // more steps than the bar can count
    bar.m_progress.SetRange(0, static_cast<short>(upper));
    int lower = -1, top = -1;
    bar.m_progress.Control()->GetRange(lower, top);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(top, 70000 - 65536);
    EXPECT_EQ(bar.m_progress.SetPos(5000), 0);
    EXPECT_EQ(bar.m_progress.SetPos(-3), 70000 - 65536);
    bar.m_progress.SetRange16(100, 200);
    EXPECT_EQ(bar.m_progress.GetPos(), 100); // the range pulls the position in
    EXPECT_EQ(host.ProgressPositions(), (std::vector<int>{70000 - 65536, 0}));
    EXPECT_TRUE(bar.DestroyWindow());
    EXPECT_FALSE(bar.DestroyWindow());
}

TEST_F(ScriptedHostTest, AQuitDuringALongLoopIsReposted)
{
    int ran = 0;
    host.AtPumpRound(2, [&] { ++ran; });
    host.QuitAtRound(2);
    PumpWaitingMessages();
    EXPECT_FALSE(host.QuitPosted());
    PumpWaitingMessages();
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(host.QuitPosted());
    EXPECT_EQ(host.Events(), (std::vector<std::string>{"quit", "repost"}));
    PumpWaitingMessages();
    EXPECT_EQ(host.Events().size(), 2u);
}

TEST_F(ScriptedHostTest, AModelessWindowThatCannotBeCreatedLeavesNoWindow)
{
    host.FailNextModelessCreate();
    CBarDlg bar;
    EXPECT_FALSE(bar.Create(kProgress));
    EXPECT_FALSE(bar.IsWindow());
    EXPECT_FALSE(bar.m_progress.IsBound());
    EXPECT_EQ(AfxGetActiveWindow(), nullptr);
    EXPECT_TRUE(bar.Create(kProgress)); // only the next creation fails
}

TEST_F(ScriptedHostTest, SystemCommandsReachTheDialog)
{
    class CMenuDlg : public CAskDlg
    {
    public:
        void OnSysCommand(unsigned id, long) override { commands.push_back(id); }
        std::vector<unsigned> commands;
    } dlg;
    host.Expect(kAsk, CDialogScript().SysCommand(IDM_ABOUTBOX).Escape());
    dlg.DoModal();
    EXPECT_EQ(dlg.commands, (std::vector<unsigned>{IDM_ABOUTBOX}));
}

} // namespace
