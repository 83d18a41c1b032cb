#include "app/TorvaneApp.h"

#include <cstdio>
#include <tuple>

#include "app/FirstSetDlg.h"
#include "app/ProgressDlg.h"
#include "app/S_PrgDlg.h"
#include "app/TorvaneDlg.h"
#include "framework/Host.h"
#include "link/SaveIni.h"
#include "loader/Engine.h"
#include "loader/Road.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/ProfileIni.h"
#include "res/Resource.h"
#include "shell/image/IDCheckDlg.h"
#include "shell/link/SetCommDlg.h"
#include "shell/link/SettingCmd.h"

namespace {

constexpr char kInstanceName[] = "TORVANE.exe";
constexpr uint32_t kBaseRate = loader::kBaseRate;
using loader::kByteSize, loader::kNoParity, loader::kOneStopBit;

// The progress window of one command, bound to its own cancel flag.
class CProgressWindow final : public IProgressWindow
{
public:
    CProgressWindow(const std::string& message, const std::string& title, uint32_t upper)
        : m_dialog(CProgressDlg::Start(&m_nCancel))
    {
        CProgressDlg::SetUp(m_dialog.get(), message, title, 0, upper, 0);
    }
    ~CProgressWindow() override { Finish(); }
    void SetPos(uint32_t position) override { CProgressDlg::SetPos(m_dialog.get(), position); }
    bool PumpAndCheckCancel() override
    {
        PumpWaitingMessages();
        return m_nCancel != 0;
    }
    void Finish() override
    {
        if (m_bFinished) return;
        m_bFinished = true;
        CProgressDlg::Finish(m_dialog.get());
        m_dialog.reset();
    }

private:
    int m_nCancel = 0;
    std::unique_ptr<CProgressDlg> m_dialog;
    bool m_bFinished = false;
};

// Why the port did not open, in a box (a Windows GUI program has no terminal) and, where
// there is one, on the terminal. A port that never opened must not be blamed on the panel.
void ReportOpenFailure(const std::string& port, const CSerialComm& link)
{
    const platform::OpenError error = link.LastOpenError();
    std::string text = "Can not open " + port + " (" + platform::ResolvePortName(port).Utf8() +
                       "): " + platform::DescribeOpenError(error) + ".";
#ifndef _WIN32
    if (error == platform::OpenError::AccessDenied)
        text += "\nsudo adduser $USER dialout, then log in again.";
#endif
    std::fprintf(stderr, "torvane: %s\n", text.c_str());
    AfxMessageBoxCaption(nullptr, text, AfxLoadString(IDS_CAPTION), MB_ICONSTOP);
}

} // namespace

CTorvaneApp& TheApp()
{
    return *static_cast<CTorvaneApp*>(AfxGetApp());
}

// A second copy is told so; a lock that cannot be made is told apart, with the reason,
// since "already running" would send the user looking for a copy that does not exist.
static bool InstanceLockHeld(platform::CInstanceLock::Result result, const std::string& why)
{
    if (result == platform::CInstanceLock::Result::Held) return true;
    const std::string text = result == platform::CInstanceLock::Result::HeldByAnother
                                 ? AfxLoadString(IDS_ALREADY_RUNNING)
                                 : "Cannot create the lock that keeps a second copy from starting:\n" + why;
    AfxMessageBoxCaption(nullptr, text, AfxLoadString(IDS_CAPTION), MB_ICONSTOP);
    return false;
}

CTorvaneApp::CTorvaneApp() = default;
CTorvaneApp::~CTorvaneApp() = default;

BOOL CTorvaneApp::InitInstance()
{
    if (std::string why; m_bSingleInstance && !InstanceLockHeld(m_hMutex.TryAcquire(kInstanceName, why), why))
        return FALSE;
    m_bIdPassed = FALSE;

    // The port dialog comes back until a port opens or the technician leaves.
    std::string port;
    for (;;) {
        CS_PrgDlg portDialog;
        if (portDialog.DoModal() != IDOK) return FALSE;
        port = portDialog.m_strPort;
        if (m_link.Open(port)) break;
        ReportOpenFailure(port, m_link);
    }
    m_strPortName = port;
    m_link.SetWaitHook([] { KeepWindowsResponsive(); });

    loader::CEngine engine(m_link);
    loader::RunReport report;
    // The boot loader answers the burst with one 0xB0 at 9600 bit/s.
    if (!loader::Synchronise(engine, report, loader::ConnectOptions()).Ok()) TimeoutRecovery();
    loader::Settle(engine);

    uint32_t baudRate = kBaseRate;
    uint8_t byteSize = kByteSize, parity = kNoParity, stopBits = kOneStopBit;
    {
        CSaveIni settings;
        if (settings.Load()) {
            settings.Get(baudRate, byteSize, parity, stopBits);
            baudRate = ChangeBaudRate(m_link, baudRate, byteSize, parity, stopBits, IDS_COMM_ERROR_STARTUP);
        }
    }

    loader::StatusRegister status;
    if (loader::ReadFreshStatus(engine, report, status).Ok()) {
        m_bLinkOk = TRUE;
        CSaveIni settings;
        settings.Set(baudRate, byteSize, parity, stopBits);
        ReportSettingsWriteFailure(settings.Save());
        LearnIdState(status);
    } else {
        m_bLinkOk = FALSE;
        CFirstSetDlg firstSetting;
        const INT_PTR answer = firstSetting.DoModal();
        if (answer == IDOK) {
            CSettingCmd setting;
            setting.Run();
        } else if (answer == IDCANCEL) {
            AfxMessageBoxCaption(nullptr, AfxLoadString(IDS_NO_OUTSIDE), AfxLoadString(IDS_CAPTION),
                                 MB_ICONSTOP);
        }
    }

    std::ignore = engine.ClearStatus();

    {
        CIDCheckDlg upgradeDialog;
        upgradeDialog.DoModal();
    }
    {
        CTorvaneDlg panel;
        m_pMainWnd = &panel;
        panel.DoModal();
        m_pMainWnd = nullptr;
    }
    m_link.Close();
    return FALSE;
}

BOOL CTorvaneApp::ApplyLinkState(CSerialComm& link, uint32_t baudRate, uint8_t byteSize, uint8_t parity,
                                 uint8_t stopBits)
{
    CSerialCommState state;
    state.m_dwBaudRate = baudRate;
    state.m_byByteSize = byteSize;
    state.m_byParity = parity;
    state.m_byStopBits = stopBits;
    return link.SetState(state);
}

uint32_t CTorvaneApp::ChangeBaudRate(CSerialComm& link, uint32_t newRate, uint8_t, uint8_t, uint8_t,
                                     unsigned messageId)
{
    loader::CEngine engine(link);
    loader::RunReport report;
    loader::RateChangeOptions options;
    // Both ends go on at the old speed, which the confirm proves.
    options.confirmAfterRefusal = true;
    options.refused = [messageId] { AfxMessageBox(messageId, MB_ICONEXCLAMATION); };
    const loader::RateChange change = loader::ChangeRate(engine, report, newRate, options);
    if (change.result.Ok()) return change.rate;
    return TimeoutRecovery();
}

void CTorvaneApp::ReturnTo9600(CSerialComm& link)
{
    loader::CEngine engine(link);
    loader::RunReport report;
    const loader::RateChange change = loader::ReturnTo9600(engine, report, false);
    if (change.result.Ok()) return;
    AfxMessageBox(IDS_NO_9600, change.refused ? MB_ICONEXCLAMATION : MB_ICONSTOP);
}

void CTorvaneApp::LearnIdState(const loader::StatusRegister& status)
{
    switch (status.IdField()) {
    case status::kIdVerified:
        m_bIdPassed = TRUE;
        break;
    case status::kIdNotYet:
    case status::kIdMismatch:
        m_bIdPassed = FALSE;
        break;
    default: // not a verdict either way
        break;
    }
}

uint32_t CTorvaneApp::CommandPagePause()
{
    uint32_t pause = g_dwPagePause;
    CSetCommDlg().GetPagePause(pause);
    return pause;
}

std::unique_ptr<IProgressWindow> CTorvaneApp::StartProgress(const std::string& message,
                                                            const std::string& title, uint32_t upper)
{
    return std::make_unique<CProgressWindow>(message, title, upper);
}

void CTorvaneApp::ReopenLink()
{
    if (m_link.IsOpen()) m_strPortName = m_link.DeviceName();
    if (m_strPortName.empty()) return;
    const uint32_t timeout = m_link.GetTimeout();
    m_link.Close();
    if (!m_link.Open(m_strPortName)) {
        // Once per loss: a recovery that goes round again must not pile up boxes.
        if (!m_bReopenFailureShown) ReportOpenFailure(m_strPortName, m_link);
        m_bReopenFailureShown = TRUE;
        return;
    }
    m_bReopenFailureShown = FALSE;
    m_link.SetTimeout(timeout);
}

uint32_t CTorvaneApp::TimeoutRecovery()
{
    if (m_nRecoveryDepth > 0) {
        // Called from the baud-rate dialog that a running recovery offered: let that
        // recovery go round again instead of nesting (a silent device and a patient
        // user must not exhaust the stack).
        m_bRecoveryHandedBack = TRUE;
        return 0;
    }
    ++m_nRecoveryDepth;
    int handedBack = 0;
    uint32_t result = 0;
    for (;;) {
        // What the silent exchange left in the input goes with the synchronisation below.
        AfxMessageBox(IDS_TIMEOUT_ERROR, MB_ICONSTOP);
        ReopenLink();
        m_bLinkOk = FALSE;
        m_bIdPassed = FALSE;
        m_bIdLostInRecovery = TRUE;
        {
            // Stored before the dialog, so a program killed meanwhile starts at 9600 next time.
            CSaveIni settings;
            settings.Set(kBaseRate, kByteSize, kNoParity, kOneStopBit);
            ReportSettingsWriteFailure(settings.Save());
        }
        ApplyLinkState(m_link, kBaseRate, kByteSize, kNoParity, kOneStopBit);
        loader::CEngine engine(m_link);
        // Unanswered on purpose: the rate change that follows starts with a purge.
        std::ignore = loader::SendSync(engine, loader::kRecoveryFillerPause);

        m_bRecoveryHandedBack = FALSE;
        CSettingCmd setting;
        result = setting.Run();
        if (!m_bRecoveryHandedBack) break;
        ++handedBack;
    }
    m_bRecoveryHandedBack = FALSE;
    // Each dialog that handed its recovery back now finishes as it would have after a
    // nested recovery returned this result.
    for (int i = 0; i < handedBack; ++i)
        result = CSettingCmd::Conclude(result, kByteSize, kNoParity, kOneStopBit);
    --m_nRecoveryDepth;
    return result;
}
