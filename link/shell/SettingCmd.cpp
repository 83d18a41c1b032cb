#include "link/shell/SettingCmd.h"

#include "app/TorvaneApp.h"
#include "framework/WaitCursor.h"
#include "link/SaveIni.h"
#include "link/shell/SetCommDlg.h"
#include "loader/Engine.h"
#include "res/Resource.h"

uint32_t CSettingCmd::Run()
{
    CSetCommDlg dialog;
    uint32_t baudRate = 9600;
    uint8_t byteSize = 8, parity = 0, stopBits = 0;

    CSaveIni settings;
    if (settings.Load()) settings.Get(baudRate, byteSize, parity, stopBits);
    dialog.SetCommValues(baudRate, byteSize, parity, stopBits);

    if (dialog.DoModal() != IDOK) return 0;

    CWaitCursor wait;
    dialog.GetCommValues(baudRate, byteSize, parity, stopBits);
    CTorvaneApp& app = TheApp();
    const uint32_t result =
        app.ChangeBaudRate(app.m_link, baudRate, byteSize, parity, stopBits, IDS_COMM_ERROR_SETTING);
    // A recovery that met silence again hands its dialog back to the recovery loop
    // that is running us; the loop concludes this run once the chain has ended.
    if (app.RecoveryHandedBack()) return 0;
    return Conclude(result, byteSize, parity, stopBits);
}

uint32_t CSettingCmd::Conclude(uint32_t result, uint8_t byteSize, uint8_t parity, uint8_t stopBits)
{
    CTorvaneApp& app = TheApp();
    if (result == 0) {
        app.m_bLinkOk = FALSE;
        app.m_link.Purge(0);
        return 0;
    }
    app.m_bLinkOk = TRUE;
    CSaveIni settings;
    settings.Set(result, byteSize, parity, stopBits);
    ReportSettingsWriteFailure(settings.Save());

    app.m_link.Purge(0);
    loader::CEngine engine(app.m_link);
    loader::StatusRegister status;
    if (engine.ReadStatus(status).Ok()) {
        switch (status.IdField()) {
        case status::kIdVerified:
            app.m_bIdPassed = TRUE;
            break;
        case status::kIdNotYet:
        case status::kIdMismatch:
            app.m_bIdPassed = FALSE;
            break;
        default: // 2: not a verdict either way
            break;
        }
    }
    return result;
}
