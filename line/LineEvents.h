#pragma once
// The page's live updates: one connection LISTENs for the records server's notifications
// and every open event stream hears of them.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <thread>

namespace line {

// One server-sent event. Its data is JSON on one line, so no text from the database (a
// serial holding a blank line) can end the event early or forge another.
std::string EventText(const nlohmann::json& payload);

class CLineEvents
{
public:
    // A stream that hears nothing this long gets a comment, so proxies keep it open and
    // a closed page is noticed.
    static constexpr std::chrono::seconds kKeepAlive{15};
    // Between tries to reach a records server that went away.
    static constexpr std::chrono::seconds kRetry{2};

    explicit CLineEvents(std::string url);
    ~CLineEvents();

    void Start();
    void Stop();

    // Every event is numbered; a stream starts at Latest() and waits for what follows.
    uint64_t Latest();
    // The text of the events after `after` (and advances it), a keep-alive comment when
    // nothing came for kKeepAlive, or "" when the wait ended for Stop or after `until`.
    std::string Next(uint64_t& after, std::chrono::steady_clock::time_point until);
    void Post(const nlohmann::json& payload);

    // Streams open now: each holds one of the server's threads.
    std::atomic<int> streams{0};

private:
    void Listen();

    static constexpr size_t kKept = 64;
    std::string m_url;
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::string> m_events; // the last kKept, the newest at the back
    uint64_t m_latest = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace line
