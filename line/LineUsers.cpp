#include "line/LineUsers.h"

#include <algorithm>
#include <argon2.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "records/server/ServerRecords.h"

namespace line {

namespace {

// OWASP's lower bound for argon2id: 19 MiB, two passes, one lane.
constexpr uint32_t kPasses = 2;
constexpr uint32_t kMemoryKiB = 19 * 1024;
constexpr uint32_t kLanes = 1;
constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;

constexpr char kCreateSql[] = "CREATE TABLE IF NOT EXISTS torvane_line_user (name text PRIMARY KEY"
                              " CHECK (name <> ''), password_hash text NOT NULL,"
                              " changed_utc timestamptz NOT NULL DEFAULT now())";

std::string Sha256(const std::string& text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<const char*>(digest), size);
}

// A hash to check against when the name is unknown, so the answer takes as long.
const std::string& DecoyHash()
{
    static const std::string decoy = HashPassword("no such user");
    return decoy;
}

} // namespace

bool InitUsers(CPgConnection& conn, std::string& error)
{
    const CPgResult result = conn.Exec(kCreateSql);
    if (!result.Ok()) error = result.Error();
    return result.Ok();
}

bool AddUser(CPgConnection& conn, const std::string& name, const std::string& password, std::string& error)
{
    if (name.empty() || name.find(':') != std::string::npos) {
        error = "a user's name must not be empty nor hold a colon";
        return false;
    }
    if (password.empty()) {
        error = "the password is empty";
        return false;
    }
    const std::string hash = HashPassword(password);
    if (hash.empty()) {
        error = "cannot hash the password";
        return false;
    }
    const CPgResult result =
        conn.Exec("INSERT INTO torvane_line_user (name, password_hash) VALUES ($1, $2)"
                  " ON CONFLICT (name) DO UPDATE SET password_hash = EXCLUDED.password_hash,"
                  " changed_utc = now()",
                  {name, hash});
    if (!result.Ok()) error = result.Error();
    return result.Ok();
}

bool RemoveUser(CPgConnection& conn, const std::string& name, std::string& error)
{
    const CPgResult result =
        conn.Exec("DELETE FROM torvane_line_user WHERE name = $1 RETURNING name", {name});
    if (!result.Ok()) {
        error = result.Error();
        return false;
    }
    if (result.Rows() == 0) {
        error = "no user named " + name;
        return false;
    }
    return true;
}

bool ListUsers(CPgConnection& conn, std::vector<std::string>& names, std::string& error)
{
    const CPgResult result = conn.Exec("SELECT name FROM torvane_line_user ORDER BY name");
    if (!result.Ok()) {
        error = result.Error();
        return false;
    }
    names.clear();
    for (int row = 0; row < result.Rows(); ++row)
        names.push_back(result.Text(row, 0));
    return true;
}

std::string HashPassword(const std::string& password)
{
    unsigned char salt[kSaltBytes];
    if (RAND_bytes(salt, sizeof salt) != 1) return {};
    const size_t size = argon2_encodedlen(kPasses, kMemoryKiB, kLanes, kSaltBytes, kHashBytes, Argon2_id);
    std::string encoded(size, '\0');
    if (argon2id_hash_encoded(kPasses, kMemoryKiB, kLanes, password.data(), password.size(), salt,
                              sizeof salt, kHashBytes, encoded.data(), encoded.size()) != ARGON2_OK)
        return {};
    encoded.resize(encoded.find('\0'));
    return encoded;
}

bool PasswordMatches(const std::string& encoded, const std::string& password)
{
    return argon2id_verify(encoded.c_str(), password.data(), password.size()) == ARGON2_OK;
}

bool CUserCheck::Remembered(const std::string& name, const std::string& password,
                            std::chrono::steady_clock::time_point now)
{
    const std::string key = Sha256(Sha256(name) + Sha256(password));
    std::lock_guard lock(m_mutex);
    const auto found = m_verified.find(key);
    return found != m_verified.end() && found->second > now;
}

CUserCheck::Verdict CUserCheck::Verify(CPgConnection& conn, const std::string& name,
                                       const std::string& password, std::chrono::steady_clock::time_point now)
{
    const std::string key = Sha256(Sha256(name) + Sha256(password));
    const CPgResult result = conn.Exec("SELECT password_hash FROM torvane_line_user WHERE name = $1", {name});
    if (!result.Ok()) {
        if (records_server::NoSchema(result)) return Verdict::NoUsers;
        // A name the server cannot take (not UTF-8, say) names nobody.
        return IsDataError(result.State()) ? Verdict::Refused : Verdict::ServerDown;
    }
    const bool known = result.Rows() == 1;
    bool matches = false;
    {
        m_hashing.acquire();
        matches = PasswordMatches(known ? result.Text(0, 0) : DecoyHash(), password) && known;
        m_hashing.release();
    }
    if (!matches) return Verdict::Refused;
    std::lock_guard lock(m_mutex);
    if (m_verified.size() >= kMostRemembered)
        std::erase_if(m_verified, [&](const auto& e) { return e.second <= now; });
    if (m_verified.size() < kMostRemembered) m_verified[key] = now + kRemembered;
    return Verdict::Allowed;
}

std::chrono::milliseconds CLoginThrottle::WaitFor(const std::string& address,
                                                  std::chrono::steady_clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_failures.find(address);
    if (found == m_failures.end() || found->second.until <= now) return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(found->second.until - now);
}

void CLoginThrottle::Failed(const std::string& address, std::chrono::steady_clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    if (m_failures.size() >= kMostAddresses)
        std::erase_if(m_failures, [&](const auto& e) { return e.second.until <= now; });
    Failures& failures = m_failures[address];
    failures.count = std::min(failures.count + 1, 16);
    const auto wait =
        std::min<std::chrono::milliseconds>(kFirstWait * (1 << (failures.count - 1)), kLongestWait);
    failures.until = now + wait;
}

void CLoginThrottle::Succeeded(const std::string& address)
{
    std::lock_guard lock(m_mutex);
    m_failures.erase(address);
}

} // namespace line
