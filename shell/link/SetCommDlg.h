#pragma once
// "Set baudrate": shown as a notice with one OK button; its hidden lists carry the
// baud rate to negotiate and the page pause of the programming loops.
#include <cstdint>
#include <string>

#include "framework/Dialog.h"

// Pause after each page frame, in milliseconds; memory only.
extern uint32_t g_dwPagePause;

class CSetCommDlg : public CDialog {
public:
    explicit CSetCommDlg(CWnd* parent = nullptr);

    BOOL SetCommValues(uint32_t baudRate, uint8_t byteSize, uint8_t parity, uint8_t stopBits);
    BOOL GetCommValues(uint32_t& baudRate, uint8_t& byteSize, uint8_t& parity, uint8_t& stopBits) const;
    BOOL GetPagePause(uint32_t& milliseconds) const;

    std::string m_strBaudRate;
    std::string m_strPagePause;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
};

// Unsigned decimal as the C library reads it: leading blanks, digits up to the first
// other character; wraps in 32 bits.
uint32_t ParseUnsignedDecimal(const std::string& text);
