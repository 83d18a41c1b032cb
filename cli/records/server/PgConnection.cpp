#include "cli/records/server/PgConnection.h"

#include <libpq-fe.h>

namespace {

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

bool CPgConnection::Connect(const std::string& url, std::string& error)
{
    const std::string timeout = std::to_string(kConnectTimeoutS);
    // Our defaults come first, so that the same keys in url override them; keepalives
    // and the user time-out notice a network that vanished in the middle of a send.
    const char* keywords[] = {
        "connect_timeout",  "application_name", "keepalives_idle", "keepalives_interval",
        "keepalives_count", "tcp_user_timeout", "dbname",          nullptr};
    const char* values[] = {timeout.c_str(), "torvane", "10", "3", "3", "20000", url.c_str(), nullptr};
    m_conn.reset(PQconnectdbParams(keywords, values, 1));
    if (!m_conn) {
        error = "out of memory";
        return false;
    }
    if (PQstatus(m_conn.get()) != CONNECTION_OK) {
        error = Error();
        m_conn.reset();
        return false;
    }
    // Notices ("already exists, skipping") are the server talking to itself, not to the user.
    PQsetNoticeProcessor(
        m_conn.get(), [](void*, const char*) {}, nullptr);
    const CPgResult set = Exec("SET statement_timeout = " + std::to_string(kStatementTimeoutMs));
    if (!set.Ok()) {
        error = set.Error();
        m_conn.reset();
        return false;
    }
    return true;
}

bool CPgConnection::Connected() const
{
    return m_conn && PQstatus(m_conn.get()) == CONNECTION_OK;
}

CPgResult CPgConnection::Exec(const std::string& sql)
{
    return CPgResult(m_conn ? PQexec(m_conn.get(), sql.c_str()) : nullptr);
}

CPgResult CPgConnection::Exec(const std::string& sql, const PgValues& values)
{
    if (!m_conn) return CPgResult();
    const std::vector<const char*> pointers = Pointers(values);
    return CPgResult(PQexecParams(m_conn.get(), sql.c_str(), static_cast<int>(values.size()), nullptr,
                                  pointers.data(), nullptr, nullptr, 0));
}

bool CPgConnection::Prepare(const std::string& name, const std::string& sql, int parameters,
                            std::string& error)
{
    const CPgResult result(m_conn ? PQprepare(m_conn.get(), name.c_str(), sql.c_str(), parameters, nullptr)
                                  : nullptr);
    if (!result.Ok()) error = result.Error();
    return result.Ok();
}

CPgResult CPgConnection::ExecPrepared(const std::string& name, const PgValues& values)
{
    if (!m_conn) return CPgResult();
    const std::vector<const char*> pointers = Pointers(values);
    return CPgResult(PQexecPrepared(m_conn.get(), name.c_str(), static_cast<int>(values.size()),
                                    pointers.data(), nullptr, nullptr, 0));
}

std::string CPgConnection::Error() const
{
    return m_conn ? OneLine(PQerrorMessage(m_conn.get())) : "not connected";
}
