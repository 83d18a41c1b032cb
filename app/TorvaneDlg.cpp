#include "app/TorvaneDlg.h"

#include <tuple>

#include "app/AboutDlg.h"
#include "app/ServiceRecords.h"
#include "app/TorvaneApp.h"
#include "commands/BPRCmd.h"
#include "commands/BlankCmd.h"
#include "commands/Command.h"
#include "commands/DownloadCmd.h"
#include "commands/EPRCmd.h"
#include "commands/EraseCmd.h"
#include "commands/PreEraseDlg.h"
#include "commands/ProgramCmd.h"
#include "commands/ReadCmd.h"
#include "commands/StatesCmd.h"
#include "commands/VersionCmd.h"
#include "framework/Host.h"
#include "image/UpgradeArea.h"
#include "loader/Road.h"
#include "res/Resource.h"
#include "shell/image/IDCheckDlg.h"
#include "shell/link/SettingCmd.h"

CTorvaneDlg::CTorvaneDlg(CWnd* parent) : CDialog(IDD_TORVANE_DIALOG, parent), m_hIcon(IDR_MAINFRAME)
{
    OnCommandId(IDC_ERASE, [this] { OnErase(); });
    OnCommandId(IDC_PROGRAM, [this] { OnProgram(); });
    OnCommandId(IDC_LOAD_ID, [this] { OnLoadId(); });
    OnCommandId(IDC_BLANK, [this] { OnBlank(); });
    OnCommandId(IDC_READ, [this] { OnRead(); });
    OnCommandId(IDC_BPR, [this] { OnBpr(); });
    OnCommandId(IDC_EPR, [this] { OnEpr(); });
    OnCommandId(IDC_SETTING, [this] { OnSetting(); });
    OnCommandId(IDC_STATUS, [this] { OnStatus(); });
    OnCommandId(IDC_DOWNLOAD, [this] { OnDownload(); });
    OnCommandId(IDC_VERSION, [this] { OnVersion(); });
}

BOOL CTorvaneDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    const std::string aboutMenu = AfxLoadString(IDS_ABOUTBOX);
    if (CMenu* systemMenu = GetSystemMenu(FALSE); systemMenu && !aboutMenu.empty()) {
        systemMenu->AppendMenu(MF_SEPARATOR);
        systemMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, aboutMenu);
    }
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    return TRUE;
}

void CTorvaneDlg::OnSysCommand(unsigned id, long lParam)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
        return;
    }
    CDialog::OnSysCommand(id, lParam);
}

BOOL CTorvaneDlg::CheckReady()
{
    CTorvaneApp& app = TheApp();
    if (!app.m_bLinkOk) {
        AfxMessageBox(IDS_CAN_NOT_COMMUNICATE, MB_ICONINFORMATION, this);
        return FALSE;
    }
    if (!app.m_bIdPassed) {
        AfxMessageBox(IDS_DID_NOT_PASS_ID, MB_ICONINFORMATION, this);
        if (app.m_bIdLostInRecovery) OfferIdCheck();
        return FALSE;
    }
    return TRUE;
}

void CTorvaneDlg::OfferIdCheck()
{
    // Without this the technician of a panel power-cycled mid-command has only a button
    // that answers "Did not pass ID." and a close box that leaves the panel half-written.
    if (!ProbeLink()) return;
    CIDCheckDlg dialog;
    dialog.DoModal();
    CTorvaneApp& app = TheApp();
    if (!app.m_bIdPassed) return;
    app.m_bIdLostInRecovery = FALSE;
    GetDlgItem(IDC_ERASE)->EnableWindow(TRUE);
    GetDlgItem(IDC_PROGRAM)->EnableWindow(FALSE);
}

BOOL CTorvaneDlg::CheckLink()
{
    if (TheApp().m_bLinkOk) return TRUE;
    AfxMessageBox(IDS_CAN_NOT_COMMUNICATE, MB_ICONINFORMATION, this);
    return FALSE;
}

BOOL CTorvaneDlg::CheckImage(bool needsUpgradeArea)
{
    // Erasing without a whole upgrade to write afterwards would leave the panel blank.
    switch (TheApp().m_image.GetLoadState()) {
    case CMotFile::LoadState::Whole:
        // A file for another memory map would program the whole area with 0xFF.
        if (!needsUpgradeArea || HoldsUpgradeArea(TheApp().m_image)) return TRUE;
        break;
    case CMotFile::LoadState::None:
        AfxMessageBox(IDS_NO_FILENAME, MB_ICONEXCLAMATION, this);
        return FALSE;
    case CMotFile::LoadState::Refused:
        break;
    }
    AfxMessageBox(IDS_CAN_NOT_ACCEPT_FILE, MB_ICONSTOP, this);
    return FALSE;
}

BOOL CTorvaneDlg::ProbeLink()
{
    CTorvaneApp& app = TheApp();
    loader::CEngine engine(app.m_link);
    loader::RunReport report;
    loader::StatusRegister status;
    if (loader::ReadFreshStatus(engine, report, status).Ok()) return TRUE;
    app.TimeoutRecovery();
    return FALSE;
}

void CTorvaneDlg::OnErase()
{
    if (!CheckReady() || !CheckImage() || !ProbeLink()) return;
    CEraseCmd command;
    CServiceRecording record("erase");
    const int done = command.Run();
    record.Finish(command.Report());
    if (done) {
        GetDlgItem(IDC_ERASE)->EnableWindow(FALSE);
        GetDlgItem(IDC_PROGRAM)->EnableWindow(TRUE);
    }
}

void CTorvaneDlg::OnProgram()
{
    if (!CheckReady() || !CheckImage() || !ProbeLink()) return;
    CProgramCmd command;
    CServiceRecording record("program");
    const int done = command.Run();
    record.Finish(command.Report());
    if (done) {
        GetDlgItem(IDC_PROGRAM)->EnableWindow(FALSE);
        GetDlgItem(IDCANCEL)->EnableWindow(TRUE); // "Exit"
    }
}

void CTorvaneDlg::OnLoadId()
{
    if (!CheckLink() || !ProbeLink()) return;
    CIDCheckDlg dialog;
    dialog.DoModal();
}

void CTorvaneDlg::OnBlank()
{
    if (!CheckReady() || !ProbeLink()) return;
    CBlankCmd command;
    command.Run();
}

void CTorvaneDlg::OnRead()
{
    if (!CheckReady() || !ProbeLink()) return;
    CReadCmd command;
    command.Run();
}

void CTorvaneDlg::OnBpr()
{
    if (!CheckReady() || !CheckImage() || !ProbeLink()) return;
    CBPRCmd command;
    CServiceRecording record("blank-program-verify");
    std::ignore = command.Run();
    record.Finish(command.Report());
}

void CTorvaneDlg::OnEpr()
{
    if (!CheckReady() || !CheckImage() || !ProbeLink()) return;
    CPreEraseDlg confirm;
    if (confirm.DoModal() != IDOK) return;
    CEPRCmd command;
    CServiceRecording record("erase-program-verify");
    std::ignore = command.Run();
    record.Finish(command.Report());
}

void CTorvaneDlg::OnSetting()
{
    if (!CheckLink() || !ProbeLink()) return;
    CSettingCmd command;
    command.Run();
}

void CTorvaneDlg::OnStatus()
{
    if (!CheckLink() || !ProbeLink()) return;
    CStatesCmd command;
    command.Run();
}

void CTorvaneDlg::OnDownload()
{
    if (!CheckReady() || !CheckImage(false) || !ProbeLink()) return;
    CDownloadCmd command;
    command.Run();
}

void CTorvaneDlg::OnVersion()
{
    if (!CheckLink() || !ProbeLink()) return;
    CVersionCmd command;
    command.Run();
}

void CTorvaneDlg::OnCancel()
{
    CTorvaneApp& app = TheApp();
    app.ReturnTo9600(app.m_link);
    app.m_hMutex.Release();
    CDialog::OnCancel();
}
