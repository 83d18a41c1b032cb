#include "commands/SetAddressDlg.h"

#include "commands/Command.h"
#include "res/Resource.h"

std::string g_strLastStart = "0C0000";
std::string g_strLastEnd = "0FFFFF";

CSetAddressDlg::CSetAddressDlg(CWnd* parent)
    : CDialog(IDD_SETADDRESS, parent), m_strEnd(g_strLastEnd), m_strStart(g_strLastStart)
{
}

void CSetAddressDlg::SetRange(const std::string& start, const std::string& end)
{
    m_strStart = start;
    m_strEnd = end;
}

BOOL CSetAddressDlg::GetAddressText(const std::string& name, std::string& text) const
{
    const std::string value = name == "start" ? m_strStart : name == "end" ? m_strEnd : std::string();
    if (value.empty()) return FALSE;
    text = value;
    return TRUE;
}

void CSetAddressDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_END_ADDRESS, m_strEnd);
    DDX_Text(pDX, IDC_START_ADDRESS, m_strStart);
}

BOOL CSetAddressDlg::IsAddressText(const std::string& text)
{
    // Read as the commands read it (a non-hex character counts 0), without wrapping
    // in 32 bits, so that "100000000" is not taken for 0.
    uint64_t value = 0;
    for (char c : text) {
        value = value * 16 + static_cast<uint64_t>(CCommand::HexDigitValue(c));
        if (value > kHighestAddress) return FALSE;
    }
    return TRUE;
}

void CSetAddressDlg::OnOK()
{
    UpdateData(TRUE);
    // Addresses have 24 bits: the dialog stays open until both fit.
    if (!IsAddressText(m_strStart) || !IsAddressText(m_strEnd)) return;
    g_strLastStart = m_strStart;
    g_strLastEnd = m_strEnd;
    EndDialog(IDOK);
}
