#pragma once
// Single-instance marker: a per-user lock that the kernel releases when the process
// ends, however it ends.
#include <string>

namespace platform {

class CInstanceLock {
public:
    CInstanceLock() = default;
    ~CInstanceLock() { Release(); }
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // True when this process now holds the lock named `name`; false when another holder
    // has it or the lock cannot be created.
    bool Acquire(const std::string& name);
    void Release();
    bool IsHeld() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

} // namespace platform
