#pragma once
// The first window: which port reaches the panel's boot loader.
#include <string>

#include "framework/Dialog.h"

class CS_PrgDlg : public CDialog
{
public:
    explicit CS_PrgDlg(CWnd* parent = nullptr);

    std::string m_strPort;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};
