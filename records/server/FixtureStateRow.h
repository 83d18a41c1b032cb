#pragma once
// One fixture's state as a station publishes it to the records server; apart from the
// publisher so that a build without the server's library can still name it.
#include <cstdint>
#include <optional>
#include <string>

namespace records_server {

// Every fixture's state once its station has stopped: its goodbye.
inline constexpr char kStationStopped[] = "station stopped";

struct CFixtureStateRow
{
    std::string fixture; // the port
    std::string state;   // the station's key: "waiting", "erasing", "fail", kStationStopped
    std::string detail;  // what the station's terminal says: "programming 120/256, 0:44 left"
    std::string step;    // the step under way, or the one that failed
    std::optional<int64_t> pagesDone, pagesTotal, secondsLeft;
    std::string failReason;
    std::string lastPanel; // the station's clock time of the last attempt that ended
    bool operator==(const CFixtureStateRow&) const = default;
};

} // namespace records_server
