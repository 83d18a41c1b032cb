#include "line/LineQueries.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include "records/Outcomes.h"
#include "records/server/FixtureStateRow.h"
#include "records/server/Summaries.h"

namespace line {

namespace {

// A condition on a row of torvane_attempt.
std::string ConditionSql(const std::function<bool(records::Yield)>& counts)
{
    return records_server::RowConditionSql(counts);
}
// The same on a row of the per-day summaries, which keep the outcome and the touch.
std::string SummaryConditionSql(const std::function<bool(records::Yield)>& counts)
{
    return records_server::SummaryConditionSql(counts);
}

// $1 since, $2 until, $3 tag, $4 file.
constexpr char kFilterSql[] =
    " started_utc >= coalesce($1::timestamptz, date_trunc('day', now()))"
    " AND ($2::timestamptz IS NULL OR started_utc < $2::timestamptz)"
    " AND ($3::text IS NULL OR tag = $3::text)"
    " AND ($4::text IS NULL OR file_name = $4::text OR file_sha256 = lower($4::text))";

PgValues FilterValues(const CLineFilter& filter)
{
    return {filter.since, filter.until, filter.tag, filter.file};
}

std::string Utc(const char* column)
{
    return std::string("to_char(") + column + " AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')";
}


bool Run(CPgConnection& conn, const std::string& sql, const PgValues& values, CPgResult& result,
         std::string& error)
{
    result = conn.Exec(sql, values);
    if (result.Ok()) return true;
    error = result.Error();
    return false;
}

std::string Percent(int64_t part, int64_t whole)
{
    if (whole <= 0) return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%",
                  100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return text;
}

int64_t Number(const CPgResult& result, int row, int column)
{
    const std::string text = result.Text(row, column);
    return text.empty() ? 0 : std::stoll(text);
}

void Fill(const CPgResult& result, CLineTable& table)
{
    for (int row = 0; row < result.Rows(); ++row) {
        std::vector<std::optional<std::string>> cells;
        for (size_t column = 0; column < table.columns.size(); ++column) {
            const int c = static_cast<int>(column);
            cells.push_back(result.IsNull(row, c) ? std::nullopt : std::optional(result.Text(row, c)));
        }
        table.rows.push_back(std::move(cells));
    }
}

// Every fixture (host and port) that ever recorded, as the CTE "fixture": a walk over
// the fixture index, one probe per fixture instead of a scan of every attempt.
constexpr char kFixtureWalkSql[] =
    "fixture AS ((SELECT host, coalesce(port, '') AS port FROM torvane_attempt"
    " ORDER BY host, coalesce(port, '') LIMIT 1)"
    " UNION ALL SELECT n.host, n.port FROM fixture f CROSS JOIN LATERAL (SELECT host, coalesce(port, '') AS "
    "port"
    " FROM torvane_attempt a WHERE (a.host, coalesce(a.port, '')) > (f.host, f.port)"
    " ORDER BY a.host, coalesce(a.port, '') LIMIT 1) n)";

// A fixture's attempts, newest first, through the same index; "a" is the attempt, "f"
// the fixture.
constexpr char kOfFixtureSql[] =
    " FROM torvane_attempt a WHERE a.host = f.host AND coalesce(a.port, '') = f.port";
constexpr char kNewestFirstSql[] = " ORDER BY a.started_utc DESC, a.id DESC";

// The tags' distinct values of a column (file_sha256, tool_version) as the CTE `name`
// (tag, value), walked over the index of (tag, column) as the fixtures are.
std::string TagValuesSql(const std::string& name, const std::string& column)
{
    const std::string present = " tag <> '' AND " + column + " <> ''";
    return name + " AS ((SELECT tag, " + column + " AS value FROM torvane_attempt WHERE" + present +
           " ORDER BY tag, " + column + " LIMIT 1) UNION ALL SELECT n.* FROM " + name +
           " p CROSS JOIN LATERAL (SELECT tag, " + column + " FROM torvane_attempt WHERE (tag, " + column +
           ") > (p.tag, p.value) AND" + present + " ORDER BY tag, " + column + " LIMIT 1) n)";
}

// A period as the summaries answer it: its whole UTC days from them, the hours at its
// edges from the rows. Parameters of every query on it: $1 tag, $2 file, $3 and $4 the
// whole days [first, end) (NULL $3: none; NULL $4: up to the last), $5-$6 and $7-$8 the
// edges' times [from, to) (NULL: no such edge).
struct CSplit
{
    PgValues values;
    bool anyWholeDay = false;
};

bool SplitPeriod(CPgConnection& conn, const CLineFilter& filter, CSplit& split, std::string& error)
{
    // The start rounded up to a UTC midnight, the end down; a period without an end has
    // every day from its first whole one.
    const CPgResult bounds = conn.Exec(
        "WITH b AS (SELECT coalesce($1::timestamptz, date_trunc('day', now())) AS lo, $2::timestamptz AS hi),"
        " d AS (SELECT lo, hi, (lo AT TIME ZONE 'UTC')::date + CASE WHEN date_trunc('day', lo AT TIME ZONE "
        "'UTC')"
        " = lo AT TIME ZONE 'UTC' THEN 0 ELSE 1 END AS first_day, (hi AT TIME ZONE 'UTC')::date AS end_day "
        "FROM b)"
        " SELECT lo, hi, first_day, end_day, (end_day IS NULL OR first_day < end_day),"
        " first_day::timestamp AT TIME ZONE 'UTC', end_day::timestamp AT TIME ZONE 'UTC',"
        " lo < first_day::timestamp AT TIME ZONE 'UTC', hi > end_day::timestamp AT TIME ZONE 'UTC' FROM d",
        {filter.since, filter.until});
    if (!bounds.Ok()) {
        error = bounds.Error();
        return false;
    }
    auto cell = [&](int column) {
        return bounds.IsNull(0, column) ? std::nullopt : std::optional(bounds.Text(0, column));
    };
    split.anyWholeDay = bounds.Text(0, 4) == "t";
    split.values = {filter.tag, filter.file};
    if (!split.anyWholeDay) {
        split.values.insert(split.values.end(),
                            {std::nullopt, std::nullopt, cell(0), cell(1), std::nullopt, std::nullopt});
        return true;
    }
    split.values.insert(split.values.end(), {cell(2), cell(3)});
    if (bounds.Text(0, 7) == "t")
        split.values.insert(split.values.end(), {cell(0), cell(5)});
    else
        split.values.insert(split.values.end(), {std::nullopt, std::nullopt});
    if (bounds.Text(0, 8) == "t")
        split.values.insert(split.values.end(), {cell(6), cell(1)});
    else
        split.values.insert(split.values.end(), {std::nullopt, std::nullopt});
    return true;
}

// The rows of torvane_attempt at the edges (column: their time) and of the filter.
std::string EdgeSql(const std::string& column = "started_utc")
{
    return " ((" + column + " >= $5::timestamptz AND " + column + " < $6::timestamptz) OR (" + column +
           " >= $7::timestamptz AND " + column +
           " < $8::timestamptz))"
           " AND ($1::text IS NULL OR tag = $1::text)"
           " AND ($2::text IS NULL OR file_name = $2::text OR file_sha256 = lower($2::text))";
}
// The summaries' rows of the whole days and of the filter (an empty text stands for none).
constexpr char kWholeDaysSql[] =
    " day >= $3::date AND ($4::date IS NULL OR day < $4::date)"
    " AND ($1::text IS NULL OR (tag = $1::text AND $1::text <> ''))"
    " AND ($2::text IS NULL OR ((file_name = $2::text OR file_sha256 = lower($2::text))"
    " AND $2::text <> ''))";

// percentile_cont over durations counted by whole second: sorted (seconds, count).
double Percentile(const std::vector<std::pair<int64_t, int64_t>>& counts, int64_t total, double fraction)
{
    const double rank = fraction * static_cast<double>(total - 1);
    const auto below = static_cast<int64_t>(rank);
    auto at = [&](int64_t index) {
        for (const auto& [seconds, count] : counts) {
            if (index < count) return static_cast<double>(seconds);
            index -= count;
        }
        return static_cast<double>(counts.back().first);
    };
    const double low = at(below);
    return low + (rank - static_cast<double>(below)) * (at(below + 1 < total ? below + 1 : below) - low);
}

std::string OneDecimal(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", std::round(value * 10.0) / 10.0);
    return text;
}

} // namespace

std::string PassedSql()
{
    return ConditionSql(records::CountsAsPassed);
}
std::string FailedSql()
{
    return ConditionSql(records::CountsAsFailed);
}
std::string StoppedPartWaySql()
{
    return ConditionSql([](records::Yield y) { return y == records::Yield::StoppedPartWay; });
}
std::string WorkedSql()
{
    return ConditionSql(
        [](records::Yield y) { return y == records::Yield::Passed || y == records::Yield::Failed; });
}
std::string SerialSql()
{
    return records_server::SerialSql("");
}

bool Yields(CPgConnection& conn, const CLineFilter& filter, CLineTable& table, std::string& error)
{
    CSplit split;
    if (!SplitPeriod(conn, filter, split, error)) return false;
    // The attempts from the summaries and the edges' rows. A panel (a serial in one tag
    // and file) counts in the period of its first counted attempt (a stop before the
    // flash was touched, or an attempt still running, is no pass and no fail) with its
    // first and its last counted attempt, even one after the period: so a long period is
    // the sum of its days, and a retest on a later day still makes the final yield.
    const auto counts = [](const std::string& passed, const std::string& failed, const std::string& partWay,
                           const std::string& n) {
        return "coalesce(sum(" + n + "), 0), coalesce(sum(" + n + ") FILTER (WHERE " + passed +
               "), 0), coalesce(sum(" + n + ") FILTER (WHERE " + failed + "), 0), coalesce(sum(" + n +
               ") FILTER (WHERE " + partWay + "), 0)";
    };
    const auto partWay = [](records::Yield y) { return y == records::Yield::StoppedPartWay; };
    const std::string sql =
        "SELECT s.a + r.a, s.p + r.p, s.f + r.f, s.w + r.w, ps.n + pr.n, ps.first + pr.first,"
        " ps.final + pr.final, ps.counted + pr.counted FROM (SELECT " +
        counts(SummaryConditionSql(records::CountsAsPassed), SummaryConditionSql(records::CountsAsFailed),
               SummaryConditionSql(partWay), "attempts") +
        " FROM torvane_day_fixture WHERE" + kWholeDaysSql + ") s (a, p, f, w), (SELECT " +
        counts(PassedSql(), FailedSql(), StoppedPartWaySql(), "1") + " FROM torvane_attempt WHERE" +
        EdgeSql() +
        ") r (a, p, f, w), (SELECT coalesce(sum(panels), 0), coalesce(sum(first_passed), 0),"
        " coalesce(sum(final_passed), 0), coalesce(sum(counted), 0) FROM torvane_day_panel WHERE" +
        kWholeDaysSql +
        ") ps (n, first, final, counted), (SELECT count(*), count(*) FILTER (WHERE first_passed),"
        " count(*) FILTER (WHERE last_passed), coalesce(sum(counted), 0) FROM torvane_panel WHERE" +
        EdgeSql("first_utc") + ") pr (n, first, final, counted)";
    CPgResult result;
    if (!Run(conn, sql, split.values, result, error)) return false;
    const int64_t attempts = Number(result, 0, 0), passed = Number(result, 0, 1),
                  failed = Number(result, 0, 2), partWayCount = Number(result, 0, 3),
                  serials = Number(result, 0, 4), firstPassed = Number(result, 0, 5),
                  finalPassed = Number(result, 0, 6), serialAttempts = Number(result, 0, 7);
    table.columns = {{"attempts", true},         {"passed", true},  {"failed", true},
                     {"stopped_part_way", true}, {"attempt_yield"}, {"serials", true},
                     {"first_pass_yield"},       {"final_yield"},   {"retests", true}};
    table.rows = {{std::to_string(attempts), std::to_string(passed), std::to_string(failed),
                   std::to_string(partWayCount), Percent(passed, passed + failed), std::to_string(serials),
                   Percent(firstPassed, serials), Percent(finalPassed, serials),
                   std::to_string(serialAttempts - serials)}};
    return true;
}

bool CycleTimes(CPgConnection& conn, const CLineFilter& filter, CLineTable& table, std::string& error)
{
    table.columns = {{"host"}, {"port"}, {"attempts", true}, {"median_s", true}, {"p90_s", true}};
    CSplit split;
    if (!SplitPeriod(conn, filter, split, error)) return false;
    CPgResult result;
    if (!filter.since || !split.anyWholeDay) {
        // Today (the default) and a period within one day: the exact durations of its rows.
        // Both percentiles from one sort of each fixture's durations.
        const std::string sql =
            "SELECT host, port, n, round((p[1] / 1000.0)::numeric, 1), round((p[2] / 1000.0)::numeric, 1)"
            " FROM (SELECT host, coalesce(port, '') AS port, count(*) AS n,"
            " percentile_cont(ARRAY[0.5, 0.9]) WITHIN GROUP (ORDER BY duration_ms) AS p"
            " FROM torvane_attempt WHERE" +
            std::string(kFilterSql) + " AND duration_ms IS NOT NULL AND " + WorkedSql() +
            " GROUP BY 1, 2) d ORDER BY 1, 2";
        if (!Run(conn, sql, FilterValues(filter), result, error)) return false;
        Fill(result, table);
        return true;
    }
    // A longer period: its durations by whole second (rounded up, as the summaries count
    // them), so its percentiles are at most a second high.
    const std::string sql = "SELECT host, port, seconds, sum(n) FROM (SELECT host, port, seconds, attempts "
                            "AS n FROM torvane_day_cycle"
                            " WHERE" +
                            std::string(kWholeDaysSql) +
                            " UNION ALL SELECT host, coalesce(port, ''), ceil(duration_ms / "
                            "1000.0)::integer, 1 FROM torvane_attempt"
                            " WHERE" +
                            EdgeSql() + " AND duration_ms IS NOT NULL AND " + WorkedSql() +
                            ") cycles GROUP BY 1, 2, 3 HAVING sum(n) > 0 ORDER BY 1, 2, 3";
    if (!Run(conn, sql, split.values, result, error)) return false;
    for (int row = 0; row < result.Rows();) {
        const std::string host = result.Text(row, 0), port = result.Text(row, 1);
        std::vector<std::pair<int64_t, int64_t>> counts;
        int64_t total = 0;
        for (; row < result.Rows() && result.Text(row, 0) == host && result.Text(row, 1) == port; ++row) {
            counts.emplace_back(Number(result, row, 2), Number(result, row, 3));
            total += counts.back().second;
        }
        table.rows.push_back({host, port, std::to_string(total), OneDecimal(Percentile(counts, total, 0.5)),
                              OneDecimal(Percentile(counts, total, 0.9))});
    }
    return true;
}

bool ParetoByName(const std::string& name, ParetoBy& by)
{
    constexpr std::pair<const char*, ParetoBy> kNames[] = {{"step", ParetoBy::Step},
                                                           {"reason", ParetoBy::Reason},
                                                           {"fixture", ParetoBy::Fixture},
                                                           {"loader", ParetoBy::LoaderVersion},
                                                           {"file", ParetoBy::FileHash}};
    for (const auto& [word, value] : kNames) {
        if (name == word) {
            by = value;
            return true;
        }
    }
    return false;
}

bool Pareto(CPgConnection& conn, const CLineFilter& filter, ParetoBy by, CLineTable& table,
            std::string& error)
{
    // The groups' columns: their SQL on a row, the summaries' column and their names.
    struct CKey
    {
        std::string row, summary, name;
    };
    std::vector<CKey> keys;
    switch (by) {
    case ParetoBy::Step:
        keys = {{records_server::FailStepSql(""), "fail_step", "step"}};
        break;
    case ParetoBy::Reason:
        keys = {{records_server::FailStepSql(""), "fail_step", "step"},
                {records_server::FailKindSql(""), "fail_kind", "reason"}};
        break;
    case ParetoBy::Fixture:
        keys = {{"host", "host", "host"}, {"coalesce(port, '')", "port", "port"}};
        break;
    case ParetoBy::LoaderVersion:
        keys = {{"coalesce(loader_version, '')", "loader_version", "loader_version"}};
        break;
    case ParetoBy::FileHash:
        keys = {{"coalesce(file_sha256, '')", "file_sha256", "file_sha256"}};
        break;
    }
    CSplit split;
    if (!SplitPeriod(conn, filter, split, error)) return false;
    std::string fromRows, fromSummary, outer, groups;
    for (size_t i = 0; i < keys.size(); ++i) {
        const std::string alias = "k" + std::to_string(i);
        fromRows += keys[i].row + " AS " + alias + ", ";
        fromSummary += keys[i].summary + " AS " + alias + ", ";
        outer += alias + ", ";
        groups += (i ? ", " : "") + std::to_string(i + 1);
    }
    // A reason's pages, listed beside it: the summaries keep the reason's whole text.
    const bool pages = by == ParetoBy::Reason;
    if (pages) {
        fromRows += records_server::FailPageSql("") + " AS page, ";
        fromSummary += records_server::FailPageSql("") + " AS page, ";
        outer += "string_agg(DISTINCT page, ', ' ORDER BY page) FILTER (WHERE n > 0), ";
    }
    const int countColumn = static_cast<int>(keys.size()) + (pages ? 1 : 0);
    const std::string sql = "SELECT " + outer + "sum(n) FROM (SELECT " + fromSummary +
                            "attempts AS n FROM torvane_day_fixture WHERE" + kWholeDaysSql + " AND " +
                            SummaryConditionSql(records::CountsAsFailed) + " UNION ALL SELECT " + fromRows +
                            "1 FROM torvane_attempt WHERE" + EdgeSql() + " AND " + FailedSql() +
                            ") failures GROUP BY " + groups + " HAVING sum(n) > 0 ORDER BY " +
                            std::to_string(countColumn + 1) + " DESC, " + groups;
    CPgResult result;
    if (!Run(conn, sql, split.values, result, error)) return false;
    int64_t total = 0;
    for (int row = 0; row < result.Rows(); ++row)
        total += Number(result, row, countColumn);
    for (const auto& key : keys)
        table.columns.push_back({key.name});
    if (pages) table.columns.push_back({"pages"});
    table.columns.insert(table.columns.end(), {{"failures", true}, {"share"}, {"cumulative"}});
    int64_t running = 0;
    for (int row = 0; row < result.Rows(); ++row) {
        const int64_t count = Number(result, row, countColumn);
        running += count;
        std::vector<std::optional<std::string>> cells;
        for (int column = 0; column < countColumn; ++column)
            cells.push_back(result.IsNull(row, column) ? std::nullopt : std::optional(result.Text(row, column)));
        cells.insert(cells.end(), {std::to_string(count), Percent(count, total), Percent(running, total)});
        table.rows.push_back(std::move(cells));
    }
    return true;
}

bool Fixtures(CPgConnection& conn, CLineTable& table, std::string& error)
{
    // A server set up before the fixtures' live state has no table for it yet.
    CPgResult hasState;
    if (!Run(conn, "SELECT to_regclass('torvane_fixture_state') IS NOT NULL", {}, hasState, error))
        return false;
    const std::string live =
        hasState.Text(0, 0) == "t"
            ? "SELECT station_host AS host, fixture AS port, state, detail, step, pages_done, pages_total,"
              " seconds_left, fail_reason, updated_utc AS updated,"
              " max(updated_utc) OVER (PARTITION BY station_host) AS heard,"
              " first_value(state) OVER (PARTITION BY station_host ORDER BY updated_utc DESC) AS "
              "station_state"
              " FROM torvane_fixture_state"
            : "SELECT NULL::text AS host, NULL::text AS port, NULL::text AS state, NULL::text AS detail,"
              " NULL::text AS step, NULL::bigint AS pages_done, NULL::bigint AS pages_total,"
              " NULL::bigint AS seconds_left, NULL::text AS fail_reason, NULL::timestamptz AS updated,"
              " NULL::timestamptz AS heard, NULL::text AS station_state WHERE false";
    // The last panel by a probe per fixture; today's and the last hour's counts from
    // those hours' attempts alone.
    const std::string sql =
        std::string("WITH RECURSIVE ") + kFixtureWalkSql +
        ", last AS (SELECT l.* FROM fixture f CROSS JOIN LATERAL (SELECT a.host, coalesce(a.port, '') AS "
        "port,"
        " a.id, a.started_utc, a.duration_ms, " +
        SerialSql() + " AS serial, a.outcome" + kOfFixtureSql + kNewestFirstSql +
        " LIMIT 1) l WHERE l.started_utc >= now() - interval '30 days'),"
        " counts AS (SELECT host, coalesce(port, '') AS port,"
        " count(*) FILTER (WHERE " +
        PassedSql() +
        " AND started_utc >= date_trunc('day', now())) AS passed_today, count(*) FILTER (WHERE " +
        FailedSql() +
        " AND started_utc >= date_trunc('day', now())) AS failed_today, count(*) FILTER (WHERE (" +
        PassedSql() + " OR " + FailedSql() +
        ") AND started_utc >= now() - interval '1 hour') AS per_hour FROM torvane_attempt"
        " WHERE started_utc >= least(date_trunc('day', now()), now() - interval '1 hour') GROUP BY 1, 2),"
        " seen AS (SELECT * FROM last LEFT JOIN counts USING (host, port)),"
        " live AS (" +
        live +
        ")"
        " SELECT coalesce(l.host, v.host), coalesce(l.port, v.port), " +
        Utc("l.started_utc") +
        // How long ago the last panel ended: its start is a whole cycle earlier.
        ", greatest(floor(extract(epoch FROM now() - l.started_utc - coalesce(l.duration_ms, 0) *"
        " interval '1 millisecond')), 0)::bigint, l.serial, l.outcome,"
        " coalesce(l.passed_today, 0), coalesce(l.failed_today, 0), coalesce(l.per_hour, 0),"
        " v.state, v.detail, v.step, v.pages_done, v.pages_total, v.seconds_left, v.fail_reason,"
        " floor(extract(epoch FROM now() - v.heard))::bigint, (v.updated >= v.heard - interval '" +
        std::to_string(kLeftRunSeconds) + " seconds')::int, (v.heard < now() - interval '" +
        std::to_string(kStationSilentSeconds) + " seconds' AND v.station_state <> '" +
        records_server::kStationStopped +
        "')::int"
        " FROM seen l FULL JOIN live v ON l.host = v.host AND l.port = v.port ORDER BY 1, 2";
    CPgResult result;
    if (!Run(conn, sql, {}, result, error)) return false;
    table.columns = {{"host"},
                     {"port"},
                     {"last_started_utc"},
                     {"seconds_ago", true},
                     {"last_serial"},
                     {"last_outcome"},
                     {"passed_today", true},
                     {"failed_today", true},
                     {"panels_last_hour", true},
                     {"state"},
                     {"state_text"},
                     {"step"},
                     {"pages_done", true},
                     {"pages_total", true},
                     {"seconds_left", true},
                     {"fail_reason"},
                     {"station_heard_seconds_ago", true},
                     {"in_run", true},
                     {"station_silent", true}};
    Fill(result, table);
    return true;
}

bool Alarms(CPgConnection& conn, CLineTable& table, std::string& error)
{
    CPgResult hasState;
    if (!Run(conn, "SELECT to_regclass('torvane_fixture_state') IS NOT NULL", {}, hasState, error))
        return false;
    const std::string silent = hasState.Text(0, 0) != "t"
                                   ? std::string()
                                   : " UNION ALL SELECT 'station silent', station_host, 'not heard for ' ||"
                                     " floor(extract(epoch FROM now() - max(updated_utc)))::bigint || ' s'"
                                     " FROM torvane_fixture_state GROUP BY station_host HAVING "
                                     "max(updated_utc) < now() - interval '" +
                                         std::to_string(kStationSilentSeconds) +
                                         " seconds' AND max(updated_utc) >= now() - interval '1 day'"
                                         // A station that said it stopped is no alarm.
                                         " AND (array_agg(state ORDER BY updated_utc DESC))[1] <> '" +
                                         records_server::kStationStopped + "'";
    // Walks over the indexes: the distinct files and tool versions of each tag, and each
    // fixture's last five attempts.
    const std::string sql =
        std::string("WITH RECURSIVE ") + kFixtureWalkSql + ", " + TagValuesSql("tag_file", "file_sha256") +
        ", " + TagValuesSql("tag_tool", "tool_version") +
        " SELECT * FROM (SELECT 'several file hashes in one tag' AS alarm, tag AS subject,"
        " string_agg(value, ', ' ORDER BY value) AS detail FROM tag_file GROUP BY tag HAVING count(*) > 1"
        " UNION ALL SELECT 'several tool versions in one tag', tag, string_agg(value, ', ' ORDER BY value)"
        " FROM tag_tool GROUP BY tag HAVING count(*) > 1"
        " UNION ALL SELECT 'last five attempts failed', f.host || ' ' || f.port, 'last at ' || " +
        Utc("max(l.started_utc)") + " FROM fixture f CROSS JOIN LATERAL (SELECT a.started_utc, " +
        FailedSql() + " AS failed" + kOfFixtureSql + " AND a.started_utc >= now() - interval '30 days'" +
        kNewestFirstSql + " LIMIT 5) l GROUP BY f.host, f.port HAVING count(*) = 5 AND bool_and(l.failed)" +
        silent + ") alarms ORDER BY 1, 2";
    CPgResult result;
    if (!Run(conn, sql, {}, result, error)) return false;
    table.columns = {{"alarm"}, {"subject"}, {"detail"}};
    Fill(result, table);
    return true;
}

bool Trace(CPgConnection& conn, const std::string& key, CLineTable& table, std::string& error)
{
    // A record id stands for its panel: every attempt of its serial, or itself alone. A
    // whole serial is its panel alone, found through the serial's index. Any other key
    // finds the panels whose serial holds it, in any case: "pnl-204" finds PNL-20418, as
    // records --serial finds a serial by its start; only that search reads every row.
    const std::string byId =
        "id = CASE WHEN $1::text ~* '^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$'"
        " THEN $1::text::uuid END";
    const std::string serial = SerialSql();
    // What happened first, then when, where and with which file; the rest for the CSV.
    const std::string sql =
        "WITH exact AS (SELECT * FROM torvane_attempt WHERE " + serial + " = $1::text OR " + byId + " OR " +
        serial + " = (SELECT " + serial + " FROM torvane_attempt WHERE " + byId +
        ")), found AS (SELECT * FROM exact UNION ALL SELECT * FROM torvane_attempt WHERE NOT EXISTS (SELECT 1"
        " FROM exact) AND strpos(lower(" +
        serial +
        "), lower($1::text)) > 0)"
        " SELECT outcome, nullif(" +
        records_server::FailStepSql("") + ", ''), fail_reason, round(duration_ms / 1000.0, 1), " +
        Utc("started_utc") + ", host, port, file_name, file_sha256, " + serial + ", id::text, " +
        Utc("ended_utc") +
        ", station_host, command, loader_version, id_check, erase_result, program_result, verify_result,"
        " backup_file, exit_code, tag, messages FROM found ORDER BY " +
        serial + ", started_utc, id LIMIT 1000";
    CPgResult result;
    if (!Run(conn, sql, {key}, result, error)) return false;
    table.columns = {{"outcome"},
                     {"step"},
                     {"reason"},
                     {"duration_s", true},
                     {"started_utc"},
                     {"station"},
                     {"fixture"},
                     {"file_name"},
                     {"file_sha256"},
                     {"serial"},
                     {"id"},
                     {"ended_utc"},
                     {"delivered_by"},
                     {"command"},
                     {"loader_version"},
                     {"id_check"},
                     {"erase"},
                     {"program"},
                     {"verify"},
                     {"backup_file"},
                     {"exit_code", true},
                     {"tag"},
                     {"messages"}};
    Fill(result, table);
    return true;
}

} // namespace line
