#include "station/FixtureState.h"

#include <cstdio>
#include <iterator>
#include <utility>

namespace station {

namespace {

constexpr std::pair<FixtureState, const char*> kStateKeys[] = {
    {FixtureState::Starting, "starting"},
    {FixtureState::NoPort, "no port"},
    {FixtureState::InUse, "in use"},
    {FixtureState::Scan, "scan"},
    {FixtureState::Waiting, "waiting"},
    {FixtureState::Flashing, "flashing"},
    {FixtureState::Reading, "reading the backup"},
    {FixtureState::Erasing, "erasing"},
    {FixtureState::Programming, "programming"},
    {FixtureState::Verifying, "verifying"},
    {FixtureState::Comparing, "comparing"},
    {FixtureState::Pass, "pass"},
    {FixtureState::Fail, "fail"},
    {FixtureState::Stopped, "stopped"},
    {FixtureState::StoppedPartWay, "stopped part-way"},
    {FixtureState::Removed, "removed"},
    {FixtureState::PassedEarlier, "passed earlier"},
};

struct StepEntry
{
    Step step;
    const char* name;
    FixtureState during;
};

constexpr StepEntry kSteps[] = {
    {Step::Connect, "connect", FixtureState::Flashing},
    {Step::IdCheck, "ID check", FixtureState::Flashing},
    {Step::SerialRead, "serial number", FixtureState::Flashing},
    {Step::PreCheck, "pre-check", FixtureState::Flashing},
    {Step::Backup, "backup read", FixtureState::Reading},
    {Step::Erase, "erase", FixtureState::Erasing},
    {Step::Keep, "keep", FixtureState::Flashing},
    {Step::Compare, "compare", FixtureState::Comparing},
    {Step::Program, "program", FixtureState::Programming},
    {Step::Verify, "verify", FixtureState::Verifying},
};

} // namespace

const char* StateKey(FixtureState state)
{
    for (const auto& [known, key] : kStateKeys)
        if (known == state) return key;
    return "starting";
}

std::optional<FixtureState> StateFromKey(std::string_view key)
{
    for (const auto& [state, known] : kStateKeys)
        if (key == known) return state;
    return std::nullopt;
}

bool EndsAttempt(FixtureState state)
{
    return state == FixtureState::Pass || state == FixtureState::Fail || state == FixtureState::Stopped ||
           state == FixtureState::StoppedPartWay;
}

const char* StepName(Step step)
{
    for (const StepEntry& entry : kSteps)
        if (entry.step == step) return entry.name;
    return "connect";
}

std::optional<Step> StepFromName(std::string_view name)
{
    for (const StepEntry& entry : kSteps)
        if (name == entry.name) return entry.step;
    return std::nullopt;
}

FixtureState StateDuring(Step step)
{
    for (const StepEntry& entry : kSteps)
        if (entry.step == step) return entry.during;
    return FixtureState::Flashing;
}

std::string MinutesSeconds(uint32_t seconds)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u:%02u", seconds / 60, seconds % 60);
    return text;
}

} // namespace station
