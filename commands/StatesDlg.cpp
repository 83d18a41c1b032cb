#include "commands/StatesDlg.h"

#include "commands/Command.h"
#include "res/Resource.h"

CStatesDlg::CStatesDlg(CWnd* parent) : CDialog(IDD_STATES, parent) {}

void CStatesDlg::SetStatus(uint8_t srd1, uint8_t srd2)
{
    auto errorText = [](bool set) { return set ? "Error" : "Right"; };
    m_strReady = (srd1 & status::kSrd1Ready) ? "Ready" : "Busy";
    m_strErase = errorText(srd1 & status::kSrd1EraseError);
    m_strProgram = errorText(srd1 & status::kSrd1ProgramError);
    m_strAfterBlock = errorText(srd1 & status::kSrd1BlockError);
    m_strCheckSum = (srd2 & status::kSrd2CheckSum) ? "Match" : "Not match";
    switch (status::IdField(srd2)) {
    case status::kIdNotYet:
        m_strIdCheck = "Not yet";
        break;
    case status::kIdMismatch:
        m_strIdCheck = "Not match";
        break;
    case status::kIdVerified:
        m_strIdCheck = "Match";
        break;
    default:
        m_strIdCheck.clear();
        break;
    }
    m_strReceiveTimeout = (srd2 & status::kSrd2ReceiveTimeout) ? "Timeout" : "Right";
    m_strOverNumber = (srd2 & status::kSrd2OverNumber) ? "Over" : "Right";
}

void CStatesDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_ST_AFTERBLOCK, m_strAfterBlock);
    DDX_Text(pDX, IDC_ST_READY, m_strReady);
    DDX_Text(pDX, IDC_ST_PROGRAM, m_strProgram);
    DDX_Text(pDX, IDC_ST_ERASE, m_strErase);
    DDX_Text(pDX, IDC_ST_CHECKSUM, m_strCheckSum);
    DDX_Text(pDX, IDC_ST_IDCHECK, m_strIdCheck);
    DDX_Text(pDX, IDC_ST_RECEIVE_TIMEOUT, m_strReceiveTimeout);
    DDX_Text(pDX, IDC_ST_OVER_NUMBER, m_strOverNumber);
}
