#include "platform/KeepAwake.h"

namespace platform {

// Nothing asked on Linux: a desktop's idle suspend would take logind's inhibitor over
// D-Bus, and a line's PC is one that never suspends.
CKeepAwake::CKeepAwake() = default;
CKeepAwake::~CKeepAwake() = default;

} // namespace platform
