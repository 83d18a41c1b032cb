#include "records/server/PgConnection.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "platform/ProfileIni.h"

namespace {

// A statement's cap is set again when the time left has shrunk by this much.
constexpr int kCapStepMs = 250;
// Where Debian's libpq looks for the system's pg_service.conf without PGSYSCONFDIR.
constexpr char kSystemConfigDir[] = "/etc/postgresql-common";
// libpq takes a smaller connect_timeout as 2 s.
constexpr int kShortestConnectS = 2;

std::string Env(const char* name)
{
    const char* value = name ? std::getenv(name) : nullptr;
    return value ? value : "";
}

// The keywords a connection string sets (empty values left out).
std::map<std::string, std::string> Keywords(const std::string& url)
{
    std::map<std::string, std::string> set;
    PQconninfoOption* options = PQconninfoParse(url.c_str(), nullptr);
    if (!options) return set;
    for (const PQconninfoOption* o = options; o->keyword; ++o)
        if (o->val && *o->val) set[o->keyword] = o->val;
    PQconninfoFree(options);
    return set;
}

// A setting of the named service, looked up as libpq does: the user's service file
// first, then the system's.
std::string FromService(const std::string& service, const std::string& key)
{
    if (service.empty()) return {};
    std::vector<std::string> files;
    if (const std::string user = Env("PGSERVICEFILE"); !user.empty())
        files.push_back(user);
    else if (const std::string home = Env("HOME"); !home.empty())
        files.push_back(home + "/.pg_service.conf");
    const std::string system = Env("PGSYSCONFDIR");
    files.push_back((system.empty() ? std::string(kSystemConfigDir) : system) + "/pg_service.conf");
    for (const std::string& file : files) {
        const platform::CPath name = platform::CPath::FromUtf8(file);
        if (!platform::IsRegularFile(name)) continue;
        const std::string value = platform::GetPrivateProfileString(service, key, "", name);
        if (!value.empty()) return value;
    }
    return {};
}

std::vector<const char*> Pointers(const PgValues& values)
{
    std::vector<const char*> pointers;
    for (const auto& value : values)
        pointers.push_back(value ? value->c_str() : nullptr);
    return pointers;
}

} // namespace

std::string OneLine(std::string text)
{
    std::string line;
    bool blank = false;
    for (char c : text) {
        const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (space) {
            blank = !line.empty();
            continue;
        }
        if (blank) line += ' ';
        blank = false;
        line += c;
    }
    return line;
}

bool IsDataError(const std::string& state)
{
    return state.rfind("22", 0) == 0 || state.rfind("23", 0) == 0;
}

void CPgResult::Clear::operator()(pg_result* result) const
{
    PQclear(result);
}

CPgResult::CPgResult(pg_result* result) : m_result(result) {}

bool CPgResult::Ok() const
{
    if (!m_result) return false;
    const ExecStatusType status = PQresultStatus(m_result.get());
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

int CPgResult::Rows() const
{
    return m_result ? PQntuples(m_result.get()) : 0;
}

std::string CPgResult::Text(int row, int column) const
{
    if (!m_result || PQgetisnull(m_result.get(), row, column)) return {};
    return std::string(PQgetvalue(m_result.get(), row, column),
                       static_cast<size_t>(PQgetlength(m_result.get(), row, column)));
}

bool CPgResult::IsNull(int row, int column) const
{
    return !m_result || PQgetisnull(m_result.get(), row, column);
}

std::string CPgResult::State() const
{
    const char* state = m_result ? PQresultErrorField(m_result.get(), PG_DIAG_SQLSTATE) : nullptr;
    return state ? state : "";
}

std::string CPgResult::Error() const
{
    if (!m_notSent.empty()) return m_notSent;
    if (!m_result) return "no answer from the server";
    if (const char* primary = PQresultErrorField(m_result.get(), PG_DIAG_MESSAGE_PRIMARY))
        return OneLine(primary);
    return OneLine(PQresultErrorMessage(m_result.get()));
}

void CPgConnection::Finish::operator()(pg_conn* conn) const
{
    PQfinish(conn);
}

std::string CPgConnection::Refuse(const std::string& url)
{
    char* message = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.c_str(), &message);
    if (!options) {
        std::string why = message ? OneLine(message) : "cannot be read";
        PQfreemem(message);
        return "not a connection string: " + why;
    }
    bool password = false;
    for (const PQconninfoOption* o = options; o->keyword; ++o)
        if (std::string(o->keyword) == "password" && o->val && *o->val) password = true;
    PQconninfoFree(options);
    if (password)
        return "holds a password: put it in ~/.pgpass (or the file PGPASSFILE names), never on the command "
               "line";
    return {};
}

PgConnectionSettings ConnectionSettings(const std::string& url, std::optional<int> secondsLeft)
{
    const std::map<std::string, std::string> given = Keywords(url);
    const auto inUrl = [&](const std::string& key) {
        const auto found = given.find(key);
        return found == given.end() ? std::string() : found->second;
    };
    const std::string service = !inUrl("service").empty() ? inUrl("service") : Env("PGSERVICE");
    // What the url, else the environment, else the service file says; empty when none.
    const auto chosen = [&](const std::string& key, const char* environment) {
        if (const std::string value = inUrl(key); !value.empty()) return value;
        if (const std::string value = Env(environment); !value.empty()) return value;
        return FromService(service, key);
    };

    PgConnectionSettings settings;
    const auto fallback = [&](const std::string& key, const char* environment, const std::string& value) {
        if (chosen(key, environment).empty()) settings.before.emplace_back(key, value);
    };
    // Keepalives and the user time-out notice a network that vanished in the middle of a send.
    fallback("application_name", "PGAPPNAME", "torvane");
    fallback("keepalives_idle", nullptr, "10");
    fallback("keepalives_interval", nullptr, "3");
    fallback("keepalives_count", nullptr, "3");
    fallback("tcp_user_timeout", nullptr, "20000");

    // A host name or address reaches the server over TCP; a folder (or @abstract) is a
    // Unix socket, and no host at all is libpq's default socket.
    std::string host = inUrl("host"), address = inUrl("hostaddr");
    if (host.empty() && address.empty()) host = Env("PGHOST"), address = Env("PGHOSTADDR");
    if (host.empty() && address.empty())
        host = FromService(service, "host"), address = FromService(service, "hostaddr");
    bool tcp = !address.empty();
    for (size_t start = 0; start <= host.size();) {
        const size_t end = std::min(host.find(',', start), host.size());
        const std::string one = host.substr(start, end - start);
        if (!one.empty() && one[0] != '/' && one[0] != '@') tcp = true;
        start = end + 1;
    }
    // Records travel over the line's network: the server proves who it is, unless the
    // user chose otherwise.
    if (tcp && chosen("sslmode", "PGSSLMODE").empty()) {
        settings.before.emplace_back("sslmode", "verify-full");
        settings.verifyByDefault = true;
    }

    const std::string timeout = chosen("connect_timeout", "PGCONNECT_TIMEOUT");
    int seconds = CPgConnection::kConnectTimeoutS;
    if (!timeout.empty()) seconds = std::atoi(timeout.c_str()) > 0 ? std::atoi(timeout.c_str()) : 0;
    if (secondsLeft) {
        // After the url: the time left holds whatever the url asks for.
        seconds = seconds > 0 ? std::min(seconds, *secondsLeft) : *secondsLeft;
        settings.after.emplace_back("connect_timeout", std::to_string(std::max(seconds, kShortestConnectS)));
    } else if (timeout.empty()) {
        settings.before.emplace_back("connect_timeout", std::to_string(seconds));
    }
    return settings;
}

bool CPgConnection::Connect(const std::string& url, std::string& error)
{
    m_conn.reset();
    std::optional<int> secondsLeft;
    if (m_deadline != std::chrono::steady_clock::time_point::max()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              m_deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            error = "out of time";
            return false;
        }
        secondsLeft = static_cast<int>((left + 999) / 1000);
    }
    const PgConnectionSettings settings = ConnectionSettings(url, secondsLeft);
    std::vector<const char*> keywords, values;
    for (const auto& [key, value] : settings.before)
        keywords.push_back(key.c_str()), values.push_back(value.c_str());
    keywords.push_back("dbname"), values.push_back(url.c_str());
    for (const auto& [key, value] : settings.after)
        keywords.push_back(key.c_str()), values.push_back(value.c_str());
    keywords.push_back(nullptr), values.push_back(nullptr);
    m_conn.reset(PQconnectdbParams(keywords.data(), values.data(), 1));
    if (!m_conn) {
        error = "out of memory";
        return false;
    }
    if (PQstatus(m_conn.get()) != CONNECTION_OK) {
        error = Error();
        std::string lower = error;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        // libpq tells these apart only in its text; the hint must name what works for each.
        if (settings.verifyByDefault && lower.find("does not support ssl") != std::string::npos)
            error += " (Torvane checks the server's certificate by default, sslmode=verify-full, and this "
                     "server has no SSL: turn it on there (ssl = on with a certificate, see the README's "
                     "\"Many stations\"), or, on a network you trust, add ?sslmode=disable to the URL: "
                     "the records and the password then travel unencrypted)";
        else if (settings.verifyByDefault &&
                 (lower.find("ssl") != std::string::npos || lower.find("certificate") != std::string::npos))
            error += " (Torvane checks the server's certificate by default, sslmode=verify-full: put the "
                     "line's root certificate in ~/.postgresql/root.crt, or name it with sslrootcert= in "
                     "the URL)";
        m_conn.reset();
        return false;
    }
    // Notices ("already exists, skipping") are the server talking to itself, not to the user.
    PQsetNoticeProcessor(
        m_conn.get(), [](void*, const char*) {}, nullptr);
    m_capMs = 0;
    m_capInTransaction = false;
    if (const std::string why = CapToDeadline(); !why.empty()) {
        error = why;
        m_conn.reset();
        return false;
    }
    return true;
}

std::string CPgConnection::CapToDeadline()
{
    if (!m_conn) return {};
    const PGTransactionStatusType status = PQtransactionStatus(m_conn.get());
    // A failed transaction takes nothing but its ROLLBACK; a SET inside a transaction
    // that was rolled back is undone, so the cap is set again after it.
    if (status == PQTRANS_INERROR) return {};
    if (status == PQTRANS_IDLE && m_capInTransaction) m_capMs = 0;
    m_capInTransaction = m_capInTransaction && status != PQTRANS_IDLE;
    int cap = kStatementTimeoutMs;
    if (m_deadline != std::chrono::steady_clock::time_point::max()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              m_deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return "out of time";
        cap = static_cast<int>(std::min<int64_t>(cap, left));
    }
    if (m_capMs != 0 && cap <= m_capMs && cap > m_capMs - kCapStepMs) return {};
    const std::string ms = std::to_string(cap);
    const CPgResult set(
        PQexec(m_conn.get(), ("SET statement_timeout = " + ms + "; SET lock_timeout = " + ms).c_str()));
    if (!set.Ok()) return set.Error();
    m_capMs = cap;
    m_capInTransaction = status != PQTRANS_IDLE;
    return {};
}

bool CPgConnection::Connected() const
{
    return m_conn && PQstatus(m_conn.get()) == CONNECTION_OK;
}

CPgResult CPgConnection::Exec(const std::string& sql)
{
    if (const std::string why = CapToDeadline(); !why.empty()) return CPgResult(why);
    return CPgResult(m_conn ? PQexec(m_conn.get(), sql.c_str()) : nullptr);
}

CPgResult CPgConnection::Exec(const std::string& sql, const PgValues& values)
{
    if (!m_conn) return CPgResult();
    if (const std::string why = CapToDeadline(); !why.empty()) return CPgResult(why);
    const std::vector<const char*> pointers = Pointers(values);
    return CPgResult(PQexecParams(m_conn.get(), sql.c_str(), static_cast<int>(values.size()), nullptr,
                                  pointers.data(), nullptr, nullptr, 0));
}

bool CPgConnection::Prepare(const std::string& name, const std::string& sql, int parameters,
                            std::string& error)
{
    if (const std::string why = CapToDeadline(); !why.empty()) {
        error = why;
        return false;
    }
    const CPgResult result(m_conn ? PQprepare(m_conn.get(), name.c_str(), sql.c_str(), parameters, nullptr)
                                  : nullptr);
    if (!result.Ok()) error = result.Error();
    return result.Ok();
}

CPgResult CPgConnection::ExecPrepared(const std::string& name, const PgValues& values)
{
    if (!m_conn) return CPgResult();
    if (const std::string why = CapToDeadline(); !why.empty()) return CPgResult(why);
    const std::vector<const char*> pointers = Pointers(values);
    return CPgResult(PQexecPrepared(m_conn.get(), name.c_str(), static_cast<int>(values.size()),
                                    pointers.data(), nullptr, nullptr, 0));
}

std::string CPgConnection::Error() const
{
    return m_conn ? OneLine(PQerrorMessage(m_conn.get())) : "not connected";
}

int CPgConnection::Socket() const
{
    return m_conn ? PQsocket(m_conn.get()) : -1;
}

bool CPgConnection::TakeNotifications(std::vector<std::string>& payloads)
{
    if (!m_conn || PQconsumeInput(m_conn.get()) == 0 || PQstatus(m_conn.get()) != CONNECTION_OK) return false;
    while (PGnotify* notify = PQnotifies(m_conn.get())) {
        payloads.emplace_back(notify->extra ? notify->extra : "");
        PQfreemem(notify);
    }
    return true;
}
