#include "records/server/FixtureStatePublisher.h"

#include <vector>

#include "records/server/RecordsDelivery.h"

namespace records_server {

namespace {

// A round of changes right after another waits this long, so a fixture counting pages
// does not turn into a stream of statements.
constexpr std::chrono::milliseconds kGap{250};
// A server without the table is asked again this rarely (records --init-server adds it).
constexpr std::chrono::minutes kNoTableWait{5};
// One round's longest wait for the server.
constexpr std::chrono::seconds kRoundTime{5};
// The last round, as the station stops: its goodbye is worth a short wait, not a long one.
constexpr std::chrono::seconds kLastRoundTime{2};

} // namespace

CFixtureStatePublisher::CFixtureStatePublisher(std::string url, std::string stationHost, IngestAccess access)
    : m_url(std::move(url)), m_stationHost(std::move(stationHost)), m_access(std::move(access))
{
}

CFixtureStatePublisher::~CFixtureStatePublisher()
{
    Stop();
}

void CFixtureStatePublisher::Start()
{
    if (!m_thread.joinable()) m_thread = std::thread([this] { Loop(); });
}

void CFixtureStatePublisher::Publish(const CFixtureStateRow& row)
{
    std::lock_guard lock(m_mutex);
    auto [at, added] = m_rows.try_emplace(row.fixture, row);
    if (!added && at->second == row) return;
    at->second = row;
    m_changed[row.fixture] = true;
    m_wake.notify_one();
}

void CFixtureStatePublisher::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_wake.notify_one();
    }
    if (m_thread.joinable()) m_thread.join();
}

void CFixtureStatePublisher::Loop()
{
    std::string error;
    std::unique_ptr<CRecordsDelivery> delivery = MakeDelivery(m_url, m_access, m_stationHost, error);
    if (!delivery) return;
    auto lastAll = std::chrono::steady_clock::now();
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        m_wake.wait_until(lock, lastAll + kEvery, [this] { return m_stopping || !m_changed.empty(); });
        if (m_stopping) break;
        const auto now = std::chrono::steady_clock::now();
        const bool all = now >= lastAll + kEvery;
        std::vector<CFixtureStateRow> rows;
        for (const auto& [fixture, row] : m_rows)
            if (all || m_changed.count(fixture)) rows.push_back(row);
        m_changed.clear();
        if (all) lastAll = now;
        lock.unlock();
        bool noTable = false;
        const bool sent = rows.empty() || delivery->PublishStates(rows, now + kRoundTime, error, noTable);
        lock.lock();
        // A server that went away, or one set up by an older Torvane without the table,
        // is not asked again at every page a fixture counts; then every row goes again.
        if (!sent) lastAll = std::chrono::steady_clock::now() + (noTable ? kNoTableWait : kEvery) - kEvery;
        m_wake.wait_until(lock, sent ? now + kGap : lastAll + kEvery, [this] { return m_stopping; });
    }
    // What changed last (the station saying it stopped) still goes, so the line does not
    // take a station that said goodbye for one that fell silent.
    std::vector<CFixtureStateRow> rows;
    for (const auto& [fixture, changed] : m_changed)
        rows.push_back(m_rows[fixture]);
    m_changed.clear();
    lock.unlock();
    bool noTable = false;
    if (!rows.empty())
        delivery->PublishStates(rows, std::chrono::steady_clock::now() + kLastRoundTime, error, noTable);
}

} // namespace records_server
