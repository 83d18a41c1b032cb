#include "commands/VersionCmd.h"

#include "commands/VersionDlg.h"

int CVersionCmd::Run()
{
    loader::CEngine engine(CommandContext().CommandLink());
    // No recovery here: a device without the command simply shows "ERROR".
    std::string text = loader::ReadVersion(engine, m_report).Ok() ? m_report.version : "ERROR";
    // The dialog shows the text as far as its first NUL, as a C string would.
    text = text.substr(0, text.find('\0'));
    CVersionDlg dialog;
    dialog.SetVersion(text.c_str());
    dialog.DoModal();
    return 1;
}
