// The host between the dialog models and the dialog manager: both directions of the data
// exchange, and the keyboard and frame of a modal dialog.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "framework/win32/Win32Host.h"
#include "link/SerialComm.h"
#include "link/SerialCommState.h"
#include "loader/Engine.h"
#include "res/Resource.h"
#include "sim/SimulatedPanel.h"
// After the framework headers: see the wrapper.
#include "framework/win32/Win32.h"

namespace {

class HostTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&classes);
        previous = SetHost(&host);
    }
    void TearDown() override { SetHost(previous); }

    CWin32Host host{GetModuleHandleW(nullptr)};
    IHost* previous = nullptr;
};

std::wstring TextOf(HWND window)
{
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

// A modal dialog that, once up, receives the messages a test queues for it.
class ScriptedModal : public CDialog
{
public:
    ScriptedModal(int templateId, CWin32Host& host, std::function<void(HWND)> script)
        : CDialog(templateId), m_host(host), m_script(std::move(script))
    {
        OnCommandId(IDC_LOAD, [this] { ++loads; });
    }
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        GetSystemMenu(FALSE)->AppendMenu(MF_STRING, IDM_ABOUTBOX, "&About Torvane...");
        m_script(m_host.Window(*this));
        return TRUE;
    }
    void OnSysCommand(unsigned id, long) override { sysCommands.push_back(id); }
    int loads = 0;
    std::vector<unsigned> sysCommands;

private:
    CWin32Host& m_host;
    std::function<void(HWND)> m_script;
};

void Key(HWND window, WPARAM key)
{
    PostMessageW(window, WM_KEYDOWN, key, 0);
    PostMessageW(window, WM_KEYUP, key, 0xC0000000);
}

} // namespace

TEST_F(HostTest, ModelAndWindowFollowEachOther)
{
    CDialog dialog(IDD_S_PRG);
    ASSERT_TRUE(dialog.Create(IDD_S_PRG));
    HWND window = host.Window(dialog);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(TextOf(window), L"Orvex Flash Programmer");

    // Model to window: text, selection, enabled and shown states, caption.
    HWND port = GetDlgItem(window, IDC_PORT);
    EXPECT_EQ(SendMessageW(port, CB_GETCOUNT, 0, 0), 10);
    dialog.GetDlgItem(IDC_PORT)->SetCurSel(2);
    EXPECT_EQ(SendMessageW(port, CB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(TextOf(port), L"COM3");
    dialog.GetDlgItem(IDOK)->EnableWindow(FALSE);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, IDOK)));
    dialog.GetDlgItem(IDC_BOOT_LOADER)->ShowWindow(SW_SHOW);
    dialog.GetDlgItem(IDC_BOOT_LOADER)->SetCheck(1);
    EXPECT_EQ(SendMessageW(GetDlgItem(window, IDC_BOOT_LOADER), BM_GETCHECK, 0, 0), BST_CHECKED);
    dialog.SetWindowText("Ünïcode");
    EXPECT_EQ(TextOf(window), L"\u00dcn\u00efcode");

    // Window to model: a typed port name, a chosen item, a clicked radio button.
    SetWindowTextW(port, L"\\\\.\\COM12");
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_PORT, CBN_EDITCHANGE), reinterpret_cast<LPARAM>(port));
    EXPECT_EQ(dialog.GetDlgItemText(IDC_PORT), "\\\\.\\COM12");
    EXPECT_EQ(dialog.GetDlgItem(IDC_PORT)->GetCurSel(), -1);
    SendMessageW(port, CB_SETCURSEL, 4, 0);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_PORT, CBN_SELCHANGE), reinterpret_cast<LPARAM>(port));
    EXPECT_EQ(dialog.GetDlgItemText(IDC_PORT), "COM5");
    dialog.GetDlgItem(IDC_INTERNAL_FLASH)->ShowWindow(SW_SHOW);
    SendMessageW(GetDlgItem(window, IDC_INTERNAL_FLASH), BM_CLICK, 0, 0);
    EXPECT_EQ(dialog.GetDlgItem(IDC_INTERNAL_FLASH)->GetCheck(), 1);
    EXPECT_EQ(dialog.GetDlgItem(IDC_BOOT_LOADER)->GetCheck(), 0);

    dialog.DestroyWindow();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(host.Window(dialog), nullptr);
}

TEST_F(HostTest, ProgressBarFollowsItsModel)
{
    CDialog dialog(IDD_PROGRESS);
    ASSERT_TRUE(dialog.Create(IDD_PROGRESS));
    HWND window = host.Window(dialog);
    EXPECT_FALSE(IsWindowVisible(window)); // shown by its owner once set up
    CProgressCtrl bar;
    bar.Attach(dialog.GetDlgItem(IDC_PROGRESS_BAR));
    bar.SetRange(0, 640);
    bar.SetPos(320);
    HWND barWindow = GetDlgItem(window, IDC_PROGRESS_BAR);
    EXPECT_EQ(SendMessageW(barWindow, PBM_GETRANGE, FALSE, 0), 640);
    EXPECT_EQ(SendMessageW(barWindow, PBM_GETPOS, 0, 0), 320);
    dialog.ShowWindow(SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(window));
    bar.SetPos(480); // shown: drawn at the next pump
    EXPECT_EQ(SendMessageW(barWindow, PBM_GETPOS, 0, 0), 320);
    host.PumpWhileBusy(true);
    EXPECT_EQ(SendMessageW(barWindow, PBM_GETPOS, 0, 0), 480);
}

TEST_F(HostTest, TheSessionsEndIsHeldOffOnlyWhileTheFlashIsWritten)
{
    CDialog dialog(IDD_PROGRESS);
    ASSERT_TRUE(dialog.Create(IDD_PROGRESS));
    HWND window = host.Window(dialog);
    EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), TRUE);
    host.BlockShutdown("writing");
    host.BlockShutdown("writing"); // nested: the program's erase inside a combined sequence
    EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), FALSE);
    host.UnblockShutdown();
    EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), FALSE);
    host.UnblockShutdown();
    EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), TRUE);
}

TEST_F(HostTest, ModalKeyboardAndFrame)
{
    // Enter presses the default button, with the text typed into the edit field kept.
    ScriptedModal enter(IDD_IDCHECK, host, [](HWND window) {
        HWND edit = GetDlgItem(window, IDC_FILENAME);
        SetWindowTextW(edit, L"C:\\upgrade.mot");
        Key(edit, VK_RETURN);
    });
    EXPECT_EQ(enter.DoModal(), IDOK);
    EXPECT_EQ(enter.GetDlgItemText(IDC_FILENAME), "C:\\upgrade.mot");

    // Space presses the focused button; Escape cancels even without a live Cancel button.
    ScriptedModal space(IDD_IDCHECK, host, [](HWND window) {
        HWND load = GetDlgItem(window, IDC_LOAD);
        PostMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(load), TRUE);
        Key(load, VK_SPACE);
        Key(load, VK_ESCAPE);
    });
    EXPECT_EQ(space.DoModal(), IDCANCEL);
    EXPECT_EQ(space.loads, 1);

    // A disabled default button swallows Enter; the close box cancels; the system
    // menu's own entry reaches the dialog.
    ScriptedModal frame(IDD_PREERASE, host, [](HWND window) {
        EnableWindow(GetDlgItem(window, IDOK), FALSE);
        Key(GetDlgItem(window, IDCANCEL), VK_RETURN);
        PostMessageW(window, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        PostMessageW(window, WM_CLOSE, 0, 0);
    });
    frame.GetDlgItem(IDOK)->EnableWindow(FALSE);
    EXPECT_EQ(frame.DoModal(), IDCANCEL);
    EXPECT_EQ(frame.sysCommands, std::vector<unsigned>{IDM_ABOUTBOX});
}

TEST_F(HostTest, WindowAnswersThroughALongWaitForThePanelAndKeepsItsCloseBox)
{
    // A real-time erase of 1.5 s on the simulated panel, waited for as the program does.
    sim::BootLoaderConfig config;
    config.idVerifiedAtStart = true;
    config.eraseTimeMs = 1500;
    sim::CSimulatedPanel panel("WINWAIT", config);
    CSerialComm link;
    ASSERT_TRUE(link.Open("WINWAIT"));
    CSerialCommState state;
    state.m_dwBaudRate = 9600;
    state.m_byByteSize = 8;
    ASSERT_TRUE(link.SetState(state));
    link.SetTimeout(5000);
    link.SetWaitHook([] { KeepWindowsResponsive(); });

    CDialog dialog(IDD_PREERASE);
    ASSERT_TRUE(dialog.Create(IDD_PREERASE));
    HWND window = host.Window(dialog);
    dialog.ShowWindow(SW_SHOW);
    PostMessageW(window, WM_CLOSE, 0, 0);

    // Another thread asks the window as the system's hung-window check does.
    std::atomic<bool> waiting{true};
    std::atomic<int> answered{0}, unanswered{0};
    std::thread asker([&] {
        while (waiting) {
            DWORD_PTR result = 0;
            if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 500, &result))
                ++answered;
            else
                ++unanswered;
            Sleep(100);
        }
    });
    loader::CEngine engine(link);
    const loader::Outcome outcome = engine.EraseAll().outcome;
    waiting = false;
    asker.join();
    EXPECT_EQ(outcome, loader::Outcome::Done);
    // Loose bounds: most of the questions were answered while the erase ran.
    EXPECT_GE(answered.load(), 5);
    EXPECT_LE(unanswered.load(), 1);
    EXPECT_TRUE(IsWindow(window)) << "the close box acted in the middle of the wait";
    dialog.DestroyWindow();
}

TEST(Win32Text, FilterAndMessageLines)
{
    EXPECT_EQ(Win32FileFilter("Motorola (*.mot)|*.mot|All (*.*)|*.*||"),
              std::wstring(L"Motorola (*.mot)\0*.mot\0All (*.*)\0*.*\0\0", 38));
    EXPECT_EQ(Win32BoxText("one\rtwo\r\nthree\nfour"), L"one\r\ntwo\r\nthree\r\nfour");
}
