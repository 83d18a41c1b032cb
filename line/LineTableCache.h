#pragma once
// The API's answers kept for a moment, so that every open page told of the same change
// reads the records server once between them rather than once each: an answer is given
// again only while no event has come since its query began, and for at most kFresh
// (a reader that asks may take one from before the last event, or up to kLongest old).
// Requests for the same answer wait for the one query running, unless the answer it
// renews will still do.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "line/LineTable.h"

namespace line {

class CLineTableCache
{
public:
    using Clock = std::chrono::steady_clock;
    // What "updated" and "seconds ago" may lag by; each event makes every answer stale.
    static constexpr std::chrono::milliseconds kFresh{2000};
    static constexpr std::chrono::milliseconds kLongest{10000};
    using Query = std::function<bool(CLineTable&, std::string&)>;

    // The answer for key (the table and its filter) as of the events up to `event`
    // (read before the call), or from before them when not afterEvent: kept if younger
    // than `fresh` (at most kLongest), or made by query. A failed query keeps nothing.
    bool Answer(const std::string& key, uint64_t event, Clock::time_point now, const Query& query,
                CLineTable& table, std::string& error, std::chrono::milliseconds fresh = kFresh,
                bool afterEvent = true);

private:
    struct Slot
    {
        std::mutex busy; // held while its query runs
        std::mutex data; // held while the answer below is read or written
        bool kept = false;
        uint64_t event = 0;
        Clock::time_point at;
        CLineTable table;
    };
    std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<Slot>> m_slots;
};

} // namespace line
