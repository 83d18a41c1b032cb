#include "app/S_PrgDlg.h"

#include "platform/SerialPorts.h"
#include "res/Resource.h"

CS_PrgDlg::CS_PrgDlg(CWnd* parent) : CDialog(IDD_S_PRG, parent), m_strPort("COM1")
{
    // After COM1..COM10, the adapters plugged in now and the ports folder's aliases; the
    // text chosen is the name opened.
    CControl* ports = GetDlgItem(IDC_PORT);
    for (const std::string& name :
         platform::PortsToOffer(ports->Items(), platform::ListSerialPorts(), platform::ListPortAliases()))
        ports->AddString(name);
}

void CS_PrgDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_CBString(pDX, IDC_PORT, m_strPort);
}
