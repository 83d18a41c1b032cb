#include "shell/link/SettingCmd.h"

#include <cstdio>

#include "framework/WaitCursor.h"
#include "link/SaveIni.h"
#include "loader/Road.h"
#include "res/Resource.h"
#include "shell/link/SetCommDlg.h"

uint32_t CSettingCmd::Run()
{
    CSetCommDlg dialog;
    uint32_t baudRate = loader::kBaseRate;
    uint8_t byteSize = loader::kByteSize, parity = loader::kNoParity, stopBits = loader::kOneStopBit;

    CSaveIni settings;
    if (settings.Load()) settings.Get(baudRate, byteSize, parity, stopBits);
    dialog.SetCommValues(baudRate, byteSize, parity, stopBits);

    if (dialog.DoModal() != IDOK) return 0;

    CWaitCursor wait;
    dialog.GetCommValues(baudRate, byteSize, parity, stopBits);
    ICommandContext& app = CommandContext();
    const uint32_t result =
        app.ChangeBaudRate(app.CommandLink(), baudRate, byteSize, parity, stopBits, IDS_COMM_ERROR_SETTING);
    // A recovery that met silence again hands its dialog back to the recovery loop
    // that is running us; the loop concludes this run once the chain has ended.
    if (app.RecoveryHandedBack()) return 0;
    return Conclude(result, byteSize, parity, stopBits);
}

uint32_t CSettingCmd::Conclude(uint32_t result, uint8_t byteSize, uint8_t parity, uint8_t stopBits)
{
    ICommandContext& app = CommandContext();
    if (result == 0) {
        // The next exchange starts from a purge of its own.
        app.SetLinkOk(FALSE);
        return 0;
    }
    app.SetLinkOk(TRUE);
    CSaveIni settings;
    settings.Set(result, byteSize, parity, stopBits);
    ReportSettingsWriteFailure(settings.Save());

    loader::CEngine engine(app.CommandLink());
    loader::RunReport report;
    loader::StatusRegister status;
    if (loader::ReadFreshStatus(engine, report, status).Ok()) app.LearnIdState(status);
    return result;
}

void ReportSettingsWriteFailure(const platform::ProfileWrite& written)
{
    if (!written)
        std::fprintf(stderr, "torvane: cannot write the settings file: %s\n", written.error.c_str());
}
