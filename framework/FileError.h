#pragma once
#include "platform/TextFile.h"

// The framework's report of a file error that escaped a command handler.
void AfxReportFileError(const CFileException& error);
