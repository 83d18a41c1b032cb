#pragma once
// Asked when the device did not answer at start-up: set the communication state now?
#include "framework/Dialog.h"

class CFirstSetDlg : public CDialog
{
public:
    explicit CFirstSetDlg(CWnd* parent = nullptr);
};
