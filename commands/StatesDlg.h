#pragma once
// "Status": the two status bytes decoded bit by bit.
#include <cstdint>
#include <string>

#include "framework/Dialog.h"

class CStatesDlg : public CDialog
{
public:
    explicit CStatesDlg(CWnd* parent = nullptr);

    void SetStatus(uint8_t srd1, uint8_t srd2);

    std::string m_strAfterBlock;
    std::string m_strReady;
    std::string m_strProgram;
    std::string m_strErase;
    std::string m_strCheckSum;
    std::string m_strIdCheck;
    std::string m_strReceiveTimeout;
    std::string m_strOverNumber;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};
