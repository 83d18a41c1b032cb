#include "shell/link/SetCommDlg.h"

#include <cctype>

#include "loader/Protocol.h"
#include "res/Resource.h"

uint32_t g_dwPagePause = linktime::kDefaultPagePause;

uint32_t ParseUnsignedDecimal(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    if (i < text.size() && text[i] == '+') ++i;
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    return value;
}

CSetCommDlg::CSetCommDlg(CWnd* parent)
    : CDialog(IDD_SETCOMM, parent), m_strPagePause(std::to_string(g_dwPagePause))
{
}

BOOL CSetCommDlg::SetCommValues(uint32_t baudRate, uint8_t, uint8_t, uint8_t)
{
    m_strBaudRate = std::to_string(baudRate);
    return TRUE;
}

BOOL CSetCommDlg::GetCommValues(uint32_t& baudRate, uint8_t&, uint8_t&, uint8_t&) const
{
    if (m_strBaudRate.empty()) return FALSE;
    baudRate = ParseUnsignedDecimal(m_strBaudRate);
    return TRUE;
}

BOOL CSetCommDlg::GetPagePause(uint32_t& milliseconds) const
{
    if (m_strPagePause.empty()) return FALSE;
    milliseconds = ParseUnsignedDecimal(m_strPagePause);
    return TRUE;
}

void CSetCommDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_CBString(pDX, IDC_BAUDRATE, m_strBaudRate);
    DDX_CBString(pDX, IDC_PAGE_PAUSE, m_strPagePause);
}

void CSetCommDlg::OnOK()
{
    UpdateData(TRUE);
    if (!m_strPagePause.empty()) g_dwPagePause = ParseUnsignedDecimal(m_strPagePause);
    EndDialog(IDOK);
}
