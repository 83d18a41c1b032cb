#include "records/server/ServerRecords.h"

#include <array>

#include "platform/ShownText.h"
#include "records/Fields.h"
#include "records/Outcomes.h"
#include "records/server/FixtureStates.h"
#include "records/server/Summaries.h"

namespace records_server {

namespace {

constexpr char kNoSchema[] = "the server has no Torvane records yet: run torvane-cli records --init-server";

// The server's own columns beside the fields: the revision it holds, the station that
// delivered the row and when.
constexpr char kServerColumns[] =
    "revision bigint NOT NULL, station_host text NOT NULL, received_utc timestamptz NOT NULL DEFAULT now()";
// Each index with the schema version that added it: an older server gains the newer
// ones when it is migrated.
struct CIndex
{
    const char* sql;
    int since;
};
constexpr std::array kIndexes = {
    CIndex{"CREATE INDEX torvane_attempt_started ON torvane_attempt (started_utc)", 1},
    CIndex{"CREATE INDEX torvane_attempt_port ON torvane_attempt (port, started_utc)", 1},
    CIndex{"CREATE INDEX torvane_attempt_outcome ON torvane_attempt (outcome, started_utc)", 1},
    CIndex{"CREATE INDEX torvane_attempt_file ON torvane_attempt (file_sha256, started_utc)", 1},
    CIndex{"CREATE INDEX torvane_attempt_serial ON torvane_attempt (serial_text)", 1},
    // The line's tiles and alarms: each fixture's latest attempts, and the distinct files
    // and tool versions of a tag, found by a walk over the index instead of a whole scan.
    CIndex{"CREATE INDEX IF NOT EXISTS torvane_attempt_fixture ON torvane_attempt"
           " (host, (coalesce(port, '')), started_utc, id)",
           4},
    CIndex{"CREATE INDEX IF NOT EXISTS torvane_attempt_tag_file ON torvane_attempt (tag, file_sha256)", 4},
    CIndex{"CREATE INDEX IF NOT EXISTS torvane_attempt_tag_tool ON torvane_attempt (tag, tool_version)", 4},
    // A panel's attempts by its serial: its text, else its hex, as the line's trace asks.
    CIndex{"CREATE INDEX IF NOT EXISTS torvane_attempt_panel ON torvane_attempt"
           " ((coalesce(nullif(serial_text, ''), nullif(serial_hex, ''))))",
           4},
};

// Tables a schema version added, beside the fields' columns.
struct CAddedTable
{
    int since;
    const char* sql;
};
constexpr std::array kAddedTables = {
    // The line server's ingest: each station's token, kept only as its SHA-256 (hex).
    CAddedTable{4, "CREATE TABLE torvane_line_station (name text PRIMARY KEY CHECK (name <> ''),"
                   " token_sha256 text NOT NULL UNIQUE CHECK (token_sha256 ~ '^[0-9a-f]{64}$'),"
                   " created_utc timestamptz NOT NULL DEFAULT now())"},
};

// "user" is a reserved word in PostgreSQL.
std::string Column(const records::CField& field)
{
    const std::string column = field.column;
    return column == "user" ? "\"user\"" : column;
}

const char* PgType(const records::CField& field)
{
    switch (field.type) {
    case records::FieldType::Id:
        return "uuid";
    case records::FieldType::UtcTime:
        return "timestamptz";
    case records::FieldType::Integer:
    case records::FieldType::Milliseconds:
        return "bigint";
    default:
        return "text";
    }
}

std::string CreateSql()
{
    std::string sql = "CREATE TABLE torvane_attempt (";
    for (const records::CField& field : records::kFields) {
        sql += Column(field) + " " + PgType(field);
        if (Column(field) == "id") sql += " PRIMARY KEY";
        if (field.required) sql += " NOT NULL";
        if (Column(field) == "outcome") sql += " CHECK (" + records::OutcomeCheckSql() + ")";
        sql += ", ";
    }
    return sql + kServerColumns + ")";
}

// The columns in the order of the upsert's parameters: the fields, the revision, the station.
std::vector<std::string> UpsertColumns()
{
    std::vector<std::string> columns;
    for (const records::CField& field : records::kFields)
        columns.push_back(Column(field));
    columns.push_back("revision");
    columns.push_back("station_host");
    return columns;
}

// A journal written before its texts were made valid UTF-8 may still hold other bytes.
std::optional<std::string> Text(const std::string& text)
{
    return text.empty() ? std::nullopt : std::optional<std::string>(platform::ValidUtf8(text));
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

// A server whose table lacks a column of this version was set up by an older Torvane.
void ExplainPrepareError(std::string& error)
{
    if (error.find("torvane_attempt") == std::string::npos || error.find("does not exist") == std::string::npos)
        return;
    error = error.find("column \"") != std::string::npos
                ? "the server's records are older than this Torvane: run torvane-cli records --init-server "
                  "to migrate them"
                : kNoSchema;
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
        // A server set up before the fixtures' live state gains its table here.
        if (!InitFixtureStates(conn, error)) return fail(error);
        return Run(conn, "COMMIT", error) || fail(error);
    }
    if (found == 0) {
        if (!Run(conn, CreateSql(), error)) return fail(error);
        for (const CIndex& index : kIndexes)
            if (!Run(conn, index.sql, error)) return fail(error);
        for (const CAddedTable& table : kAddedTables)
            if (!Run(conn, table.sql, error)) return fail(error);
    }
    // From an older version, step by step: the columns of the fields each version added
    // (nullable, so the rows already there and those of older stations leave them empty).
    for (int step = found + 1; found != 0 && step <= kSchemaVersion; ++step) {
        for (const records::CField& field : records::kFields)
            if (field.serverSince == step &&
                !Run(conn, "ALTER TABLE torvane_attempt ADD COLUMN " + Column(field) + " " + PgType(field),
                     error))
                return fail(error);
        for (const CAddedTable& table : kAddedTables)
            if (table.since == step && !Run(conn, table.sql, error)) return fail(error);
    }
    for (const CIndex& index : kIndexes)
        if (found != 0 && index.since > found && !Run(conn, index.sql, error)) return fail(error);
    // The line's totals (version 5): filled once from the rows already there, and made
    // again when a version changed what they keep.
    if (found != 0 && found < kSummariesVersion && !DropSummaries(conn, error)) return fail(error);
    if (!InitSummaries(conn, found != 0, error)) return fail(error);
    if (!InitFixtureStates(conn, error)) return fail(error);
    if (!Run(conn, "DELETE FROM torvane_schema", error)) return fail(error);
    if (!conn.Exec("INSERT INTO torvane_schema (version) VALUES ($1)", {std::to_string(kSchemaVersion)}).Ok())
        return fail(conn.Error());
    if (!Run(conn, "COMMIT", error)) return fail(error);
    done = (found == 0 ? "created the server's records (version "
                       : "migrated the server's records to version ") +
           std::to_string(kSchemaVersion) + (found == 0 ? ")" : " (from " + std::to_string(found) + ")");
    return true;
}

namespace {

// The forward-only upsert; extraCondition narrows which rows already there it may update.
std::string UpsertSql(const std::string& extraCondition)
{
    const std::vector<std::string> kColumns = UpsertColumns();
    std::string columns, parameters, assignments;
    for (size_t i = 0; i < kColumns.size(); ++i) {
        columns += (i ? ", " : "") + std::string(kColumns[i]);
        parameters += (i ? ", $" : "$") + std::to_string(i + 1);
        if (i) assignments += std::string(i > 1 ? ", " : "") + kColumns[i] + " = EXCLUDED." + kColumns[i];
    }
    return "INSERT INTO torvane_attempt (" + columns + ") VALUES (" + parameters +
           ") ON CONFLICT (id) DO UPDATE SET " + assignments +
           ", received_utc = now()"
           " WHERE " +
           extraCondition +
           "((torvane_attempt.outcome = 'unfinished' AND EXCLUDED.outcome <> 'unfinished')"
           " OR (EXCLUDED.revision > torvane_attempt.revision"
           "     AND (EXCLUDED.outcome <> 'unfinished' OR torvane_attempt.outcome = 'unfinished')))";
}

} // namespace

bool PrepareUpsert(CPgConnection& conn, std::string& error)
{
    if (conn.Prepare("torvane_upsert", UpsertSql(""), static_cast<int>(UpsertColumns().size()), error))
        return true;
    ExplainPrepareError(error);
    return false;
}

bool PrepareStationUpsert(CPgConnection& conn, std::string& error)
{
    const int parameters = static_cast<int>(UpsertColumns().size());
    if (conn.Prepare("torvane_station_upsert",
                     UpsertSql("torvane_attempt.station_host = EXCLUDED.station_host AND ") + " RETURNING 1",
                     parameters, error) &&
        conn.Prepare("torvane_attempt_owner", "SELECT station_host FROM torvane_attempt WHERE id = $1::uuid",
                     1, error))
        return true;
    ExplainPrepareError(error);
    return false;
}

PgValues Values(const CAttempt& a, int64_t revision, const std::string& stationHost)
{
    PgValues values;
    for (const records::CField& field : records::kFields) {
        // A journal written before its texts were made valid UTF-8 may still hold other bytes.
        const auto text = records::FieldText(field, a);
        values.push_back(text ? std::optional<std::string>(platform::ValidUtf8(*text)) : std::nullopt);
    }
    values.push_back(std::to_string(revision));
    values.push_back(platform::ValidUtf8(stationHost));
    return values;
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

Upserted UpsertForStation(CPgConnection& conn, const CAttempt& a, const std::string& stationHost,
                          std::string& owner, std::string& error, std::string* state)
{
    const CPgResult result = conn.ExecPrepared("torvane_station_upsert", Values(a, a.revision, stationHost));
    if (!result.Ok()) {
        if (state) *state = result.State();
        error = NoSchema(result) ? kNoSchema : "record " + a.id + ": " + result.Error();
        return Upserted::Failed;
    }
    if (result.Rows() == 1) return Upserted::Stored;
    // Nothing changed: the server holds an equal or newer revision, or another station's row.
    const CPgResult held = conn.ExecPrepared("torvane_attempt_owner", {a.id});
    if (!held.Ok()) {
        if (state) *state = held.State();
        error = "record " + a.id + ": " + held.Error();
        return Upserted::Failed;
    }
    owner = held.Rows() == 1 ? held.Text(0, 0) : std::string();
    return owner == platform::ValidUtf8(stationHost) ? Upserted::Stored : Upserted::Foreign;
}

bool PrepareImport(CPgConnection& conn, std::string& error)
{
    const std::vector<std::string> kColumns = UpsertColumns();
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
    ExplainPrepareError(error);
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
    for (const records::CField& field : records::kFields) {
        const std::string column = Column(field);
        columns += (columns.empty() ? "" : ", ") + (field.type == records::FieldType::UtcTime
                                                        ? UtcColumn(field.column)
                                                    : field.type == records::FieldType::Id ? column + "::text"
                                                                                           : column);
    }
    const CPgResult result =
        conn.Exec("SELECT " + columns +
                      ", revision FROM torvane_attempt"
                      " WHERE ($1::timestamptz IS NULL OR started_utc >= $1::timestamptz)"
                      " AND ($2::timestamptz IS NULL OR started_utc < $2::timestamptz)"
                      " AND ($3::text IS NULL OR port = $3 OR device = $3)"
                      " AND ($4::text IS NULL OR outcome = $4)"
                      " AND ($5::text IS NULL OR tag = $5)"
                      " AND ($6::text IS NULL OR lower(left(serial_text, length($6))) = lower($6)"
                      " OR lower(left(serial_hex, length($6))) = lower($6))"
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
        for (const records::CField& field : records::kFields) {
            records::SetField(field, a,
                              result.IsNull(row, i) ? std::nullopt
                                                    : std::optional<std::string>(result.Text(row, i)));
            ++i;
        }
        a.revision = Number(result.Text(row, i)).value_or(0);
        attempts.push_back(std::move(a));
    }
    return true;
}

} // namespace records_server
