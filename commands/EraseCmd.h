#pragma once
// Erases the whole user flash, locked blocks included, and reports the outcome.
#include "commands/Command.h"

class CEraseCmd : public CCommand
{
public:
    int Run();

    // The byte sequence and the status wait, shared with the erase-program-read sequence:
    // 1 when the erase status bit is set or no status came. The step goes into report.
    static int EraseAndCheck(CSerialComm& link, loader::RunReport& report);
};
