#include "line/LineEvents.h"

#include <cerrno>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <vector>

#include "records/server/FixtureStates.h"
#include "records/server/PgConnection.h"

namespace line {

namespace {

constexpr int kPollMs = 500;

} // namespace

std::string EventText(const nlohmann::json& payload)
{
    // dump escapes every control character, line feeds included; text that is not UTF-8
    // is replaced rather than thrown at the stream.
    return "data: " + payload.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n\n";
}

CLineEvents::CLineEvents(std::string url) : m_url(std::move(url)) {}

CLineEvents::~CLineEvents()
{
    Stop();
}

void CLineEvents::Start()
{
    if (!m_thread.joinable()) m_thread = std::thread([this] { Listen(); });
}

void CLineEvents::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_posted.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

uint64_t CLineEvents::Latest()
{
    std::lock_guard lock(m_mutex);
    return m_latest;
}

void CLineEvents::Post(const nlohmann::json& payload)
{
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(EventText(payload));
        if (m_events.size() > kKept) m_events.pop_front();
        ++m_latest;
    }
    m_posted.notify_all();
}

std::string CLineEvents::Next(uint64_t& after, std::chrono::steady_clock::time_point until)
{
    std::unique_lock lock(m_mutex);
    const auto quiet = std::min(until, std::chrono::steady_clock::now() + kKeepAlive);
    if (!m_posted.wait_until(lock, quiet, [&] { return m_stopping || m_latest > after; }))
        return quiet == until ? std::string() : std::string(": still here\n\n");
    if (m_stopping) return {};
    const uint64_t missed = m_latest - after;
    after = m_latest;
    // A stream that fell behind what is kept reloads everything instead.
    if (missed > m_events.size()) return EventText({{"kind", "refresh"}});
    std::string text;
    for (size_t i = m_events.size() - static_cast<size_t>(missed); i < m_events.size(); ++i)
        text += m_events[i];
    return text;
}

void CLineEvents::Listen()
{
    bool lost = false;
    auto stopping = [this] {
        std::lock_guard lock(m_mutex);
        return m_stopping;
    };
    while (!stopping()) {
        CPgConnection conn;
        std::string error;
        const std::string listen = std::string("LISTEN ") + records_server::kLineChannel;
        if (!conn.Connect(m_url, error) || !conn.Exec(listen).Ok()) {
            lost = true;
            std::unique_lock lock(m_mutex);
            m_posted.wait_for(lock, kRetry, [this] { return m_stopping; });
            continue;
        }
        // Whatever changed while nobody listened: every page reads everything again.
        if (lost) Post({{"kind", "refresh"}});
        lost = false;
        while (!stopping()) {
            pollfd fd{conn.Socket(), POLLIN, 0};
            if (::poll(&fd, 1, kPollMs) < 0 && errno != EINTR) break;
            std::vector<std::string> payloads;
            if (!conn.TakeNotifications(payloads)) break;
            for (const std::string& payload : payloads)
                Post({{"kind", payload}});
        }
        lost = true;
    }
}

} // namespace line
