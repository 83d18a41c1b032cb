#pragma once
#include "commands/Command.h"

// Erase, program the image's range and read it back, with a final status verdict.
class CEPRCmd : public CCheckMemorryCmd
{
public:
    int Run(); // 1 after "Program OK.", else 0
};
