#pragma once
// Single-instance marker: a per-user lock that the kernel releases when the process
// ends, however it ends (a flock'ed file on POSIX, a named mutex on Windows).
#include <cstdint>
#include <string>

namespace platform {

class CInstanceLock
{
public:
    CInstanceLock() = default;
    ~CInstanceLock() { Release(); }
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // True when this process now holds the lock named `name`; false when another holder
    // has it or the lock cannot be created.
    bool Acquire(const std::string& name);
    void Release();
    bool IsHeld() const { return m_native != kNone; }

private:
    static constexpr intptr_t kNone = -1;
    intptr_t m_native = kNone; // the descriptor or the mutex handle
};

} // namespace platform
