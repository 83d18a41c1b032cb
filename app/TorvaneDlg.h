#pragma once
// The main panel: Erase, then Program, then Exit, each behind the readiness gate and a
// link probe; nine hidden service buttons keep their handlers.
#include "framework/Dialog.h"

class CTorvaneDlg : public CDialog
{
public:
    explicit CTorvaneDlg(CWnd* parent = nullptr);

    BOOL CheckReady();
    // A whole upgrade image is loaded; otherwise says why not. Before any flash write.
    BOOL CheckImage(bool needsUpgradeArea = true);
    BOOL ProbeLink();

    void OnErase();
    void OnProgram();
    void OnLoadId();
    void OnBlank();
    void OnRead();
    void OnBpr();
    void OnEpr();
    void OnSetting();
    void OnStatus();
    void OnDownload();
    void OnVersion();

    int m_hIcon;

protected:
    BOOL OnInitDialog() override;
    void OnSysCommand(unsigned id, long lParam) override;
    // The panel has no OK button: an OK command (Enter with no button focused) must not
    // end it, because only the exit procedure returns the device to 9600 bit/s.
    void OnOK() override {}
    void OnCancel() override;

private:
    // Link flag only (the handlers that do not need the ID check).
    BOOL CheckLink();
    // After a recovery lost the ID: the "Load Upgrade File" dialog once more and, when the
    // ID passes, the panel back to Erase (the flash may hold part of an image).
    void OfferIdCheck();
};
