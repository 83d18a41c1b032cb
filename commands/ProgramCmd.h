#pragma once
#include "commands/Command.h"

// Programs the fixed area 0xF0000..0xFFFFF from the image, page by page.
class CProgramCmd : public CCheckMemorryCmd
{
public:
    static constexpr uint32_t kAreaStart = 0xF0000;
    static constexpr uint32_t kAreaEnd = 0xFFFFF;

    // 1 after "Program OK."; 0 after "Program error.", a refused confirmation or a stop.
    int Run();
};
