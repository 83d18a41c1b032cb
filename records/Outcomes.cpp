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

} // namespace

bool UpgradesPanel(const std::string& command)
{
    for (const char* upgrade : kUpgradeCommands)
        if (command == upgrade) return true;
    return false;
}

Yield YieldOf(const CAttempt& a)
{
    if (!UpgradesPanel(a.command)) return Yield::NoUpgrade;
    const bool touched = !a.eraseResult.empty() || !a.programResult.empty();
    for (const CRule& rule : kRules) {
        if (a.outcome != rule.outcome) continue;
        if (rule.flash == CRule::Any || (rule.flash == CRule::Touched) == touched) return rule.yield;
    }
    return Yield::Unfinished;
}

void CYieldCounts::Add(const std::string& day, const std::string& port, Yield yield, int64_t count)
{
    if (!CountsAsPassed(yield) && !CountsAsFailed(yield) && yield != Yield::StoppedPartWay) return;
    for (const auto& [per, key] : {std::pair<std::string, std::string>{"day", day}, {"port", port}}) {
        CYieldRow& row = m_groups[{per, key}];
        row.per = per;
        row.key = key;
        if (CountsAsPassed(yield)) row.passed += count;
        if (CountsAsFailed(yield)) row.failed += count;
        if (yield == Yield::StoppedPartWay) row.stoppedPartWay += count;
        if (yield == Yield::Unchanged) row.unchanged += count;
    }
}

std::vector<CYieldRow> CYieldCounts::Rows() const
{
    std::vector<CYieldRow> rows;
    for (const auto& [key, row] : m_groups)
        rows.push_back(row);
    return rows;
}

namespace {

// "column IN ('a', 'b')" of the library's own constants, never text from outside.
template <size_t N> std::string InSql(const std::string& column, const char* const (&values)[N])
{
    std::string sql = column + " IN (";
    for (const char* value : values)
        sql += std::string(sql.back() == '(' ? "'" : ", '") + value + "'";
    return sql + ")";
}

} // namespace

std::string OutcomeCheckSql()
{
    return InSql("outcome", kOutcomes);
}

std::string UpgradeSql(const std::string& column)
{
    return "(" + InSql(column, kUpgradeCommands) + ")";
}

} // namespace records
