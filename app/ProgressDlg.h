#pragma once
// The modeless progress window of the long operations. It does not run the operation:
// the command moves the bar, pumps messages between pages and reads the cancel flag
// that the window sets when the user closes it.
#include <memory>
#include <string>

#include "framework/Dialog.h"

class CProgressDlg : public CDialog
{
public:
    CProgressDlg();
    // Opens the window bound to the caller's cancel flag; with no parent, the active
    // window is disabled meanwhile. Empty when the flag is null or creation fails. The
    // caller owns the object, which outlives its window (the user may close that first).
    static std::unique_ptr<CProgressDlg> Start(int* cancelFlag, CWnd* parent = nullptr);

    // The object may be nullptr (no window could be made): then these do nothing.
    static void SetUp(CProgressDlg* dialog, const std::string& message, const std::string& title,
                      uint32_t lower, uint32_t upper, uint32_t position);
    static void SetPos(CProgressDlg* dialog, uint32_t position);
    // Closes the window if still open; its owner releases the object.
    static void Finish(CProgressDlg* dialog);

    INT_PTR DoModal() override { return -1; } // never run modally

    CProgressCtrl m_progress;
    std::string m_strMessage;
    CWnd* m_pParent = nullptr;
    BOOL m_bParentEnabled = FALSE;
    int* m_pbCancel = nullptr;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override {} // Enter must not close the window
    void OnCancel() override;
};
