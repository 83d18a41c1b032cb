#pragma once
#include <string>

#include "framework/Afx.h"

class CWnd;

// The system's open-file dialog.
class CFileDialog
{
public:
    CFileDialog(BOOL openFileDialog, const char* defaultExt, const char* fileName, unsigned flags,
                const char* filter, CWnd* parent = nullptr);
    INT_PTR DoModal();
    std::string GetPathName() const { return m_strPath; }

private:
    unsigned m_flags;
    std::string m_strFilter;
    CWnd* m_pParent;
    std::string m_strPath;
};
