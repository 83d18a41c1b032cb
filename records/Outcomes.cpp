#include "records/Outcomes.h"

#include <cstring>

namespace records {

namespace {

// The flash counts as touched once the erase or the programming has begun (a result of
// any kind is stored for a step that began).
struct CRule
{
    const char* outcome;
    enum { Any, Touched, Untouched } flash;
    Yield yield;
};
constexpr CRule kRules[] = {
    {outcome::kPass, CRule::Any, Yield::Passed},
    {outcome::kUnchanged, CRule::Any, Yield::Unchanged},
    {outcome::kFail, CRule::Any, Yield::Failed},
    {outcome::kStopped, CRule::Touched, Yield::StoppedPartWay},
    {outcome::kStopped, CRule::Untouched, Yield::StoppedBefore},
};
// Anything else (unfinished, or an outcome of a newer version) is Unfinished.

constexpr char kTouchedSql[] = "(coalesce(erase_result, '') <> '' OR coalesce(program_result, '') <> '')";

} // namespace

Yield YieldOf(const CAttempt& a)
{
    const bool touched = !a.eraseResult.empty() || !a.programResult.empty();
    for (const CRule& rule : kRules) {
        if (a.outcome != rule.outcome) continue;
        if (rule.flash == CRule::Any || (rule.flash == CRule::Touched) == touched) return rule.yield;
    }
    return Yield::Unfinished;
}

std::string YieldSql()
{
    std::string sql = "CASE";
    for (const CRule& rule : kRules) {
        sql += std::string(" WHEN outcome = '") + rule.outcome + "'";
        if (rule.flash != CRule::Any) sql += std::string(rule.flash == CRule::Touched ? " AND " : " AND NOT ") + kTouchedSql;
        sql += " THEN " + std::to_string(static_cast<int>(rule.yield));
    }
    return sql + " ELSE " + std::to_string(static_cast<int>(Yield::Unfinished)) + " END";
}

std::string OutcomeCheckSql()
{
    std::string sql = "outcome IN (";
    for (const char* o : kOutcomes)
        sql += std::string(sql.back() == '(' ? "'" : ", '") + o + "'";
    return sql + ")";
}

} // namespace records
