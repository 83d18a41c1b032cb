#pragma once
// The station's publisher of its fixtures' state, on its own thread and its own way to
// the server: a fixture never waits for the network, and a server that is away only
// delays the rows.
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "records/server/FixtureStateRow.h"
#include "records/server/RecordsServer.h"

namespace records_server {

class CFixtureStatePublisher
{
public:
    // Rows unchanged are sent again this often, so the line sees the station is alive.
    static constexpr std::chrono::seconds kEvery{10};

    CFixtureStatePublisher(std::string url, std::string stationHost, IngestAccess access = {});
    ~CFixtureStatePublisher();
    CFixtureStatePublisher(const CFixtureStatePublisher&) = delete;
    CFixtureStatePublisher& operator=(const CFixtureStatePublisher&) = delete;

    void Start();
    // The fixture's row now; a changed row goes at once.
    void Publish(const CFixtureStateRow& row);
    // Rows changed and not yet sent go in one last round (of 2 s at most).
    void Stop();

private:
    void Loop();

    std::string m_url, m_stationHost;
    IngestAccess m_access;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<std::string, CFixtureStateRow> m_rows;
    std::map<std::string, bool> m_changed;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace records_server
