#include "station/StationBoard.h"

#include <string_view>

namespace station {

namespace {

bool IsOutcome(FixtureState state)
{
    return state == FixtureState::Pass || state == FixtureState::Fail ||
           state == FixtureState::StoppedPartWay || state == FixtureState::PassedEarlier;
}

bool IsWork(FixtureState state)
{
    return state >= FixtureState::Flashing && state <= FixtureState::Comparing;
}

// What follows the fixture's own word: "FAIL: erase: Erase error." gives "erase: Erase error.",
// "PASS (record not written)" gives " (record not written)".
std::string After(const std::string& text, std::string_view word)
{
    return text.rfind(word, 0) == 0 ? text.substr(word.size()) : text;
}

constexpr char kPassWord[] = "PASS", kFailWord[] = "FAIL: ", kStoppedWord[] = "stopped part-way";

// A panel set aside or stopped part-way that was taken out, as the row keeps it.
std::string LastOutcome(FixtureState held, const std::string& text)
{
    if (held == FixtureState::Fail) return "FAIL — " + After(text, kFailWord);
    if (held == FixtureState::StoppedPartWay) return "STOPPED PART-WAY" + After(text, kStoppedWord);
    return {};
}

} // namespace

std::string ActionText(const BoardRow& row)
{
    if (row.held == FixtureState::Pass) return "PASS — take it out" + After(row.heldText, kPassWord);
    if (row.held == FixtureState::PassedEarlier) return "PASS (earlier run) — take it out";
    if (row.held == FixtureState::Fail) return "FAIL — put it aside: " + After(row.heldText, kFailWord);
    if (row.held == FixtureState::StoppedPartWay)
        return "STOPPED PART-WAY — the panel is unusable, flash it again" + After(row.heldText, kStoppedWord);
    const std::string last = row.lastOutcome.empty() ? "" : "; last: " + row.lastOutcome;
    switch (row.state) {
    case FixtureState::Waiting:
    case FixtureState::Removed:
        return "put a panel in" + last;
    case FixtureState::NoPort:
        return "adapter missing — check the cable";
    case FixtureState::Flashing:
        return "working — leave it in";
    case FixtureState::Stopped:
        return row.text + last;
    default:
        return IsWork(row.state) ? "working — leave it in: " + row.text : row.text;
    }
}

ActionTone ToneOf(const BoardRow& row)
{
    if (row.held == FixtureState::Pass || row.held == FixtureState::PassedEarlier) return ActionTone::Good;
    if (row.held || row.state == FixtureState::Fail) return ActionTone::Bad;
    if (row.state == FixtureState::NoPort || row.state == FixtureState::InUse) return ActionTone::Warn;
    return ActionTone::Plain;
}

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
        // A fail before anything else (the upgrade refused at the start) concerns no panel.
        if (IsOutcome(changed->state) && before != FixtureState::Starting) {
            if (changed->state == FixtureState::StoppedPartWay && before != changed->state)
                ++row.stoppedPartWay;
            row.held = changed->state;
            row.heldText = changed->text;
            row.lastOutcome.clear();
        } else if (IsWork(changed->state)) {
            row.held.reset();
            row.lastOutcome.clear();
        } else if (changed->state == FixtureState::Removed && row.held) {
            // Only the fixture seeing the panel go clears its outcome: the station's stop
            // leaves it on the row, the panel still being in the fixture.
            row.lastOutcome = LastOutcome(*row.held, row.heldText);
            row.held.reset();
        }
        row.state = changed->state;
        row.text = changed->text;
        row.failStep = changed->failStep;
        row.failReason = changed->failReason;
        row.passed = row.basePassed + changed->passed;
        row.failed = row.baseFailed + changed->failed;
        if (!changed->last.empty()) row.last = changed->last;
        return row.state != before;
    }
    const StepShown& step = std::get<StepShown>(message);
    row.held.reset();
    row.lastOutcome.clear();
    row.state = StateDuring(step.step);
    row.text = step.Text();
    row.failStep.reset();
    row.failReason.clear();
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
    StateChanged ended;
    ended.state = FixtureState::Fail;
    ended.text = "FAIL: " + std::string(kProcessEnded);
    ended.failReason = kProcessEnded;
    OnMessage(i, ended);
    // Whatever panel it had stays in the fixture until the next process sees it gone.
    row.held = FixtureState::Fail;
    row.heldText = row.text;
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

int CStationBoard::StoppedPartWay() const
{
    int stopped = 0;
    for (const BoardRow& row : m_rows)
        stopped += row.stoppedPartWay;
    return stopped;
}

} // namespace station
