#include "line/LineMetrics.h"

#include <array>
#include <cstdio>

#include "line/LineQueries.h"
#include "platform/ShownText.h"
#include "records/Outcomes.h"
#include "records/server/Summaries.h"

namespace line {

namespace {

// Seconds: a panel takes from a few seconds (a small file at a high rate) to minutes.
constexpr std::array kCycleBuckets = {5, 10, 20, 30, 45, 60, 90, 120, 180, 300, 600};

} // namespace

std::string LabelValue(const std::string& text)
{
    std::string escaped;
    for (char c : platform::ValidUtf8(text)) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

bool MetricsText(CPgConnection& conn, std::string& text, std::string& error)
{
    // From the summaries alone: the counts by fixture and outcome with the worked
    // attempts' durations, and those durations by whole second (rounded up, so a bucket's
    // bound of whole seconds is exact).
    const std::string worked = records_server::SummaryConditionSql(
        [](records::Yield y) { return y == records::Yield::Passed || y == records::Yield::Failed; });
    const CPgResult attempts = conn.Exec(
        "SELECT host, port, outcome, sum(attempts), coalesce(sum(timed) FILTER (WHERE " + worked +
        "), 0), coalesce(sum(duration_ms) FILTER (WHERE " + worked +
        "), 0) FROM torvane_day_fixture GROUP BY 1, 2, 3 HAVING sum(attempts) <> 0 ORDER BY 1, 2, 3");
    if (!attempts.Ok()) {
        error = attempts.Error();
        return false;
    }
    const CPgResult durations =
        conn.Exec("SELECT seconds, sum(attempts) FROM torvane_day_cycle GROUP BY 1 ORDER BY 1");
    if (!durations.Ok()) {
        error = durations.Error();
        return false;
    }
    int64_t cycles = 0, milliseconds = 0;
    std::array<int64_t, kCycleBuckets.size()> inBucket{};
    for (int row = 0; row < attempts.Rows(); ++row) {
        cycles += std::stoll(attempts.Text(row, 4));
        milliseconds += std::stoll(attempts.Text(row, 5));
    }
    for (int row = 0; row < durations.Rows(); ++row) {
        const int64_t seconds = std::stoll(durations.Text(row, 0)),
                      count = std::stoll(durations.Text(row, 1));
        for (size_t i = 0; i < kCycleBuckets.size(); ++i)
            if (seconds <= kCycleBuckets[i]) inBucket[i] += count;
    }
    // A server set up before the fixtures' live state has no table for it: no such series.
    const CPgResult states =
        conn.Exec("SELECT station_host, fixture, state FROM torvane_fixture_state ORDER BY 1, 2");
    if (!states.Ok() && states.State() != "42P01") {
        error = states.Error();
        return false;
    }
    text = "# HELP torvane_attempts_total Attempts recorded, by station, fixture and outcome.\n"
           "# TYPE torvane_attempts_total counter\n";
    for (int row = 0; row < attempts.Rows(); ++row)
        text += "torvane_attempts_total{station=\"" + LabelValue(attempts.Text(row, 0)) + "\",fixture=\"" +
                LabelValue(attempts.Text(row, 1)) + "\",outcome=\"" + LabelValue(attempts.Text(row, 2)) +
                "\"} " + attempts.Text(row, 3) + "\n";
    text += "# HELP torvane_cycle_time_seconds Duration of the attempts that programmed a panel or failed.\n"
            "# TYPE torvane_cycle_time_seconds histogram\n";
    for (size_t i = 0; i < kCycleBuckets.size(); ++i)
        text += "torvane_cycle_time_seconds_bucket{le=\"" + std::to_string(kCycleBuckets[i]) + "\"} " +
                std::to_string(inBucket[i]) + "\n";
    char sum[64];
    std::snprintf(sum, sizeof sum, "%.3f", static_cast<double>(milliseconds) / 1000.0);
    text += "torvane_cycle_time_seconds_bucket{le=\"+Inf\"} " + std::to_string(cycles) + "\n";
    text += std::string("torvane_cycle_time_seconds_sum ") + sum + "\n";
    text += "torvane_cycle_time_seconds_count " + std::to_string(cycles) + "\n";
    if (states.Ok()) {
        text += "# HELP torvane_fixture_state The state each fixture's station published last (1).\n"
                "# TYPE torvane_fixture_state gauge\n";
        for (int row = 0; row < states.Rows(); ++row)
            text += "torvane_fixture_state{station=\"" + LabelValue(states.Text(row, 0)) + "\",fixture=\"" +
                    LabelValue(states.Text(row, 1)) + "\",state=\"" + LabelValue(states.Text(row, 2)) +
                    "\"} 1\n";
    }
    return true;
}

} // namespace line
