#pragma once
#include "commands/Command.h"

// Reads the status register and shows it decoded.
class CStatesCmd : public CCommand
{
public:
    int Run();
};
