#include "framework/FileDialog.h"

#include "framework/Host.h"
#include "framework/WinApp.h"

CFileDialog::CFileDialog(BOOL openFileDialog, const char* defaultExt, const char* fileName, unsigned flags,
                         const char* filter, CWnd* parent)
    : m_flags(flags), m_strFilter(filter ? filter : ""), m_pParent(parent)
{
}

INT_PTR CFileDialog::DoModal()
{
    CWnd* owner = m_pParent ? m_pParent : AfxGetActiveWindow();
    if (!owner) owner = AfxGetMainWnd();
    std::optional<std::string> path = Host().OpenFileDialog(owner, m_strFilter, m_flags);
    if (!path) return IDCANCEL;
    m_strPath = *path;
    return IDOK;
}
