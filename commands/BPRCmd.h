#pragma once
#include "commands/Command.h"

// Blank check, program and read-back of a chosen range, with a final status verdict.
class CBPRCmd : public CCheckMemorryCmd
{
public:
    int Run(); // 1 after "Program OK.", else 0
};
