#pragma once
// "Firmware Version": the boot loader's version text.
#include <string>

#include "framework/Dialog.h"

class CVersionDlg : public CDialog
{
public:
    explicit CVersionDlg(CWnd* parent = nullptr);
    void SetVersion(const char* text) { m_strVersion = text; }

    std::string m_strVersion;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};
