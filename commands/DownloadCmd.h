#pragma once
#include "commands/Command.h"

// Hands a range of the image to the boot loader's download function, page after page,
// without waiting for any reply.
class CDownloadCmd : public CCheckMemorryCmd
{
public:
    // 1 when the transfer began (finished or stopped), 0 when nothing was sent.
    int Run();
};
