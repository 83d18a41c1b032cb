#include "framework/FileError.h"

#include "framework/Host.h"

void AfxReportFileError(const CFileException& error, CWnd* owner)
{
    if (!owner) owner = AfxGetActiveWindow();
    AfxMessageBox(error.GetErrorMessage(), MB_ICONEXCLAMATION, owner);
}
