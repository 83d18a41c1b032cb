#pragma once
// "Load Upgrade File": loads the upgrade into the memory image and passes the boot
// loader's flash ID check.
#include <cstdint>
#include <string>

#include "framework/Dialog.h"

class CIDCheckDlg : public CDialog
{
public:
    explicit CIDCheckDlg(CWnd* parent = nullptr);

    void OnLoad();
    // The verdict of the last ID frame: 1 verified, 0 not verified, -1 no reply.
    int CheckIdStatus();
    static BOOL HexTextToByte(uint8_t& place, const std::string& text);
    static BOOL LoadUpgradeFile(const std::string& path);
    // The file's bytes, read once, judged by their content and loaded.
    static BOOL LoadReadBytes(const std::string& bytes);
    // The ID file that belongs to an upgrade file ("" when the extension is not ours).
    static std::string IdFileName(const std::string& path);

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
    // Reads the ID file's entries; false when it cannot be opened or read.
    bool MarkStyleFromIdFile(const std::string& idFile);
    bool ReadIdTexts(const std::string& idFile);
    void ClearIdTexts();

    int m_nIdVerdict = -1;
};
