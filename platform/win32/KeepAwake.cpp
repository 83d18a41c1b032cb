#include "platform/KeepAwake.h"

#include <windows.h>

namespace platform {

CKeepAwake::CKeepAwake()
{
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
}

CKeepAwake::~CKeepAwake()
{
    SetThreadExecutionState(ES_CONTINUOUS);
}

} // namespace platform
