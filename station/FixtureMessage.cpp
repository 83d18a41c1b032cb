#include "station/FixtureMessage.h"

#include <nlohmann/json.hpp>

namespace station {

namespace {

constexpr char kAttempt[] = "attempt", kState[] = "state", kStep[] = "step";

struct Encoder
{
    nlohmann::json& json;
    void operator()(const AttemptBegun& m) const
    {
        json["kind"] = kAttempt;
        json["id"] = m.id;
    }
    void operator()(const StateChanged& m) const
    {
        json["kind"] = kState;
        json["state"] = StateKey(m.state);
        json["text"] = m.text;
        json["passed"] = m.passed;
        json["failed"] = m.failed;
        if (!m.last.empty()) json["last"] = m.last;
        if (m.exitCode) json["exit_code"] = *m.exitCode;
        if (m.failStep) json["fail_step"] = StepName(*m.failStep);
        if (!m.failReason.empty()) json["fail_reason"] = m.failReason;
    }
    void operator()(const StepShown& m) const
    {
        json["kind"] = kStep;
        json["step"] = StepName(m.step);
        json["pages_done"] = m.pagesDone;
        json["pages_total"] = m.pagesTotal;
        json["seconds_left"] = m.secondsLeft;
    }
};

std::optional<FixtureMessage> Decode(const nlohmann::json& json)
{
    const std::string kind = json.at("kind").get<std::string>();
    if (kind == kAttempt) return AttemptBegun{json.at("id").get<std::string>()};
    if (kind == kState) {
        const std::optional<FixtureState> state = StateFromKey(json.at("state").get<std::string>());
        if (!state) return std::nullopt;
        StateChanged m;
        m.state = *state;
        m.text = json.at("text").get<std::string>();
        m.passed = json.at("passed").get<int>();
        m.failed = json.at("failed").get<int>();
        m.last = json.value("last", "");
        if (json.contains("exit_code")) m.exitCode = json["exit_code"].get<int>();
        if (json.contains("fail_step")) {
            m.failStep = StepFromName(json["fail_step"].get<std::string>());
            if (!m.failStep) return std::nullopt;
        }
        m.failReason = json.value("fail_reason", "");
        return m;
    }
    if (kind == kStep) {
        const std::optional<Step> step = StepFromName(json.at("step").get<std::string>());
        if (!step) return std::nullopt;
        return StepShown{*step, json.at("pages_done").get<uint32_t>(), json.at("pages_total").get<uint32_t>(),
                         json.at("seconds_left").get<uint32_t>()};
    }
    return std::nullopt;
}

} // namespace

std::string StepShown::Text() const
{
    const std::string name = StateKey(StateDuring(step));
    if (pagesTotal == 0) return name + ", up to " + MinutesSeconds(secondsLeft);
    return name + " " + std::to_string(pagesDone) + "/" + std::to_string(pagesTotal) + ", " +
           MinutesSeconds(secondsLeft) + " left";
}

std::string EncodeFixtureMessage(const FixtureMessage& message)
{
    nlohmann::json json = {{"v", kFixtureMessageVersion}};
    std::visit(Encoder{json}, message);
    // Text from a panel or a file may be anything: it must not cut the line.
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<FixtureMessage> DecodeFixtureMessage(std::string_view line)
{
    const nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
    if (json.is_discarded() || !json.is_object()) return std::nullopt;
    try {
        // An older fixture process's line lacks only what later versions added.
        const int version = json.value("v", 0);
        if (version < 1 || version > kFixtureMessageVersion) return std::nullopt;
        return Decode(json);
    } catch (const nlohmann::json::exception&) {
        return std::nullopt; // a field missing or of another type
    }
}

} // namespace station
