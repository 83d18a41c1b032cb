#pragma once
#include "commands/Command.h"

// Compares a chosen range of the flash with the image (bytes the image leaves at 0xFF
// are not compared).
class CReadCmd : public CCheckMemorryCmd
{
public:
    int Run(); // always 0
};
