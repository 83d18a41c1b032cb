#pragma once
// "Program": shows the area about to be programmed and asks for confirmation.
#include <string>

#include "framework/Dialog.h"

class CPreWriteDlg : public CDialog
{
public:
    explicit CPreWriteDlg(CWnd* parent = nullptr);

    void SetRange(const std::string& start, const std::string& end);

    std::string m_strEnd;
    std::string m_strStart;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};
