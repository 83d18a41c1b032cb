#pragma once
#include "framework/Dialog.h"

class CAboutDlg : public CDialog
{
public:
    CAboutDlg();
};
