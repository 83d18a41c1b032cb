#pragma once
// One way to the records server: libpq to PostgreSQL, or HTTPS to the line server's
// ingest. The sender keeps the journal's rules (journal first, a row marked sent only
// once acknowledged, a refused row set aside); a delivery only carries a batch there.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "records/Attempt.h"
#include "records/server/FixtureStateRow.h"
#include "records/server/RecordsServer.h"

namespace records_server {

using Deadline = std::chrono::steady_clock::time_point;

struct RowAnswer
{
    enum class Said { Stored, Refused, NotStored };
    Said said = Said::NotStored; // NotStored: goes again with the next batch
    std::string reason;          // the server's, for Refused
};

class CRecordsDelivery
{
public:
    virtual ~CRecordsDelivery() = default;
    // Rows per batch: few round trips, a short transaction.
    virtual size_t BatchSize() const = 0;
    // The rows as one batch. False: no answer (problem says why) and nothing counts as
    // stored; true: answers holds one per row.
    virtual bool Deliver(const std::vector<CAttempt>& rows, Deadline deadline,
                         std::vector<RowAnswer>& answers, std::string& problem) = 0;
    // The fixtures' rows now. noPlace: the server has nowhere to keep them (set up by an
    // older Torvane), so asking again soon is pointless.
    virtual bool PublishStates(const std::vector<CFixtureStateRow>& rows, Deadline deadline,
                               std::string& problem, bool& noPlace) = 0;
};

// The delivery for url: the line server for https:// (and http:// to this PC), libpq for
// the rest where this build has it; null with the reason otherwise.
std::unique_ptr<CRecordsDelivery> MakeDelivery(const std::string& url, const IngestAccess& access,
                                               const std::string& stationHost, std::string& error);

} // namespace records_server

namespace records_server {

// The two ways, for MakeDelivery (PgDelivery only where libpq is).
std::unique_ptr<CRecordsDelivery> MakePgDelivery(const std::string& url, const std::string& stationHost);
std::unique_ptr<CRecordsDelivery> MakeIngestDelivery(const std::string& url, const IngestAccess& access,
                                                     std::string& error);

} // namespace records_server
