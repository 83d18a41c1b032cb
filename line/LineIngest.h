#pragma once
// POST /api/ingest: a station's batch of records and fixture states, sent over HTTPS
// with its token instead of through libpq (Windows stations have no libpq).
#include <string>

#include "records/server/PgConnection.h"

namespace line {

// A batch's limits: a station sends more in several requests.
inline constexpr size_t kLargestIngestBody = 4 * 1024 * 1024;
inline constexpr size_t kMostIngestAttempts = 500;
inline constexpr size_t kMostIngestStates = 500;

struct CIngestAnswer
{
    int status = 200;
    std::string body; // JSON
};

// The statements Ingest runs, prepared once per connection.
bool PrepareIngest(CPgConnection& conn, std::string& error);

// Stores the batch for the token's station on conn (prepared with PrepareIngest) in one
// transaction: every attempt with the forward-only upsert, or refused on its own (another
// station's, not a record, data the server refuses), then the states. 400 for a body that is no batch, 503 when the server
// fails (nothing is stored then: the station sends it all again).
CIngestAnswer Ingest(CPgConnection& conn, const std::string& station, const std::string& body);

// Host names as Windows compares them: letters in either case are the same name (a
// station's token made for "wst-01" takes the rows its PC writes as "WST-01").
bool SameStation(const std::string& a, const std::string& b);

// {"error": why}
std::string IngestError(const std::string& why);

} // namespace line
