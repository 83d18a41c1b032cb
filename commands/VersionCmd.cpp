#include "commands/VersionCmd.h"

#include "app/TorvaneApp.h"
#include "commands/VersionDlg.h"

#include <cstdio>

int CVersionCmd::Run()
{
    CSerialComm& link = TheApp().m_link;
    constexpr uint32_t kVersionLength = 8;
    const uint8_t request = bootcode::kVersion;
    char text[kVersionLength + 1] = {};
    link.Write(&request, 1);
    // No recovery here: a device without the command simply shows "ERROR".
    if (link.Read(text, kVersionLength) == 0)
        std::snprintf(text, sizeof text, "%s", "ERROR");
    text[kVersionLength] = '\0';
    CVersionDlg dialog;
    dialog.SetVersion(text);
    dialog.DoModal();
    return 1;
}
