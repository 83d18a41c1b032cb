#pragma once
// What one fixture of the station is doing, and the steps of the road on its panel, as
// the station's table, lines and JSON name them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace station {

enum class FixtureState {
    Starting,
    NoPort,
    InUse,
    Scan,
    Waiting,
    Flashing, // the road on the panel, between the steps shown on their own
    Reading,  // the backup
    Erasing,
    Programming,
    Verifying,
    Comparing,
    Pass,
    Fail,
    Stopped,
    StoppedPartWay, // stopped after the erase or the programming began: the panel is unusable
    Removed,
    PassedEarlier, // a panel an earlier run passed is still in the fixture: it is not flashed again
};

// "no port", "erasing", "pass": the state's key in the JSON and the lines.
const char* StateKey(FixtureState state);
std::optional<FixtureState> StateFromKey(std::string_view key);
// Pass, fail and the stops close the attempt that was open.
bool EndsAttempt(FixtureState state);

enum class Step {
    Connect,
    IdCheck,
    SerialRead,
    PreCheck,
    Backup,
    Erase,
    Keep,
    Compare,
    Program,
    Verify,
};

// "program", "ID check": the step as a FAIL line names it.
const char* StepName(Step step);
std::optional<Step> StepFromName(std::string_view name);
// The state a fixture is in while the step runs.
FixtureState StateDuring(Step step);

// "1:05"
std::string MinutesSeconds(uint32_t seconds);

} // namespace station
