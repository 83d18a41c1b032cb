#include "line/LineTableCache.h"

#include <algorithm>
#include <iterator>

namespace line {

bool CLineTableCache::Answer(const std::string& key, uint64_t event, Clock::time_point now,
                             const Query& query, CLineTable& table, std::string& error,
                             std::chrono::milliseconds fresh, bool afterEvent)
{
    std::shared_ptr<Slot> slot;
    {
        std::lock_guard lock(m_mutex);
        // Filters come from the requests: stale answers nobody waits for go, so the
        // map holds only what the last moments asked.
        for (auto it = m_slots.begin(); it != m_slots.end();) {
            const bool idle = it->second.use_count() == 1;
            it = idle && (!it->second->kept || now - it->second->at >= kLongest) ? m_slots.erase(it)
                                                                                 : std::next(it);
        }
        auto& found = m_slots[key];
        if (!found) found = std::make_shared<Slot>();
        slot = found;
    }
    auto kept = [&] {
        std::lock_guard data(slot->data);
        if (!slot->kept || (slot->event < event && afterEvent) || now - slot->at >= std::min(fresh, kLongest))
            return false;
        table = slot->table;
        return true;
    };
    // An answer young enough is given without waiting for a query that renews it.
    if (kept()) return true;
    std::lock_guard busy(slot->busy);
    if (kept()) return true;
    if (!query(table, error)) return false;
    std::lock_guard data(slot->data);
    slot->kept = true;
    slot->event = event;
    slot->at = now;
    slot->table = table;
    return true;
}

} // namespace line
