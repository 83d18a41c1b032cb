#pragma once
// What an attempt's outcome counts as, once for every place that counts panels: the
// records' statistics, the station's table and the line server.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "records/Attempt.h"

namespace records {

enum class Yield {
    Passed,         // the panel holds the file: programmed now ...
    Unchanged,      // ... or already up to date (--if-different)
    Failed,         // the panel did not take the file
    StoppedPartWay, // stopped by the user after the flash was touched: the panel needs another go
    StoppedBefore,  // stopped before the flash was touched: the panel is as it was
    Unfinished,     // still running, or cut off (crash, power cut)
    NoUpgrade,      // an erase, blank check, read or verify of its own: an attempt, no panel upgraded
};

// The outcomes a record may hold, for the schema's check and the options that take one.
inline constexpr const char* kOutcomes[] = {outcome::kPass, outcome::kFail, outcome::kStopped,
                                            outcome::kUnchanged, outcome::kUnfinished};

// The commands that upgrade a panel: only their attempts count as a panel passed or
// failed. A technician's Erase followed by Program is one panel, not two.
inline constexpr const char* kUpgradeCommands[] = {
    "program", "station", "windows program", "windows erase-program-verify", "windows blank-program-verify"};
bool UpgradesPanel(const std::string& command);

// Decided by the command, the outcome, and for a stop by whether the erase or the
// programming began.
Yield YieldOf(const CAttempt& attempt);
// Passed and unchanged panels count as passed; a yield is passed / (passed + failed).
// A stop part-way counts for neither but is counted apart (the panel needs another go);
// a stop before the flash was touched and unfinished attempts are not counted.
inline bool CountsAsPassed(Yield y) { return y == Yield::Passed || y == Yield::Unchanged; }
inline bool CountsAsFailed(Yield y) { return y == Yield::Failed; }

// Attempts counted per local day and per port; a group with nothing to count is left out.
struct CYieldRow
{
    std::string per, key; // "day", "2026-12-09"; "port", "COM1"
    int64_t passed = 0, failed = 0, stoppedPartWay = 0, unchanged = 0;
};
class CYieldCounts
{
public:
    void Add(const std::string& day, const std::string& port, Yield yield, int64_t count = 1);
    // Days first, then ports, each in order.
    std::vector<CYieldRow> Rows() const;

private:
    std::map<std::pair<std::string, std::string>, CYieldRow> m_groups;
};

// "outcome IN ('pass', ...)"
std::string OutcomeCheckSql();
// "(column IN ('program', ...))": the SQL twin of UpgradesPanel.
std::string UpgradeSql(const std::string& column);

} // namespace records
