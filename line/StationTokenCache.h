#pragma once
// The stations of the tokens the ingest checked a moment ago, so a station sending after
// every panel does not cost the records server a lookup per request. Kept by the token's
// SHA-256 (never the token itself) and only for a short while: a token `station remove`
// revoked is refused again within kKept.
#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace line {

class CStationTokenCache
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kKept{2};
    // Far more than a line has stations; a full cache starts again.
    static constexpr size_t kMostKept = 4096;

    // The station of the token with this hash, when the records server told it within kKept.
    bool Find(const std::string& sha256, Clock::time_point now, std::string& station);
    // Only known tokens: an unknown one is asked every time (and slowed down).
    void Remember(const std::string& sha256, const std::string& station, Clock::time_point now);

private:
    struct CEntry
    {
        std::string station;
        Clock::time_point checked;
    };
    std::mutex m_mutex;
    std::unordered_map<std::string, CEntry> m_entries;
};

} // namespace line
