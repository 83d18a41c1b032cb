#include "commands/StatesDlg.h"

#include "commands/Command.h"
#include "res/Resource.h"

CStatesDlg::CStatesDlg(CWnd* parent) : CDialog(IDD_STATES, parent) {}

void CStatesDlg::SetStatus(uint8_t srd1, uint8_t srd2)
{
    const loader::StatusTexts texts = loader::DescribeStatus({srd1, srd2});
    m_strReady = texts.ready;
    m_strErase = texts.erase;
    m_strProgram = texts.program;
    m_strAfterBlock = texts.block;
    m_strCheckSum = texts.checkSum;
    m_strIdCheck = texts.idCheck;
    m_strReceiveTimeout = texts.receiveTimeout;
    m_strOverNumber = texts.overNumber;
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
