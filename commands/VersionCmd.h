#pragma once
#include "commands/Command.h"

// Asks the boot loader for its version text and shows it.
class CVersionCmd : public CCommand
{
public:
    int Run(); // always 1
};
