#pragma once
// The line server's users: names with an argon2id hash of their password, in a table of
// the records server that only the admin commands change.
#include <chrono>
#include <map>
#include <mutex>
#include <semaphore>
#include <string>
#include <vector>

#include "records/server/PgConnection.h"

namespace line {

// Creates the users' table when it is missing.
bool InitUsers(CPgConnection& conn, std::string& error);
// A new user, or a new password for one. An empty name or password is refused.
bool AddUser(CPgConnection& conn, const std::string& name, const std::string& password, std::string& error);
// False with an error when there is no such user.
bool RemoveUser(CPgConnection& conn, const std::string& name, std::string& error);
bool ListUsers(CPgConnection& conn, std::vector<std::string>& names, std::string& error);

// argon2id in its encoded form ("$argon2id$v=19$m=...").
std::string HashPassword(const std::string& password);
bool PasswordMatches(const std::string& encoded, const std::string& password);

// Verifies Basic credentials against the table. A slow hash per request would let anyone
// burn the CPU, so a verified pair is remembered for a few minutes, keyed by a SHA-256
// of name and password (the password itself is never held); few hashes run at once.
class CUserCheck
{
public:
    static constexpr auto kRemembered = std::chrono::minutes(3);
    static constexpr size_t kMostRemembered = 1000;
    static constexpr std::ptrdiff_t kHashesAtOnce = 2;

    enum class Verdict { Allowed, Refused, ServerDown, NoUsers };
    // The pair was verified within kRemembered.
    bool Remembered(const std::string& name, const std::string& password,
                    std::chrono::steady_clock::time_point now);
    // Reads the user's hash through conn and checks the password; a match is remembered.
    Verdict Verify(CPgConnection& conn, const std::string& name, const std::string& password,
                   std::chrono::steady_clock::time_point now);

private:
    std::mutex m_mutex;
    std::map<std::string, std::chrono::steady_clock::time_point> m_verified; // key -> until
    std::counting_semaphore<kHashesAtOnce> m_hashing{kHashesAtOnce};
};

// Failed logins slow down per client address: after each failure the address must wait
// longer (doubling, up to kLongestWait) before credentials are checked again.
class CLoginThrottle
{
public:
    static constexpr auto kFirstWait = std::chrono::milliseconds(500);
    static constexpr auto kLongestWait = std::chrono::seconds(30);
    static constexpr size_t kMostAddresses = 10000;

    // The time the address must still wait (zero: it may try).
    std::chrono::milliseconds WaitFor(const std::string& address, std::chrono::steady_clock::time_point now);
    void Failed(const std::string& address, std::chrono::steady_clock::time_point now);
    void Succeeded(const std::string& address);

private:
    struct Failures
    {
        int count = 0;
        std::chrono::steady_clock::time_point until;
    };
    std::mutex m_mutex;
    std::map<std::string, Failures> m_failures;
};

} // namespace line
