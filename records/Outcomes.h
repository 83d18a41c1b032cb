#pragma once
// What an attempt's outcome counts as, once for every place that counts panels: the
// records' statistics, the station's table and the line server.
#include <string>

#include "records/Attempt.h"

namespace records {

enum class Yield {
    Passed,         // the panel holds the file: programmed now ...
    Unchanged,      // ... or already up to date (--if-different)
    Failed,         // the panel did not take the file
    StoppedPartWay, // stopped by the user after the flash was touched: the panel needs another go
    StoppedBefore,  // stopped before the flash was touched: the panel is as it was
    Unfinished,     // still running, or cut off (crash, power cut)
};

// The outcomes a record may hold, for the schema's check and the options that take one.
inline constexpr const char* kOutcomes[] = {outcome::kPass, outcome::kFail, outcome::kStopped,
                                            outcome::kUnchanged, outcome::kUnfinished};

Yield YieldOf(const CAttempt& attempt);
// The same, as an SQL expression over the record's columns (outcome, erase_result,
// program_result) giving the Yield's number; for aggregates.
std::string YieldSql();
// Passed and unchanged panels count as passed; a yield is passed / (passed + failed);
// stops and unfinished attempts count for neither.
inline bool CountsAsPassed(Yield y) { return y == Yield::Passed || y == Yield::Unchanged; }
inline bool CountsAsFailed(Yield y) { return y == Yield::Failed; }

// "outcome IN ('pass', ...)"
std::string OutcomeCheckSql();

} // namespace records
