#pragma once
// What each fixture of each station is doing now, on the records server: the station's
// sender upserts its fixtures' rows on every change and now and then, and the line's
// server hears of them (and of new records) through LISTEN on kLineChannel.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "records/server/FixtureStateRow.h"
#include "records/server/PgConnection.h"

namespace records_server {

// The NOTIFY channel; its payload is "records" or "state".
inline constexpr char kLineChannel[] = "torvane_line";

// The table and the triggers that notify kLineChannel; changes nothing that is there,
// so a server set up before keeps its rows and older stations simply never write it.
bool InitFixtureStates(CPgConnection& conn, std::string& error);

// The row of (stationHost, row.fixture), stamped with the server's clock. noTable: the
// server has no such table (set up by an older Torvane).
bool UpsertFixtureState(CPgConnection& conn, const std::string& stationHost, const CFixtureStateRow& row,
                        std::string& error, bool* noTable = nullptr);

// The station's publisher, on its own thread and connection: a fixture never waits for
// the network, and a server that is away only delays the rows.
class CFixtureStatePublisher
{
public:
    // Rows unchanged are sent again this often, so the line sees the station is alive.
    static constexpr std::chrono::seconds kEvery{10};

    CFixtureStatePublisher(std::string url, std::string stationHost);
    ~CFixtureStatePublisher();
    CFixtureStatePublisher(const CFixtureStatePublisher&) = delete;
    CFixtureStatePublisher& operator=(const CFixtureStatePublisher&) = delete;

    void Start();
    // The fixture's row now; a changed row goes at once.
    void Publish(const CFixtureStateRow& row);
    void Stop();

private:
    void Loop();

    std::string m_url, m_stationHost;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<std::string, CFixtureStateRow> m_rows;
    std::map<std::string, bool> m_changed;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace records_server
