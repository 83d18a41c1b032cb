#include "records/SqliteStatement.h"

#include <sqlite3.h>

CSqliteDb::~CSqliteDb()
{
    // Statements are owned by their users and finalized first; v2 waits for any left.
    if (m_db) sqlite3_close_v2(m_db);
}

bool CSqliteDb::Open(const std::string& utf8Path, int flags)
{
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
    if (sqlite3_open_v2(utf8Path.c_str(), &m_db, flags, nullptr) == SQLITE_OK) return true;
    return false; // m_db, if any, still carries the message
}

bool CSqliteDb::Exec(const std::string& sql)
{
    return m_db && sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::string CSqliteDb::Error() const
{
    return m_db ? sqlite3_errmsg(m_db) : "out of memory";
}

int CSqliteDb::ErrorCode() const
{
    return m_db ? sqlite3_errcode(m_db) : SQLITE_NOMEM;
}

CSqliteStatement::CSqliteStatement(CSqliteDb& db, const std::string& sql)
{
    if (sqlite3_prepare_v2(db.Get(), sql.c_str(), static_cast<int>(sql.size()), &m_statement, nullptr) !=
        SQLITE_OK)
        m_statement = nullptr;
}

CSqliteStatement::~CSqliteStatement()
{
    sqlite3_finalize(m_statement);
}

void CSqliteStatement::BindText(int index, const std::string& value)
{
    if (value.empty())
        sqlite3_bind_null(m_statement, index);
    else
        sqlite3_bind_text(m_statement, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
}

void CSqliteStatement::BindInt(int index, std::optional<int64_t> value)
{
    if (value)
        sqlite3_bind_int64(m_statement, index, *value);
    else
        sqlite3_bind_null(m_statement, index);
}

bool CSqliteStatement::Reset()
{
    return m_statement && sqlite3_reset(m_statement) == SQLITE_OK;
}

int CSqliteStatement::Step()
{
    return m_statement ? sqlite3_step(m_statement) : SQLITE_MISUSE;
}

std::string CSqliteStatement::Text(int column) const
{
    const unsigned char* text = sqlite3_column_text(m_statement, column);
    if (!text) return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<size_t>(sqlite3_column_bytes(m_statement, column)));
}

std::string_view CSqliteStatement::View(int column) const
{
    const unsigned char* text = sqlite3_column_text(m_statement, column);
    if (!text) return {};
    return {reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(m_statement, column))};
}

std::optional<int64_t> CSqliteStatement::Int(int column) const
{
    if (sqlite3_column_type(m_statement, column) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_int64(m_statement, column);
}
