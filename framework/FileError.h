#pragma once
#include "platform/TextFile.h"

class CWnd;

// The framework's report of a file error that escaped a command handler; the owner
// defaults to the active window.
void AfxReportFileError(const CFileException& error, CWnd* owner = nullptr);
