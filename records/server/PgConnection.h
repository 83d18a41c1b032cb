#pragma once
// Owners of a libpq connection and its results. Values always travel as parameters
// (PQexecParams, PQexecPrepared), never inside the SQL text.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
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
    // No statement was sent, for this reason.
    explicit CPgResult(std::string notSent) : m_notSent(std::move(notSent)) {}

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
    std::string m_notSent;
};

// SQLSTATE classes 22 (data exception) and 23 (integrity constraint violation): the
// server refuses the row itself, and sending it again changes nothing.
bool IsDataError(const std::string& state);

// The connection's settings Torvane adds to a connection string, as libpq keywords:
// `before` go ahead of the string (defaults: only those that neither the string, the
// environment nor a service file sets), `after` follow it (caps that always hold).
// secondsLeft: the time left for the whole call, when it has a limit.
struct PgConnectionSettings
{
    std::vector<std::pair<std::string, std::string>> before, after;
    bool verifyByDefault = false; // sslmode=verify-full was added (a TCP host, no choice made)
};
PgConnectionSettings ConnectionSettings(const std::string& url, std::optional<int> secondsLeft);

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

    // url as libpq takes it (a URI or key=value pairs; empty: libpq's environment). A TCP
    // connection checks the server's certificate (sslmode=verify-full) unless the url, the
    // environment or a service file chooses a mode.
    bool Connect(const std::string& url, std::string& error);
    // From now on every statement (and a connection made) ends by this time: the server
    // cancels a statement, a lock wait included, when the time left is up.
    void SetDeadline(std::chrono::steady_clock::time_point deadline) { m_deadline = deadline; }
    bool Connected() const;
    void Close() { m_conn.reset(); }

    CPgResult Exec(const std::string& sql);
    CPgResult Exec(const std::string& sql, const PgValues& values);
    bool Prepare(const std::string& name, const std::string& sql, int parameters, std::string& error);
    CPgResult ExecPrepared(const std::string& name, const PgValues& values);
    // The connection's last message as one line.
    std::string Error() const;

    // For a connection that LISTENs: its socket to wait on (-1 when closed), and the
    // payloads of the notifications that arrived since the last call. False when the
    // connection is lost.
    int Socket() const;
    bool TakeNotifications(std::vector<std::string>& payloads);

private:
    struct Finish
    {
        void operator()(pg_conn* conn) const;
    };
    // Lowers (or raises again) the server's statement and lock time-outs to the time left;
    // empty when a statement may go, else why not.
    std::string CapToDeadline();

    std::unique_ptr<pg_conn, Finish> m_conn;
    std::chrono::steady_clock::time_point m_deadline = std::chrono::steady_clock::time_point::max();
    int m_capMs = 0;                 // the statement_timeout the server holds now (0: not known)
    bool m_capInTransaction = false; // set inside a transaction: gone if that rolled back
};

// libpq's messages may span lines ("connection to server ... failed: FATAL:  ..."):
// one line, with runs of blanks folded.
std::string OneLine(std::string text);
