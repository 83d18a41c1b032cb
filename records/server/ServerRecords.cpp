#include "cli/records/server/ServerRecords.h"

#include <array>

#include "platform/ShownText.h"

namespace records_server {

namespace {

constexpr char kNoSchema[] = "the server has no Torvane records yet: run torvane-cli records --init-server";

// One statement per element; run in one transaction under an advisory lock, so that
// two stations initialising at once do not trip over each other.
constexpr std::array kCreate = {
    R"(CREATE TABLE torvane_attempt (
    id uuid PRIMARY KEY,
    started_utc timestamptz NOT NULL,
    ended_utc timestamptz,
    host text NOT NULL,
    "user" text NOT NULL,
    process_id bigint NOT NULL,
    process_start text,
    tool_version text NOT NULL,
    port text,
    device text,
    command text NOT NULL,
    file_name text,
    file_size bigint,
    file_sha256 text,
    pages_sent bigint,
    baud_rate bigint,
    page_pause_ms bigint,
    loader_version text,
    serial_hex text,
    serial_text text,
    id_check text,
    erase_result text,
    program_result text,
    verify_result text,
    backup_file text,
    outcome text NOT NULL CHECK (outcome IN ('pass', 'fail', 'stopped', 'unchanged', 'unfinished')),
    exit_code integer,
    messages text,
    duration_ms bigint,
    tag text,
    station_run text,
    signer text,
    revision bigint NOT NULL,
    station_host text NOT NULL,
    received_utc timestamptz NOT NULL DEFAULT now()
))",
    "CREATE INDEX torvane_attempt_started ON torvane_attempt (started_utc)",
    "CREATE INDEX torvane_attempt_port ON torvane_attempt (port, started_utc)",
    "CREATE INDEX torvane_attempt_outcome ON torvane_attempt (outcome, started_utc)",
    "CREATE INDEX torvane_attempt_file ON torvane_attempt (file_sha256, started_utc)",
    "CREATE INDEX torvane_attempt_serial ON torvane_attempt (serial_text)",
};

// The columns in the order of the upsert's parameters.
constexpr std::array kColumns = {
    "id",          "started_utc",   "ended_utc",      "host",          "\"user\"",
    "process_id",  "process_start", "tool_version",   "port",          "device",
    "command",     "file_name",     "file_size",      "file_sha256",   "pages_sent",
    "baud_rate",   "page_pause_ms", "loader_version", "serial_hex",    "serial_text",
    "id_check",    "erase_result",  "program_result", "verify_result", "backup_file",
    "outcome",     "exit_code",     "messages",       "duration_ms",   "tag",
    "station_run", "signer",        "revision",       "station_host"};

// A journal written before its texts were made valid UTF-8 may still hold other bytes.
std::optional<std::string> Text(const std::string& text)
{
    return text.empty() ? std::nullopt : std::optional<std::string>(platform::ValidUtf8(text));
}

std::optional<std::string> Number(const std::optional<int64_t>& value)
{
    return value ? std::optional<std::string>(std::to_string(*value)) : std::nullopt;
}

std::optional<int64_t> Number(const std::string& text)
{
    if (text.empty()) return std::nullopt;
    return std::stoll(text);
}

// UTC with milliseconds and a Z, as the journal writes it.
std::string UtcColumn(const char* column)
{
    return std::string("to_char(") + column + " AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";
}

bool Run(CPgConnection& conn, const std::string& sql, std::string& error)
{
    const CPgResult result = conn.Exec(sql);
    if (!result.Ok()) error = result.Error();
    return result.Ok();
}

} // namespace

bool NoSchema(const CPgResult& result)
{
    return result.State() == "42P01"; // undefined_table
}

bool InitSchema(CPgConnection& conn, std::string& done, std::string& error)
{
    if (!Run(conn, "BEGIN", error)) return false;
    auto fail = [&](const std::string& why) {
        error = why;
        conn.Exec("ROLLBACK");
        return false;
    };
    // Any constant will do; it only has to be the same for every Torvane.
    if (!Run(conn, "SELECT pg_advisory_xact_lock(7427386)", error)) return fail(error);
    if (!Run(conn, "CREATE TABLE IF NOT EXISTS torvane_schema (version integer NOT NULL)", error))
        return fail(error);
    const CPgResult version = conn.Exec("SELECT max(version) FROM torvane_schema");
    if (!version.Ok()) return fail(version.Error());
    const int found = version.IsNull(0, 0) ? 0 : std::stoi(version.Text(0, 0));
    if (found > kSchemaVersion)
        return fail("the server's records were set up by a newer Torvane (version " + std::to_string(found) +
                    ")");
    if (found == kSchemaVersion) {
        done = "the server's records are at version " + std::to_string(found) + " already";
        return Run(conn, "COMMIT", error) || fail(error);
    }
    if (found == 0) {
        for (const char* statement : kCreate)
            if (!Run(conn, statement, error)) return fail(error);
    }
    // Later versions migrate from `found` here, step by step.
    if (found == 1 && !Run(conn, "ALTER TABLE torvane_attempt ADD COLUMN signer text", error))
        return fail(error);
    if (!Run(conn, "DELETE FROM torvane_schema", error)) return fail(error);
    if (!conn.Exec("INSERT INTO torvane_schema (version) VALUES ($1)", {std::to_string(kSchemaVersion)}).Ok())
        return fail(conn.Error());
    if (!Run(conn, "COMMIT", error)) return fail(error);
    done = (found == 0 ? "created the server's records (version "
                       : "migrated the server's records to version ") +
           std::to_string(kSchemaVersion) + (found == 0 ? ")" : " (from " + std::to_string(found) + ")");
    return true;
}

bool PrepareUpsert(CPgConnection& conn, std::string& error)
{
    std::string columns, parameters, assignments;
    for (size_t i = 0; i < kColumns.size(); ++i) {
        columns += (i ? ", " : "") + std::string(kColumns[i]);
        parameters += (i ? ", $" : "$") + std::to_string(i + 1);
        if (i) assignments += std::string(i > 1 ? ", " : "") + kColumns[i] + " = EXCLUDED." + kColumns[i];
    }
    const std::string sql =
        "INSERT INTO torvane_attempt (" + columns + ") VALUES (" + parameters +
        ") ON CONFLICT (id) DO UPDATE SET " + assignments +
        ", received_utc = now()"
        " WHERE (torvane_attempt.outcome = 'unfinished' AND EXCLUDED.outcome <> 'unfinished')"
        " OR (EXCLUDED.revision > torvane_attempt.revision"
        "     AND (EXCLUDED.outcome <> 'unfinished' OR torvane_attempt.outcome = 'unfinished'))";
    if (conn.Prepare("torvane_upsert", sql, static_cast<int>(kColumns.size()), error)) return true;
    if (error.find("torvane_attempt") != std::string::npos &&
        error.find("does not exist") != std::string::npos)
        error = kNoSchema;
    return false;
}

PgValues Values(const CAttempt& a, int64_t revision, const std::string& stationHost)
{
    return {Text(a.id),
            Text(a.startedUtc),
            Text(a.endedUtc),
            Text(a.host),
            Text(a.user),
            std::to_string(a.processId),
            Text(a.processStart),
            Text(a.toolVersion),
            Text(a.port),
            Text(a.device),
            Text(a.command),
            Text(a.fileName),
            Number(a.fileSize),
            Text(a.fileSha256),
            Number(a.pagesSent),
            Number(a.baudRate),
            Number(a.pagePauseMs),
            Text(a.loaderVersion),
            Text(a.serialHex),
            Text(a.serialText),
            Text(a.idCheck),
            Text(a.eraseResult),
            Text(a.programResult),
            Text(a.verifyResult),
            Text(a.backupFile),
            Text(a.outcome),
            Number(a.exitCode),
            Text(JoinMessages(a.messages)),
            Number(a.durationMs),
            Text(a.tag),
            Text(a.stationRun),
            Text(a.signer),
            std::to_string(revision),
            platform::ValidUtf8(stationHost)};
}

bool Upsert(CPgConnection& conn, const CAttempt& a, const std::string& stationHost, std::string& error,
            std::string* state)
{
    const CPgResult result = conn.ExecPrepared("torvane_upsert", Values(a, a.revision, stationHost));
    if (result.Ok()) return true;
    if (state) *state = result.State();
    error = NoSchema(result) ? kNoSchema : "record " + a.id + ": " + result.Error();
    return false;
}

bool PrepareImport(CPgConnection& conn, std::string& error)
{
    std::string columns, parameters, assignments;
    for (size_t i = 0; i < kColumns.size(); ++i) {
        const std::string column = kColumns[i];
        columns += (i ? ", " : "") + column;
        parameters += (i ? ", $" : "$") + std::to_string(i + 1);
        // Who wrote the row and when it began stay as the server has them.
        if (column == "id" || column == "started_utc" || column == "host" || column == "\"user\"" ||
            column == "process_id" || column == "process_start" || column == "revision")
            continue;
        assignments += column + " = EXCLUDED." + column + ", ";
    }
    // xmax is 0 for a row just inserted: tells a new row from a completed one.
    const std::string sql =
        "INSERT INTO torvane_attempt (" + columns + ") VALUES (" + parameters +
        ") ON CONFLICT (id) DO UPDATE SET " + assignments +
        "revision = torvane_attempt.revision + 1, received_utc = now()"
        " WHERE torvane_attempt.outcome = 'unfinished' AND EXCLUDED.outcome <> 'unfinished'"
        " AND torvane_attempt.host = EXCLUDED.host AND torvane_attempt.process_id = EXCLUDED.process_id"
        " AND torvane_attempt.process_start IS NOT DISTINCT FROM EXCLUDED.process_start"
        " RETURNING (xmax = 0)";
    if (conn.Prepare("torvane_import", sql, static_cast<int>(kColumns.size()), error)) return true;
    if (error.find("torvane_attempt") != std::string::npos &&
        error.find("does not exist") != std::string::npos)
        error = kNoSchema;
    return false;
}

Imported Import(CPgConnection& conn, const CAttempt& a, const std::string& stationHost, std::string& error)
{
    const int64_t revision = a.outcome == outcome::kUnfinished ? 1 : 2;
    const CPgResult result = conn.ExecPrepared("torvane_import", Values(a, revision, stationHost));
    if (!result.Ok()) {
        error = NoSchema(result) ? kNoSchema : "record " + a.id + ": " + result.Error();
        return Imported::Failed;
    }
    if (result.Rows() == 0) return Imported::AlreadyThere;
    return result.Text(0, 0) == "t" ? Imported::New : Imported::Completed;
}

bool Query(CPgConnection& conn, const CRecordFilter& filter, std::vector<CAttempt>& attempts,
           std::string& error)
{
    std::string columns;
    for (size_t i = 0; i + 1 < kColumns.size(); ++i) {
        const std::string column = kColumns[i];
        columns +=
            (i ? ", " : "") + (column == "started_utc" || column == "ended_utc" ? UtcColumn(kColumns[i])
                               : column == "id"                                 ? "id::text"
                                                                                : column);
    }
    const CPgResult result =
        conn.Exec("SELECT " + columns +
                      " FROM torvane_attempt"
                      " WHERE ($1::timestamptz IS NULL OR started_utc >= $1::timestamptz)"
                      " AND ($2::timestamptz IS NULL OR started_utc < $2::timestamptz)"
                      " AND ($3::text IS NULL OR port = $3 OR device = $3)"
                      " AND ($4::text IS NULL OR outcome = $4)"
                      " AND ($5::text IS NULL OR tag = $5)"
                      " AND ($6::text IS NULL OR serial_text = $6 OR lower(serial_hex) = lower($6))"
                      " ORDER BY started_utc, id",
                  {Text(filter.sinceUtc), Text(filter.untilUtc), Text(filter.port), Text(filter.outcome),
                   Text(filter.tag), Text(filter.serial)});
    if (!result.Ok()) {
        error = NoSchema(result) ? kNoSchema : result.Error();
        return false;
    }
    attempts.clear();
    for (int row = 0; row < result.Rows(); ++row) {
        CAttempt a;
        int i = 0;
        auto text = [&] { return result.Text(row, i++); };
        a.id = text();
        a.startedUtc = text();
        a.endedUtc = text();
        a.host = text();
        a.user = text();
        a.processId = static_cast<uint32_t>(Number(text()).value_or(0));
        a.processStart = text();
        a.toolVersion = text();
        a.port = text();
        a.device = text();
        a.command = text();
        a.fileName = text();
        a.fileSize = Number(text());
        a.fileSha256 = text();
        a.pagesSent = Number(text());
        a.baudRate = Number(text());
        a.pagePauseMs = Number(text());
        a.loaderVersion = text();
        a.serialHex = text();
        a.serialText = text();
        a.idCheck = text();
        a.eraseResult = text();
        a.programResult = text();
        a.verifyResult = text();
        a.backupFile = text();
        a.outcome = text();
        a.exitCode = Number(text());
        a.messages = SplitMessages(text());
        a.durationMs = Number(text());
        a.tag = text();
        a.stationRun = text();
        a.signer = text();
        a.revision = Number(text()).value_or(0);
        attempts.push_back(std::move(a));
    }
    return true;
}

} // namespace records_server
