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

    enum class Result { Held, HeldByAnother, CannotCreate };
    // Held when this process now holds the lock named `name`; HeldByAnother when another
    // copy of the program holds it; CannotCreate when the lock cannot be made at all (no
    // private folder for it, a foreign object in its place), with the reason in why.
    Result TryAcquire(const std::string& name, std::string& why);
    // True when held now; false in both other cases.
    bool Acquire(const std::string& name);
    void Release();
    bool IsHeld() const { return m_native != kNone; }
    // Windows: what a failed CreateMutexW of the private mutex means. Access denied is the
    // copy started elevated (or not) beside this one: its mutex is there, with rights this
    // process lacks, and that is "already running", not a lock that cannot be made.
    static Result ResultOfCreateFailure(uint32_t systemError);

private:
    static constexpr intptr_t kNone = -1;
    intptr_t m_native = kNone;  // the descriptor, or the private mutex on Windows
    intptr_t m_visible = kNone; // Windows: the mutex under the program's well-known name
};

} // namespace platform
