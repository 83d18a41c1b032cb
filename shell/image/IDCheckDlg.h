#pragma once
// "Load Upgrade File": loads the upgrade into the memory image and passes the boot
// loader's flash ID check.
#include <cstdint>
#include <string>

#include "framework/Dialog.h"

namespace upgrade {
struct UpgradeSource;
}

class CIDCheckDlg : public CDialog
{
public:
    explicit CIDCheckDlg(CWnd* parent = nullptr);

    void OnLoad();
    // The verdict of the last ID frame: 1 verified, 0 not verified, -1 no reply.
    int CheckIdStatus();
    static BOOL HexTextToByte(uint8_t& place, const std::string& text);
    // Reads the file and its .id once (into read, when given) and loads the image from
    // those bytes; false when the file is refused.
    static BOOL LoadUpgradeFile(const std::string& path, upgrade::UpgradeSource* read = nullptr);

    std::string m_strFileName;
    std::string m_strId1, m_strId2, m_strId3, m_strId4, m_strId5, m_strId6, m_strId7;
    int m_nChipStyle;

    static int s_nChipStyle;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;

private:
    std::string* IdText(int index); // 0..6
    void SetChipStyle(int style);
    // The ID file's entries for the chip style now set.
    void ShowIdTexts(const std::string& idText);
    void ClearIdTexts();

    int m_nIdVerdict = -1;
};
