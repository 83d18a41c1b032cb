#pragma once
// "Input Address": the address range of the service commands, remembered for the run.
#include <cstdint>
#include <string>

#include "framework/Dialog.h"

extern std::string g_strLastStart;
extern std::string g_strLastEnd;

class CSetAddressDlg : public CDialog
{
public:
    explicit CSetAddressDlg(CWnd* parent = nullptr);

    void SetRange(const std::string& start, const std::string& end);
    BOOL GetAddressText(const std::string& name, std::string& text) const;
    // The text names an address of the 24-bit space.
    static BOOL IsAddressText(const std::string& text);
    static constexpr uint64_t kHighestAddress = 0xFFFFFF;

    std::string m_strEnd;
    std::string m_strStart;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
};
