#pragma once
// Owners of an SQLite connection and of a prepared statement. Values always travel as
// bound parameters, never inside the SQL text.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

class CSqliteDb
{
public:
    CSqliteDb() = default;
    ~CSqliteDb();
    CSqliteDb(const CSqliteDb&) = delete;
    CSqliteDb& operator=(const CSqliteDb&) = delete;

    // flags as sqlite3_open_v2 takes them (a connection open before is closed); false
    // with the reason in Error().
    bool Open(const std::string& utf8Path, int flags);
    sqlite3* Get() const { return m_db; }
    // Runs SQL that takes no parameters and returns no rows (PRAGMA, BEGIN, schema).
    bool Exec(const std::string& sql);
    std::string Error() const;
    int ErrorCode() const;

private:
    sqlite3* m_db = nullptr;
};

class CSqliteStatement
{
public:
    CSqliteStatement(CSqliteDb& db, const std::string& sql);
    ~CSqliteStatement();
    CSqliteStatement(const CSqliteStatement&) = delete;
    CSqliteStatement& operator=(const CSqliteStatement&) = delete;

    bool Valid() const { return m_statement != nullptr; }
    // Parameters are numbered from 1. An empty text and an absent number bind NULL.
    void BindText(int index, const std::string& value);
    void BindInt(int index, std::optional<int64_t> value);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step();
    bool Done() { return Step() == 101 /* SQLITE_DONE */; }
    // Ready to run again with new bindings.
    bool Reset();

    std::string Text(int column) const;
    // Valid until the next Step, Reset or column call of the same column.
    std::string_view View(int column) const;
    std::optional<int64_t> Int(int column) const;

private:
    sqlite3_stmt* m_statement = nullptr;
};
