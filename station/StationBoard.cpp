#include "station/StationBoard.h"

#include <cmath>

namespace station {

CStationBoard::CStationBoard(size_t fixtures) : m_rows(fixtures) {}

bool CStationBoard::OnMessage(size_t i, const FixtureMessage& message)
{
    BoardRow& row = m_rows[i];
    const FixtureState before = row.state;
    if (const auto* begun = std::get_if<AttemptBegun>(&message)) {
        row.attempt = begun->id;
        return false;
    }
    if (const auto* changed = std::get_if<StateChanged>(&message)) {
        if (EndsAttempt(changed->state)) row.attempt.clear();
        row.state = changed->state;
        row.text = changed->text;
        row.passed = row.basePassed + changed->passed;
        row.failed = row.baseFailed + changed->failed;
        if (!changed->last.empty()) row.last = changed->last;
        return row.state != before;
    }
    const StepShown& step = std::get<StepShown>(message);
    row.state = StateDuring(step.step);
    row.text = step.Text();
    return row.state != before;
}

void CStationBoard::ProcessEnded(size_t i, const std::string& clockTime)
{
    BoardRow& row = m_rows[i];
    if (!row.attempt.empty()) {
        ++row.failed;
        row.last = clockTime;
    }
    row.basePassed = row.passed;
    row.baseFailed = row.failed;
    row.state = FixtureState::Starting; // the FAIL below is news even after another one
    OnMessage(i, StateChanged{FixtureState::Fail, "FAIL: " + std::string(kProcessEnded), 0, 0, {}, {}});
}

int CStationBoard::Passed() const
{
    int passed = 0;
    for (const BoardRow& row : m_rows)
        passed += row.passed;
    return passed;
}

int CStationBoard::Failed() const
{
    int failed = 0;
    for (const BoardRow& row : m_rows)
        failed += row.failed;
    return failed;
}

int CStationBoard::PanelsPerHour(uint32_t elapsedMs) const
{
    const double hours = elapsedMs / 3600000.0;
    return hours > 0 ? static_cast<int>(std::lround((Passed() + Failed()) / hours)) : 0;
}

} // namespace station
