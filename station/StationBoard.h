#pragma once
// The station's board: one row per fixture, fed with its process's messages. The table,
// the lines and the JSON of a front end are views of it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "station/FixtureMessage.h"

namespace station {

struct BoardRow
{
    FixtureState state = FixtureState::Starting;
    std::string text = "starting";
    std::string last = "-";
    int passed = 0, failed = 0, stoppedPartWay = 0;
    // The outcome (pass, fail, stopped part-way) of the panel still in the fixture, with
    // its words: it stays on the row, the station's stop included, until the panel is out.
    std::optional<FixtureState> held;
    std::string heldText;
    // A fail or a part-way stop whose panel was taken out, until the next panel is taken.
    std::string lastOutcome;
    std::string attempt; // begun and not yet ended
    // While the row is a fail: the step that failed, if one did, and the reason naming it.
    std::optional<Step> failStep;
    std::string failReason;
    // The counts of this fixture's earlier processes: each process counts from zero.
    int basePassed = 0, baseFailed = 0;
};

class CStationBoard
{
public:
    explicit CStationBoard(size_t fixtures);

    // True when the row's state changed (the lines and the JSON tell only those).
    bool OnMessage(size_t i, const FixtureMessage& message);
    // A fixture's process ended while the station runs: its open attempt is a failure,
    // and the row says so instead of staying on "programming".
    void ProcessEnded(size_t i, const std::string& clockTime);

    const BoardRow& Row(size_t i) const { return m_rows[i]; }
    size_t Size() const { return m_rows.size(); }
    int Passed() const;
    int Failed() const;
    int StoppedPartWay() const;

private:
    std::vector<BoardRow> m_rows;
};

// The row's and the record's words for a fixture whose process died.
constexpr char kProcessEnded[] = "fixture process ended";

// What the operator is to do at the fixture, and how loud it is said.
enum class ActionTone {
    Plain,
    Good, // take the panel out, it passed
    Bad,  // put the panel aside, or flash it again
    Warn, // the fixture itself needs a hand
};
// "PASS — take it out", "working — leave it in: erasing, up to 0:31", "put a panel in; last: ..."
std::string ActionText(const BoardRow& row);
ActionTone ToneOf(const BoardRow& row);

} // namespace station
