#pragma once
// "Program/Download File Select": the upgrade dialog for a run without the ID check.
#include <string>

#include "framework/Dialog.h"

class CSelectDlg : public CDialog
{
public:
    explicit CSelectDlg(CWnd* parent = nullptr);

    void OnRefer();

    std::string m_strFileName;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
};
