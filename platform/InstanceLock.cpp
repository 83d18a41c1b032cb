#include "platform/InstanceLock.h"

namespace platform {

bool CInstanceLock::Acquire(const std::string& name)
{
    std::string why;
    return TryAcquire(name, why) == Result::Held;
}

} // namespace platform
