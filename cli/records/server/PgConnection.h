#pragma once
// Owners of a libpq connection and its results. Values always travel as parameters
// (PQexecParams, PQexecPrepared), never inside the SQL text.
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

// One parameter: its text, or NULL.
using PgValues = std::vector<std::optional<std::string>>;

class CPgResult
{
public:
    CPgResult() = default;
    explicit CPgResult(pg_result* result);

    // The command ran (with or without rows).
    bool Ok() const;
    int Rows() const;
    // Empty for NULL.
    std::string Text(int row, int column) const;
    bool IsNull(int row, int column) const;
    // The server's SQLSTATE ("42P01"), empty when none.
    std::string State() const;
    // The server's message as one line.
    std::string Error() const;

private:
    struct Clear
    {
        void operator()(pg_result* result) const;
    };
    std::unique_ptr<pg_result, Clear> m_result;
};

class CPgConnection
{
public:
    // A server that does not answer within this is taken as down.
    static constexpr int kConnectTimeoutS = 5;
    // One statement on a busy server; the station's sender must not hang.
    static constexpr int kStatementTimeoutMs = 15000;

    // A password in the connection string is refused: it would show in the process
    // list and in shell histories; libpq reads ~/.pgpass, PGPASSFILE and PGPASSWORD.
    // Returns the reason as one line, empty when the string is fine.
    static std::string Refuse(const std::string& url);

    // url as libpq takes it (a URI or key=value pairs; empty: libpq's environment).
    bool Connect(const std::string& url, std::string& error);
    bool Connected() const;
    void Close() { m_conn.reset(); }

    CPgResult Exec(const std::string& sql);
    CPgResult Exec(const std::string& sql, const PgValues& values);
    bool Prepare(const std::string& name, const std::string& sql, int parameters, std::string& error);
    CPgResult ExecPrepared(const std::string& name, const PgValues& values);
    // The connection's last message as one line.
    std::string Error() const;

private:
    struct Finish
    {
        void operator()(pg_conn* conn) const;
    };
    std::unique_ptr<pg_conn, Finish> m_conn;
};

// libpq's messages may span lines ("connection to server ... failed: FATAL:  ..."):
// one line, with runs of blanks folded.
std::string OneLine(std::string text);
