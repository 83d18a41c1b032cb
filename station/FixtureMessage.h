#pragma once
// What a fixture's process tells the station's process, one line each. Both ends write
// and read them with this code only; a line of another version is not taken for one.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "station/FixtureState.h"

namespace station {

// 2: a fail carries its step and reason. Lines of version 1 are still read.
constexpr int kFixtureMessageVersion = 2;

// The attempt's record is begun: if the process dies, the station completes it.
struct AttemptBegun
{
    std::string id;
    bool operator==(const AttemptBegun&) const = default;
};

struct StateChanged
{
    FixtureState state = FixtureState::Starting;
    std::string text;
    int passed = 0, failed = 0; // by this process
    std::string last;           // the clock time of the attempt that ended, if one did
    std::optional<int> exitCode;
    // A fail's cause: the step that failed (none for a failure outside the steps, such as
    // a refused upgrade) and the reason, naming it: "program page 0F2100: no reply at
    // 115200 bit/s". `text` is what the lines show ("FAIL: " and the reason, and a note).
    std::optional<Step> failStep;
    std::string failReason;
    bool operator==(const StateChanged&) const = default;
};

// A step of the road under way: pages done of total, or (total 0) a wait of at most
// secondsLeft, such as the erase's.
struct StepShown
{
    Step step = Step::Connect;
    uint32_t pagesDone = 0, pagesTotal = 0;
    uint32_t secondsLeft = 0;
    bool operator==(const StepShown&) const = default;

    // "programming 120/256, 0:44 left", "erasing, up to 0:40"
    std::string Text() const;
};

using FixtureMessage = std::variant<AttemptBegun, StateChanged, StepShown>;

// One line of JSON, without its line feed.
std::string EncodeFixtureMessage(const FixtureMessage& message);
// Nothing for a line that is no message of this version.
std::optional<FixtureMessage> DecodeFixtureMessage(std::string_view line);

} // namespace station
