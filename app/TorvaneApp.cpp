#include "app/TorvaneApp.h"

#include <cstdio>

#include "app/FirstSetDlg.h"
#include "app/S_PrgDlg.h"
#include "app/TorvaneDlg.h"
#include "commands/Command.h"
#include "framework/Host.h"
#include "image/IDCheckDlg.h"
#include "link/SaveIni.h"
#include "link/SettingCmd.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/ProfileIni.h"
#include "res/Resource.h"

namespace {

constexpr char kInstanceName[] = "TORVANE.exe";
constexpr uint32_t kBaseRate = 9600;
constexpr uint8_t kByteSize = 8, kNoParity = 0, kOneStopBit = 0;
constexpr int kSyncFillerCount = 16;
constexpr uint32_t kStartupFillerPause = 20;  // after each filler byte at start-up
constexpr uint32_t kRecoveryFillerPause = 15; // after each filler byte in the recovery
constexpr uint32_t kCodeSettleTime = 1000;    // after each acknowledged code

// One line on the terminal for what no dialog can tell: why the port did not open.
void ReportOpenFailure(const std::string& port, const CSerialComm& link)
{
    const platform::OpenError error = link.LastOpenError();
    std::string line = "torvane: cannot open port " + port + " (" + platform::ResolvePortName(port).string() +
                       "): " + platform::DescribeOpenError(error);
    if (error == platform::OpenError::AccessDenied)
        line += " - sudo adduser $USER dialout, then log in again";
    std::fprintf(stderr, "%s\n", line.c_str());
}

} // namespace

CTorvaneApp& TheApp()
{
    return *static_cast<CTorvaneApp*>(AfxGetApp());
}

void ReportSettingsWriteFailure()
{
    if (const std::string error = platform::LastProfileWriteError(); !error.empty())
        std::fprintf(stderr, "torvane: cannot write the settings file: %s\n", error.c_str());
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

    std::string port;
    {
        CS_PrgDlg portDialog;
        if (portDialog.DoModal() != IDOK) return FALSE;
        port = portDialog.m_strPort;
    }
    m_strPortName = port;

    if (!m_link.Open(port)) ReportOpenFailure(port, m_link);
    ApplyLinkState(m_link, kBaseRate, kByteSize, kNoParity, kOneStopBit);
    m_link.SetTimeout(linktime::kNormalReadTimeout);

    // Synchronise: the boot loader answers the burst with one 0xB0 at 9600 bit/s.
    Sleep(50);
    m_link.Purge(0);
    SendSyncBurst(kStartupFillerPause);
    uint8_t echo = 0;
    if (m_link.Read(&echo, 1) == 0 || echo != bootcode::kBaud9600) TimeoutRecovery();

    Sleep(kCodeSettleTime);
    m_link.Purge(0);

    uint32_t baudRate = kBaseRate;
    uint8_t byteSize = kByteSize, parity = kNoParity, stopBits = kOneStopBit;
    {
        CSaveIni settings;
        if (settings.Load()) {
            settings.Get(baudRate, byteSize, parity, stopBits);
            baudRate = ChangeBaudRate(m_link, baudRate, byteSize, parity, stopBits, IDS_COMM_ERROR_STARTUP);
        }
    }

    m_link.Purge(0);
    const uint8_t statusRequest = bootcode::kReadStatus;
    uint8_t reply[2] = {0, 0};
    m_link.Write(&statusRequest, 1);
    if (m_link.Read(reply, 2) != 0) {
        m_bLinkOk = TRUE;
        CSaveIni settings;
        settings.Set(baudRate, byteSize, parity, stopBits);
        settings.Save();
        ReportSettingsWriteFailure();
        switch (status::IdField(reply[1])) {
        case status::kIdVerified:
            m_bIdPassed = TRUE;
            break;
        case status::kIdNotYet:
        case status::kIdMismatch:
            m_bIdPassed = FALSE;
            break;
        default:
            break;
        }
    } else {
        m_bLinkOk = FALSE;
        m_link.Purge(0);
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

    const uint8_t clearStatus = bootcode::kClearStatus;
    m_link.Write(&clearStatus, 1);
    Sleep(50);

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

uint8_t CTorvaneApp::BaudCode(uint32_t baudRate)
{
    switch (baudRate) {
    case 9600:
        return bootcode::kBaud9600;
    case 19200:
        return bootcode::kBaud19200;
    case 38400:
        return bootcode::kBaud38400;
    case 57600:
        return bootcode::kBaud57600;
    case 115200:
        return bootcode::kBaud115200;
    default:
        return 0x00;
    }
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

BOOL CTorvaneApp::NegotiateBaudRate(uint32_t currentRate, uint32_t newRate)
{
    const uint8_t codes[2] = {BaudCode(currentRate), BaudCode(newRate)};
    m_link.Purge(0);
    Sleep(50);
    // The first code proves the device still listens at this speed; the second moves it.
    for (const uint8_t code : codes) {
        m_link.Write(&code, 1);
        uint8_t echo = 0;
        if (m_link.Read(&echo, 1) == 0 || echo != code) {
            m_link.Purge(0);
            return FALSE;
        }
        Sleep(kCodeSettleTime);
    }
    return TRUE;
}

uint32_t CTorvaneApp::ChangeBaudRate(CSerialComm& link, uint32_t newRate, uint8_t, uint8_t, uint8_t,
                                     unsigned messageId)
{
    CSerialCommState state;
    link.GetState(state);
    uint32_t rate = newRate;
    if (!NegotiateBaudRate(state.m_dwBaudRate, newRate)) {
        AfxMessageBox(messageId, MB_ICONEXCLAMATION);
        link.GetState(state);
        rate = state.m_dwBaudRate;
    }
    ApplyLinkState(link, rate, kByteSize, kNoParity, kOneStopBit);
    // An echo that came late after a failed negotiation must not be taken for this one.
    link.Purge(0);
    const uint8_t code = BaudCode(rate);
    link.Write(&code, 1);
    uint8_t echo = 0;
    if (link.Read(&echo, 1) != 0 && echo == code) return rate;
    return TimeoutRecovery();
}

void CTorvaneApp::ReturnTo9600(CSerialComm& link)
{
    CSerialCommState state;
    link.GetState(state);
    if (!NegotiateBaudRate(state.m_dwBaudRate, kBaseRate)) {
        AfxMessageBox(IDS_NO_9600, MB_ICONEXCLAMATION);
        return;
    }
    ApplyLinkState(link, kBaseRate, kByteSize, kNoParity, kOneStopBit);
    const uint8_t code = bootcode::kBaud9600;
    link.Write(&code, 1);
    uint8_t echo = 0;
    if (link.Read(&echo, 1) != 0 && echo == code) return;
    AfxMessageBox(IDS_NO_9600, MB_ICONSTOP);
}

void CTorvaneApp::SendSyncBurst(uint32_t fillerPause)
{
    const uint8_t syncCode = bootcode::kBaud9600;
    m_link.Write(&syncCode, 1);
    Sleep(50);
    for (int i = 0; i < kSyncFillerCount; ++i) {
        const uint8_t filler = bootcode::kSyncFiller;
        m_link.Write(&filler, 1);
        Sleep(fillerPause);
    }
    Sleep(50);
}

void CTorvaneApp::ReopenLinkIfLost()
{
    if (m_strPortName.empty() || (m_link.IsOpen() && !m_link.IsHungUp())) return;
    const uint32_t timeout = m_link.GetTimeout();
    m_link.Close();
    if (!m_link.Open(m_strPortName)) {
        ReportOpenFailure(m_strPortName, m_link);
        return;
    }
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
        m_link.Purge(0);
        AfxMessageBox(IDS_TIMEOUT_ERROR, MB_ICONSTOP);
        ReopenLinkIfLost();
        m_bLinkOk = FALSE;
        m_bIdPassed = FALSE;
        {
            // Stored before the dialog, so a program killed meanwhile starts at 9600 next time.
            CSaveIni settings;
            settings.Set(kBaseRate, kByteSize, kNoParity, kOneStopBit);
            settings.Save();
            ReportSettingsWriteFailure();
        }
        ApplyLinkState(m_link, kBaseRate, kByteSize, kNoParity, kOneStopBit);
        SendSyncBurst(kRecoveryFillerPause);

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
