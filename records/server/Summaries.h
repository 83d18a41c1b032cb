#pragma once
// The line's totals kept as rows arrive: per UTC day and fixture, the attempts by their
// keys; the worked attempts' durations by whole second; each panel's first and last
// counted attempt, and the panels per day of their first one. A trigger on
// torvane_attempt keeps them, so a long period is read from a few thousand rows instead
// of a million.
#include <functional>
#include <string>

#include "records/Outcomes.h"
#include "records/server/PgConnection.h"

namespace records_server {

// An SQL condition that holds for exactly the rows whose records::YieldOf the predicate
// counts, given the SQL of the row's outcome, of whether it touched the flash and of
// whether its command upgrades a panel.
std::string YieldConditionSql(const std::function<bool(records::Yield)>& counts, const std::string& outcome,
                              const std::string& touched, const std::string& upgrade);
// The same on a row of torvane_attempt (row: "" or a row's "name."), and on a row of the
// per-day summaries, which keep the outcome, the touch and the upgrade.
std::string RowConditionSql(const std::function<bool(records::Yield)>& counts, const std::string& row = "");
std::string SummaryConditionSql(const std::function<bool(records::Yield)>& counts);
// What records::YieldOf reads besides the outcome: whether the erase or the programming
// began (the server keeps an empty step result as NULL). row: "" or a row's "name.".
std::string TouchedSql(const std::string& row);
// The failing step as the record names it. Rows from stations older than the typed step
// carry only the reason, which begins with the step's name: for those alone the step is
// taken from the text before its first ':'.
std::string FailStepSql(const std::string& row);
// The failure's kind. Rows from stations older than the kind's field carry only the
// reason: for those the kind is the reason without its step and page ("program page
// 0F1E00: no reply at 115200 bit/s" is "no reply at 115200 bit/s").
std::string FailKindSql(const std::string& row);
// The page (or the address that differed) a reason names; NULL when it names none.
std::string FailPageSql(const std::string& row);
// The panel's serial: its text, else its hex; NULL without one. The index
// torvane_attempt_panel is on this very expression.
std::string SerialSql(const std::string& row);

// The server's schema version that last changed the summaries' columns: an older
// server's summaries are dropped and made again from its rows.
inline constexpr int kSummariesVersion = 7;
// Drops them, for such a migration. Inside the caller's transaction.
bool DropSummaries(CPgConnection& conn, std::string& error);

// Creates the tables, their trigger and torvane_summaries_fill(); with fill, fills them
// from the rows already there (a migration). Inside the caller's transaction.
bool InitSummaries(CPgConnection& conn, bool fill, std::string& error);

} // namespace records_server
