#pragma once
// What the line's page, API and metrics read from the records server: the yields, the
// cycle times, the failures' Pareto, the fixtures and one panel's history. Every query
// is here, so a new column of the records (the failing step) changes one place.
#include <optional>
#include <string>

#include "line/LineTable.h"
#include "records/server/PgConnection.h"

namespace line {

// The attempts a table counts. A missing start is the server's local midnight today.
struct CLineFilter
{
    std::optional<std::string> since, until; // anything PostgreSQL reads as a timestamptz
    std::optional<std::string> tag;
    std::optional<std::string> file; // its name or its SHA-256
};

// SQL conditions on a row of torvane_attempt, decided by records::YieldOf for every
// outcome the records may hold, so the SQL counts exactly as the records library does.
std::string PassedSql();         // passed or unchanged
std::string FailedSql();         // failed
std::string StoppedPartWaySql(); // stopped after the flash was touched
std::string WorkedSql();         // programmed now or failed: what a cycle time is made of
// The panel's serial: its text, else its hex; NULL without one.
std::string SerialSql();

// One row: attempts, passed, failed, stopped part-way, the attempt yield, serials, the
// first-pass yield, the final yield and the retests. A yield is "n/a" when nothing
// counts for it (the first-pass and final yields without serials). A panel is a serial
// within one tag and file; it counts in the period that holds its first counted attempt,
// judged by that attempt (first pass) and by its last counted attempt even if that came
// after the period (final yield, retests), so that days add up to a week.
bool Yields(CPgConnection& conn, const CLineFilter& filter, CLineTable& table, std::string& error);
// Per fixture (host and port): the median and 90th percentile of the worked attempts'
// durations, in seconds (a panel that held the file already takes no cycle). Today's
// and a period within one UTC day are exact; a period that holds a whole UTC day counts
// the durations in whole seconds, rounded up.
bool CycleTimes(CPgConnection& conn, const CLineFilter& filter, CLineTable& table, std::string& error);
// The failed attempts by failing step, by reason (the step and the reason's kind, with
// the pages it named), by fixture, boot-loader version or file hash; most first, with
// their share and the running share.
enum class ParetoBy { Step, Reason, Fixture, LoaderVersion, FileHash };
// "step", "reason", "fixture", "loader", "file"; false for another word.
bool ParetoByName(const std::string& name, ParetoBy& by);
bool Pareto(CPgConnection& conn, const CLineFilter& filter, ParetoBy by, CLineTable& table,
            std::string& error);
// A station that has not published its fixtures' state for this long is silent, unless
// its last word was that it stopped.
inline constexpr int kStationSilentSeconds = 30;
// A station sends every fixture's row again every 10 s: a row this much older than its
// station's newest is a fixture the station no longer runs.
inline constexpr int kLeftRunSeconds = 25;

// One row per fixture seen in the last 30 days or published by its station: its last
// panel and how long ago (by the server's clock), passed and failed today, panels in the
// last hour, its state now (in the words of the station's terminal), whether its station
// still runs it and whether its station fell silent.
bool Fixtures(CPgConnection& conn, CLineTable& table, std::string& error);
// What needs a supervisor: a tag with more than one file hash or tool version, a
// fixture whose last five attempts failed, a station silent (heard within the last day).
bool Alarms(CPgConnection& conn, CLineTable& table, std::string& error);
// Every attempt of the panel a record id names, or of the panels whose serial holds the
// key (any case); by serial, oldest first. The outcome, the failing step and reason and
// the duration come first.
bool Trace(CPgConnection& conn, const std::string& key, CLineTable& table, std::string& error);

} // namespace line
