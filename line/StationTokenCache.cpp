#include "line/StationTokenCache.h"

namespace line {

bool CStationTokenCache::Find(const std::string& sha256, Clock::time_point now, std::string& station)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(sha256);
    if (found == m_entries.end()) return false;
    if (now - found->second.checked >= kKept || now < found->second.checked) {
        m_entries.erase(found);
        return false;
    }
    station = found->second.station;
    return true;
}

void CStationTokenCache::Remember(const std::string& sha256, const std::string& station,
                                  Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    if (m_entries.size() >= kMostKept && !m_entries.count(sha256)) m_entries.clear();
    m_entries[sha256] = {station, now};
}

} // namespace line
