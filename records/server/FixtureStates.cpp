#include "records/server/FixtureStates.h"

#include <array>
#include <vector>

namespace records_server {

namespace {

constexpr std::array kStatements = {
    "CREATE TABLE IF NOT EXISTS torvane_fixture_state ("
    " station_host text NOT NULL, fixture text NOT NULL, state text NOT NULL, detail text NOT NULL,"
    " step text NOT NULL, pages_done bigint, pages_total bigint, seconds_left bigint,"
    " fail_reason text NOT NULL, last_panel text NOT NULL,"
    " updated_utc timestamptz NOT NULL DEFAULT now(), PRIMARY KEY (station_host, fixture))",
    // One notification per statement: a batch of records wakes the line's server once.
    "CREATE OR REPLACE FUNCTION torvane_line_notify() RETURNS trigger LANGUAGE plpgsql AS"
    " $$BEGIN PERFORM pg_notify('torvane_line', TG_ARGV[0]); RETURN NULL; END$$",
    "CREATE OR REPLACE TRIGGER torvane_attempt_notify AFTER INSERT OR UPDATE ON torvane_attempt"
    " FOR EACH STATEMENT EXECUTE FUNCTION torvane_line_notify('records')",
    // A row sent again unchanged (the station's sign of life) wakes nobody: the pages
    // judge silence by the clock.
    "CREATE OR REPLACE TRIGGER torvane_fixture_state_added AFTER INSERT ON torvane_fixture_state"
    " FOR EACH ROW EXECUTE FUNCTION torvane_line_notify('state')",
    "CREATE OR REPLACE TRIGGER torvane_fixture_state_changed AFTER UPDATE ON torvane_fixture_state"
    " FOR EACH ROW WHEN ((OLD.state, OLD.detail, OLD.step, OLD.pages_done, OLD.pages_total, OLD.seconds_left,"
    " OLD.fail_reason, OLD.last_panel) IS DISTINCT FROM (NEW.state, NEW.detail, NEW.step, NEW.pages_done,"
    " NEW.pages_total, NEW.seconds_left, NEW.fail_reason, NEW.last_panel))"
    " EXECUTE FUNCTION torvane_line_notify('state')",
};

std::optional<std::string> Number(const std::optional<int64_t>& value)
{
    return value ? std::optional(std::to_string(*value)) : std::nullopt;
}

constexpr char kUpsertName[] = "torvane_fixture_state_upsert";
constexpr int kUpsertParameters = 10;
constexpr char kUpsertSql[] =
    "INSERT INTO torvane_fixture_state (station_host, fixture, state, detail, step, pages_done,"
    " pages_total, seconds_left, fail_reason, last_panel) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10)"
    " ON CONFLICT (station_host, fixture) DO UPDATE SET state = EXCLUDED.state, detail = EXCLUDED.detail,"
    " step = EXCLUDED.step, pages_done = EXCLUDED.pages_done, pages_total = EXCLUDED.pages_total,"
    " seconds_left = EXCLUDED.seconds_left, fail_reason = EXCLUDED.fail_reason,"
    " last_panel = EXCLUDED.last_panel, updated_utc = now()";

PgValues Values(const std::string& stationHost, const CFixtureStateRow& row)
{
    return {stationHost,
            row.fixture,
            row.state,
            row.detail,
            row.step,
            Number(row.pagesDone),
            Number(row.pagesTotal),
            Number(row.secondsLeft),
            row.failReason,
            row.lastPanel};
}

} // namespace

bool InitFixtureStates(CPgConnection& conn, std::string& error)
{
    for (const char* statement : kStatements) {
        const CPgResult result = conn.Exec(statement);
        if (!result.Ok()) {
            error = result.Error();
            return false;
        }
    }
    return true;
}

bool UpsertFixtureState(CPgConnection& conn, const std::string& stationHost, const CFixtureStateRow& row,
                        std::string& error, bool* noTable)
{
    const CPgResult result = conn.Exec(kUpsertSql, Values(stationHost, row));
    if (!result.Ok()) error = result.Error();
    if (noTable) *noTable = result.State() == "42P01"; // undefined_table
    return result.Ok();
}

bool PrepareFixtureStateUpsert(CPgConnection& conn, std::string& error)
{
    return conn.Prepare(kUpsertName, kUpsertSql, kUpsertParameters, error);
}

bool UpsertPreparedFixtureState(CPgConnection& conn, const std::string& stationHost,
                                const CFixtureStateRow& row, std::string& error)
{
    const CPgResult result = conn.ExecPrepared(kUpsertName, Values(stationHost, row));
    if (!result.Ok()) error = result.Error();
    return result.Ok();
}

} // namespace records_server
