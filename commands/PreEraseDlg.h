#pragma once
// "Erase?" — the confirmation before the erase-program-read sequence.
#include "framework/Dialog.h"

class CPreEraseDlg : public CDialog
{
public:
    explicit CPreEraseDlg(CWnd* parent = nullptr);
};
