#pragma once
#include "commands/Command.h"

// Checks that every byte of a chosen range is erased.
class CBlankCmd : public CCheckMemorryCmd
{
public:
    int Run(); // always 0: the outcome reaches the user only through message boxes
};
