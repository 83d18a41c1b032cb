#include "records/server/Summaries.h"

#include <vector>

#include "records/Attempt.h"

namespace records_server {

std::string YieldConditionSql(const std::function<bool(records::Yield)>& counts, const std::string& outcome,
                              const std::string& touched, const std::string& upgrade)
{
    // The predicate asked for every outcome, touched or not, an upgrade or not; a term
    // names only what it depends on.
    std::string sql;
    for (const char* name : records::kOutcomes) {
        bool counted[2][2] = {};
        for (int u = 0; u < 2; ++u)
            for (int t = 0; t < 2; ++t) {
                CAttempt attempt;
                attempt.command = u ? records::kUpgradeCommands[0] : "erase";
                attempt.outcome = name;
                if (t) attempt.eraseResult = step::kOk;
                counted[u][t] = counts(records::YieldOf(attempt));
            }
        for (int u = 0; u < 2; ++u) {
            if (!counted[u][0] && !counted[u][1]) continue;
            const bool eitherUpgrade = counted[0][0] == counted[1][0] && counted[0][1] == counted[1][1];
            if (eitherUpgrade && u == 1) continue;
            // The outcomes are the library's own constants, never text from outside.
            std::string term = outcome + " = '" + name + "'";
            if (!eitherUpgrade) term += std::string(" AND ") + (u ? "" : "NOT ") + upgrade;
            if (counted[u][0] != counted[u][1])
                term += std::string(" AND ") + (counted[u][1] ? "" : "NOT ") + touched;
            sql += (sql.empty() ? "(" : " OR ") + ("(" + term + ")");
        }
    }
    return sql.empty() ? "false" : sql + ")";
}

std::string RowConditionSql(const std::function<bool(records::Yield)>& counts, const std::string& row)
{
    return YieldConditionSql(counts, row + "outcome", TouchedSql(row), records::UpgradeSql(row + "command"));
}

std::string SummaryConditionSql(const std::function<bool(records::Yield)>& counts)
{
    return YieldConditionSql(counts, "outcome", "touched", "upgrade");
}

std::string TouchedSql(const std::string& row)
{
    return "(coalesce(" + row + "erase_result, '') <> '' OR coalesce(" + row + "program_result, '') <> '')";
}

std::string FailStepSql(const std::string& row)
{
    return "coalesce(nullif(" + row + "fail_step, ''), CASE WHEN strpos(" + row +
           "fail_reason, ':') > 0 THEN split_part(" + row + "fail_reason, ':', 1) ELSE '' END)";
}

std::string FailKindSql(const std::string& row)
{
    return "coalesce(nullif(" + row + "fail_kind, ''), regexp_replace(regexp_replace(coalesce(" + row +
           "fail_reason, ''), '^[A-Za-z0-9 /]+( page [0-9A-F]{6})?: ', ''), '^differs at [0-9A-F]{6}$', "
           "'differs'))";
}

std::string FailPageSql(const std::string& row)
{
    return "substring(" + row + "fail_reason from '^[A-Za-z0-9 /]+(?: page |: differs at )([0-9A-F]{6})')";
}

std::string SerialSql(const std::string& row)
{
    return "coalesce(nullif(" + row + "serial_text, ''), nullif(" + row + "serial_hex, ''))";
}

namespace {

bool CountsAsWorked(records::Yield y)
{
    return y == records::Yield::Passed || y == records::Yield::Failed;
}
bool CountsForPanel(records::Yield y)
{
    return records::CountsAsPassed(y) || records::CountsAsFailed(y);
}

// Every summary row is keyed by the md5 of its texts (as a row, so no two keys run into
// each other): reasons, tags and file names have no bound, and a btree key has. The host
// is in every key, so stations never share a row: no waits, no deadlocks between their
// batches. Rows a revision took to zero stay; the queries pass over them.
constexpr const char* kTables[] = {
    // Per UTC day and fixture: the attempts, those with a duration and its sum. The
    // outcome, whether the flash was touched and whether the command upgrades a panel are
    // kept rather than a yield, so the queries decide what counts with the records
    // library's definition as they do on rows.
    "CREATE TABLE IF NOT EXISTS torvane_day_fixture (day date NOT NULL, key text NOT NULL, host text NOT "
    "NULL,"
    " port text NOT NULL, tag text NOT NULL, file_name text NOT NULL, file_sha256 text NOT NULL,"
    " loader_version text NOT NULL, outcome text NOT NULL, touched boolean NOT NULL, upgrade boolean NOT "
    "NULL,"
    " fail_step text NOT NULL, fail_kind text NOT NULL,"
    " fail_reason text NOT NULL, attempts bigint NOT NULL, timed bigint NOT NULL, duration_ms bigint NOT "
    "NULL,"
    " PRIMARY KEY (day, key))",
    // The worked attempts' durations per UTC day, fixture, tag and file, counted by whole
    // seconds rounded up: a bound of the metrics' histogram is then exact, and a
    // long period's percentiles are at most a second high.
    "CREATE TABLE IF NOT EXISTS torvane_day_cycle (day date NOT NULL, key text NOT NULL, seconds integer NOT "
    "NULL,"
    " host text NOT NULL, port text NOT NULL, tag text NOT NULL, file_name text NOT NULL,"
    " file_sha256 text NOT NULL, attempts bigint NOT NULL, PRIMARY KEY (day, key, seconds))",
    // A panel (serial in one tag and file): its first and last counted attempts.
    "CREATE TABLE IF NOT EXISTS torvane_panel (key text PRIMARY KEY, serial text NOT NULL, tag text NOT NULL,"
    " file_name text NOT NULL, file_sha256 text NOT NULL, first_utc timestamptz NOT NULL, host text NOT NULL,"
    " first_passed boolean NOT NULL, last_passed boolean NOT NULL, counted bigint NOT NULL)",
    "CREATE INDEX IF NOT EXISTS torvane_panel_first ON torvane_panel (first_utc)",
    // The panels by the UTC day and station of their first counted attempt.
    "CREATE TABLE IF NOT EXISTS torvane_day_panel (day date NOT NULL, key text NOT NULL, host text NOT NULL,"
    " tag text NOT NULL, file_name text NOT NULL, file_sha256 text NOT NULL, panels bigint NOT NULL,"
    " first_passed bigint NOT NULL, final_passed bigint NOT NULL, counted bigint NOT NULL,"
    " PRIMARY KEY (day, key))",
};

std::string Passed(const std::string& row)
{
    return RowConditionSql(records::CountsAsPassed, row);
}

// One row's share in the per-day summaries, taken out (sign -1) or put in (+1).
std::string CountFunctionSql()
{
    return "CREATE OR REPLACE FUNCTION torvane_summary_count(a torvane_attempt, sign integer) RETURNS void"
           " LANGUAGE plpgsql AS $$"
           " DECLARE v_day date := (a.started_utc AT TIME ZONE 'UTC')::date;"
           " v_port text := coalesce(a.port, ''); v_tag text := coalesce(a.tag, '');"
           " v_file text := coalesce(a.file_name, ''); v_sha text := coalesce(a.file_sha256, '');"
           " v_loader text := coalesce(a.loader_version, ''); v_touched boolean := " +
           TouchedSql("a.") + "; v_upgrade boolean := " + records::UpgradeSql("a.command") +
           "; v_step text := " + FailStepSql("a.") + "; v_kind text := " + FailKindSql("a.") +
           "; v_reason text := coalesce(a.fail_reason, '');"
           " BEGIN"
           " INSERT INTO torvane_day_fixture AS s VALUES (v_day, md5(row(a.host, v_port, v_tag, v_file, "
           "v_sha,"
           " v_loader, a.outcome, v_touched, v_upgrade, v_step, v_kind, v_reason)::text), a.host, v_port,"
           " v_tag, v_file, v_sha, v_loader, a.outcome, v_touched, v_upgrade, v_step, v_kind, v_reason, sign,"
           " CASE WHEN a.duration_ms IS NULL THEN 0 ELSE sign END, sign * coalesce(a.duration_ms, 0))"
           " ON CONFLICT (day, key) DO UPDATE SET attempts = s.attempts + EXCLUDED.attempts,"
           " timed = s.timed + EXCLUDED.timed, duration_ms = s.duration_ms + EXCLUDED.duration_ms;"
           " IF a.duration_ms IS NOT NULL AND " +
           YieldConditionSql(CountsAsWorked, "a.outcome", "v_touched", "v_upgrade") +
           " THEN INSERT INTO torvane_day_cycle AS s VALUES (v_day, md5(row(a.host, v_port, v_tag, v_file,"
           " v_sha)::text), ceil(a.duration_ms / 1000.0)::integer, a.host, v_port, v_tag, v_file, v_sha, "
           "sign)"
           " ON CONFLICT (day, key, seconds) DO UPDATE SET attempts = s.attempts + EXCLUDED.attempts;"
           " END IF; END $$";
}

// A panel's row made again from its few attempts (through torvane_attempt_panel), and
// its share in the per-day panels moved along.
std::string PanelFunctionSql()
{
    const std::string counted = RowConditionSql(CountsForPanel);
    const std::string attempts =
        " SELECT count(*) AS counted, (array_agg(started_utc ORDER BY started_utc, id))[1] AS first_utc,"
        " (array_agg(host ORDER BY started_utc, id))[1] AS host,"
        " (array_agg(passed ORDER BY started_utc, id))[1] AS first_passed,"
        " (array_agg(passed ORDER BY started_utc DESC, id DESC))[1] AS last_passed INTO v_new"
        " FROM (SELECT started_utc, id, host, " +
        Passed("") + " AS passed FROM torvane_attempt WHERE " + SerialSql("") +
        " = v_serial AND coalesce(tag, '') = v_tag AND coalesce(file_name, '') = v_file"
        " AND coalesce(file_sha256, '') = v_sha AND " +
        counted + ") c;";
    const std::string addDay =
        " INSERT INTO torvane_day_panel AS s VALUES ((v_new.first_utc AT TIME ZONE 'UTC')::date,"
        " md5(row(v_new.host, v_tag, v_file, v_sha)::text), v_new.host, v_tag, v_file, v_sha, 1,"
        " v_new.first_passed::integer, v_new.last_passed::integer, v_new.counted)"
        " ON CONFLICT (day, key) DO UPDATE SET panels = s.panels + 1,"
        " first_passed = s.first_passed + EXCLUDED.first_passed,"
        " final_passed = s.final_passed + EXCLUDED.final_passed, counted = s.counted + EXCLUDED.counted;";
    return "CREATE OR REPLACE FUNCTION torvane_panel_refresh(v_serial text, v_tag text, v_file text, v_sha "
           "text)"
           " RETURNS void LANGUAGE plpgsql AS $$"
           " DECLARE v_key text := md5(row(v_serial, v_tag, v_file, v_sha)::text); v_old torvane_panel;"
           " v_new record;"
           " BEGIN IF v_serial IS NULL THEN RETURN; END IF;"
           // Two stations recording one panel at once: the second waits on the panel's
           // row (or on the first one's insert of it) and then counts again, seeing the
           // first one's attempt. A row's lock, unlike an advisory one, takes no room in
           // the lock table, so a statement of a million rows can hold them all.
           " SELECT * INTO v_old FROM torvane_panel WHERE key = v_key FOR UPDATE;"
           " IF NOT FOUND THEN" +
           attempts +
           " IF v_new.counted = 0 THEN RETURN; END IF;"
           " INSERT INTO torvane_panel VALUES (v_key, v_serial, v_tag, v_file, v_sha, v_new.first_utc, "
           "v_new.host,"
           " v_new.first_passed, v_new.last_passed, v_new.counted) ON CONFLICT (key) DO NOTHING;"
           " IF FOUND THEN" +
           addDay +
           " RETURN; END IF;"
           " SELECT * INTO v_old FROM torvane_panel WHERE key = v_key FOR UPDATE; END IF;"
           " IF v_old.counted > 0 THEN UPDATE torvane_day_panel SET panels = panels - 1,"
           " first_passed = first_passed - v_old.first_passed::integer,"
           " final_passed = final_passed - v_old.last_passed::integer, counted = counted - v_old.counted"
           " WHERE day = (v_old.first_utc AT TIME ZONE 'UTC')::date"
           " AND key = md5(row(v_old.host, v_tag, v_file, v_sha)::text); END IF;" +
           attempts +
           " IF v_new.counted = 0 THEN DELETE FROM torvane_panel WHERE key = v_key; RETURN; END IF;"
           " INSERT INTO torvane_panel AS s VALUES (v_key, v_serial, v_tag, v_file, v_sha, v_new.first_utc,"
           " v_new.host, v_new.first_passed, v_new.last_passed, v_new.counted) ON CONFLICT (key) DO UPDATE"
           " SET first_utc = EXCLUDED.first_utc, host = EXCLUDED.host, first_passed = EXCLUDED.first_passed,"
           " last_passed = EXCLUDED.last_passed, counted = EXCLUDED.counted;" +
           addDay + " END $$";
}

// The columns a summary reads: an update that changes none of them (a revision that only
// adds messages) costs nothing more.
constexpr char kSummarized[] =
    "started_utc, host, port, tag, file_name, file_sha256, loader_version, outcome,"
    " erase_result, program_result, command, fail_step, fail_kind, fail_reason, duration_ms,"
    " serial_text, serial_hex";

std::string Prefixed(const std::string& row)
{
    std::string columns = kSummarized, out;
    size_t start = 0;
    while (start < columns.size()) {
        size_t end = columns.find(',', start);
        if (end == std::string::npos) end = columns.size();
        std::string column = columns.substr(start, end - start);
        column.erase(0, column.find_first_not_of(' '));
        out += (out.empty() ? "" : ", ") + row + column;
        start = end + 1;
    }
    return out;
}

// Runs as its owner, so the roles that write attempts need no right on the summaries. A
// panel is made again only when a counted attempt of it came, went or changed: not for
// the row a station writes before the work starts.
std::string TriggerFunctionSql()
{
    const auto counted = [](const std::string& r) { return RowConditionSql(CountsForPanel, r); };
    const auto refresh = [](const std::string& r) {
        return "PERFORM torvane_panel_refresh(" + SerialSql(r) + ", coalesce(" + r + "tag, ''), coalesce(" +
               r + "file_name, ''), coalesce(" + r + "file_sha256, ''));";
    };
    return "CREATE OR REPLACE FUNCTION torvane_attempt_summarize() RETURNS trigger LANGUAGE plpgsql"
           " SECURITY DEFINER SET search_path FROM CURRENT AS $$ BEGIN"
           " IF TG_OP = 'INSERT' THEN PERFORM torvane_summary_count(NEW, 1);"
           " IF " +
           counted("NEW.") + " THEN " + refresh("NEW.") +
           " END IF;"
           " ELSIF TG_OP = 'DELETE' THEN PERFORM torvane_summary_count(OLD, -1);"
           " IF " +
           counted("OLD.") + " THEN " + refresh("OLD.") +
           " END IF;"
           " ELSIF row(" +
           Prefixed("OLD.") + ") IS DISTINCT FROM row(" + Prefixed("NEW.") +
           ") THEN PERFORM torvane_summary_count(OLD, -1); PERFORM torvane_summary_count(NEW, 1);"
           " IF " +
           counted("OLD.") + " OR " + counted("NEW.") + " THEN " + refresh("NEW.") +
           " END IF;"
           " IF " +
           counted("OLD.") + " AND row(" + SerialSql("OLD.") +
           ", OLD.tag, OLD.file_name, OLD.file_sha256) IS DISTINCT FROM row(" + SerialSql("NEW.") +
           ", NEW.tag, NEW.file_name, NEW.file_sha256) THEN " + refresh("OLD.") +
           " END IF;"
           " END IF; RETURN NULL; END $$";
}

// Every summary made again from the rows: the migration, and a bulk load that ran with
// the trigger disabled. Each table's rows go in day by day, as the trigger writes them: a
// period's days then lie together on disk, not spread over the whole table.
std::string FillFunctionSql()
{
    const std::string counted = RowConditionSql(CountsForPanel);
    return "CREATE OR REPLACE FUNCTION torvane_summaries_fill() RETURNS void LANGUAGE plpgsql AS $$ BEGIN"
           " TRUNCATE torvane_day_fixture, torvane_day_cycle, torvane_panel, torvane_day_panel;"
           " INSERT INTO torvane_day_fixture SELECT day, md5(row(host, port, tag, file_name, file_sha256,"
           " loader_version, outcome, touched, upgrade, fail_step, fail_kind, fail_reason)::text), host, port,"
           " tag, file_name, file_sha256, loader_version, outcome, touched, upgrade, fail_step, fail_kind,"
           " fail_reason, count(*), "
           "count(duration_ms),"
           " coalesce(sum(duration_ms), 0) FROM (SELECT (started_utc AT TIME ZONE 'UTC')::date AS day, host,"
           " coalesce(port, '') AS port, coalesce(tag, '') AS tag, coalesce(file_name, '') AS file_name,"
           " coalesce(file_sha256, '') AS file_sha256, coalesce(loader_version, '') AS loader_version, "
           "outcome, " +
           TouchedSql("") + " AS touched, " + records::UpgradeSql("command") + " AS upgrade, " +
           FailStepSql("") +
           " AS fail_step, " + FailKindSql("") +
           " AS fail_kind, coalesce(fail_reason, '') AS fail_reason, duration_ms FROM torvane_attempt) r"
           " GROUP BY day, host, port, tag, file_name, file_sha256, loader_version, outcome, touched, "
           "upgrade, "
           "fail_step, fail_kind,"
           " fail_reason ORDER BY day;"
           " INSERT INTO torvane_day_cycle SELECT day, md5(row(host, port, tag, file_name, "
           "file_sha256)::text),"
           " seconds, host, port, tag, file_name, file_sha256, count(*) FROM (SELECT"
           " (started_utc AT TIME ZONE 'UTC')::date AS day, host, coalesce(port, '') AS port,"
           " coalesce(tag, '') AS tag, coalesce(file_name, '') AS file_name,"
           " coalesce(file_sha256, '') AS file_sha256, ceil(duration_ms / 1000.0)::integer AS seconds"
           " FROM torvane_attempt WHERE duration_ms IS NOT NULL AND " +
           RowConditionSql(CountsAsWorked) +
           ") r GROUP BY day, host, port, tag, file_name, file_sha256, seconds ORDER BY day;"
           " INSERT INTO torvane_panel SELECT md5(row(serial, tag, file_name, file_sha256)::text), serial, "
           "tag,"
           " file_name, file_sha256, (array_agg(started_utc ORDER BY started_utc, id))[1],"
           " (array_agg(host ORDER BY started_utc, id))[1], (array_agg(passed ORDER BY started_utc, id))[1],"
           " (array_agg(passed ORDER BY started_utc DESC, id DESC))[1], count(*) FROM (SELECT " +
           SerialSql("") +
           " AS serial, coalesce(tag, '') AS tag, coalesce(file_name, '') AS file_name,"
           " coalesce(file_sha256, '') AS file_sha256, started_utc, id, host, " +
           Passed("") + " AS passed FROM torvane_attempt WHERE " + SerialSql("") + " IS NOT NULL AND " +
           counted +
           ") c GROUP BY serial, tag, file_name, file_sha256;"
           " INSERT INTO torvane_day_panel SELECT (first_utc AT TIME ZONE 'UTC')::date,"
           " md5(row(host, tag, file_name, file_sha256)::text), host, tag, file_name, file_sha256, count(*),"
           " count(*) FILTER (WHERE first_passed), count(*) FILTER (WHERE last_passed), sum(counted)"
           " FROM torvane_panel GROUP BY 1, 2, 3, 4, 5, 6 ORDER BY 1; END $$";
}

} // namespace

bool DropSummaries(CPgConnection& conn, std::string& error)
{
    const CPgResult result = conn.Exec(
        "DROP TABLE IF EXISTS torvane_day_fixture, torvane_day_cycle, torvane_panel, torvane_day_panel");
    if (!result.Ok()) error = result.Error();
    return result.Ok();
}

bool InitSummaries(CPgConnection& conn, bool fill, std::string& error)
{
    std::vector<std::string> statements(std::begin(kTables), std::end(kTables));
    statements.insert(
        statements.end(),
        {CountFunctionSql(), PanelFunctionSql(), TriggerFunctionSql(), FillFunctionSql(),
         "CREATE OR REPLACE TRIGGER torvane_attempt_summary AFTER INSERT OR UPDATE OR DELETE ON "
         "torvane_attempt"
         " FOR EACH ROW EXECUTE FUNCTION torvane_attempt_summarize()",
         // A TRUNCATE fires no row's trigger: the totals go with the rows.
         "CREATE OR REPLACE FUNCTION torvane_summaries_clear() RETURNS trigger LANGUAGE plpgsql SECURITY "
         "DEFINER"
         " SET search_path FROM CURRENT AS $$ BEGIN"
         " TRUNCATE torvane_day_fixture, torvane_day_cycle, torvane_panel, torvane_day_panel; RETURN NULL; "
         "END $$",
         "CREATE OR REPLACE TRIGGER torvane_attempt_summary_truncate AFTER TRUNCATE ON torvane_attempt"
         " FOR EACH STATEMENT EXECUTE FUNCTION torvane_summaries_clear()"});
    if (fill) {
        statements.push_back("SELECT torvane_summaries_fill()");
        // Whoever may read the attempts (the line's reader) may read their totals: a
        // migrated server's page would answer 503 until someone granted them by hand.
        statements.push_back(
            "DO $$ DECLARE reader text; BEGIN FOR reader IN SELECT DISTINCT a.grantee::regrole::text"
            " FROM pg_class c, aclexplode(c.relacl) a WHERE c.oid = 'torvane_attempt'::regclass"
            " AND a.privilege_type = 'SELECT' AND a.grantee <> 0 AND a.grantee <> c.relowner LOOP"
            " EXECUTE 'GRANT SELECT ON torvane_day_fixture, torvane_day_cycle, torvane_panel, torvane_day_panel"
            " TO ' || reader; END LOOP; END $$");
    }
    for (const std::string& statement : statements) {
        const CPgResult result = conn.Exec(statement);
        if (!result.Ok()) {
            error = result.Error();
            return false;
        }
    }
    return true;
}

} // namespace records_server
