#pragma once
// Store and forward: every record is committed to the local journal first; a sender
// delivers the journal's backlog to the server and marks a row sent only once the
// server has acknowledged it. One sender at a time per journal, in start order.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Path.h"
#include "records/RecordStore.h"
#include "records/server/RecordsDelivery.h"
#include "records/server/RecordsServer.h"

struct SendReport
{
    int64_t sent = 0;    // rows the server acknowledged in this call
    int64_t waiting = 0; // rows of the journal not delivered yet (-1: unknown)
    int64_t running = 0; // of those, attempts still in progress here: they go once finished
    std::string problem; // why the rest waits, one line; empty when nothing stopped it
    // The rows the server refused for their data, with its reason: not counted in
    // waiting, kept out of the sends until records --sync --retry-set-aside.
    std::vector<CRecordStore::SetAsideRow> setAside;
    // What was sent in a way worth saying (an unfinished row whose writer cannot be checked).
    std::vector<std::string> notes;
};

// A connection kept from one call to the next (the station keeps its sink).
class CServerSink
{
public:
    explicit CServerSink(std::string url, IngestAccess access = {});

    // Sends what the journal holds that the server lacks, until the deadline (every
    // statement is capped by the time left): finished attempts, and unfinished ones whose
    // process is gone. A row the server refuses for its data is set aside and the rows
    // behind it go on. Waits for another sender of the same journal until the deadline.
    SendReport SendBacklog(CRecordStore& store, std::chrono::steady_clock::time_point deadline);

private:
    std::string m_url;
    IngestAccess m_access;
    std::string m_stationHost;
    std::unique_ptr<records_server::CRecordsDelivery> m_delivery;
};

// The sender a station runs beside its ports: it opens its own connection to the
// journal, sends when nudged (an attempt ended) and retries now and then while the
// server is away.
class CRecordsSender
{
public:
    static constexpr std::chrono::seconds kRetry{10};

    CRecordsSender(platform::CPath journal, std::string url, IngestAccess access = {});
    ~CRecordsSender();
    CRecordsSender(const CRecordsSender&) = delete;
    CRecordsSender& operator=(const CRecordsSender&) = delete;

    void Start();
    // An attempt was completed: send soon.
    void Nudge();
    // Ends the thread; waits at most for the call under way (its time-outs bound it).
    void Stop();
    // The last round's figures, for the station's table.
    SendReport Last() const;

private:
    void Loop();

    platform::CPath m_journal;
    std::string m_url;
    IngestAccess m_access;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_nudged = true, m_stopping = false;
    SendReport m_last;
    std::thread m_thread;
};
