#pragma once
// "Download?" — the confirmation before a boot-program download.
#include "framework/Dialog.h"

class CDownloadDlg : public CDialog
{
public:
    explicit CDownloadDlg(CWnd* parent = nullptr);
};
