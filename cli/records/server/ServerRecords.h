#pragma once
// The records on a PostgreSQL server: the journal's columns plus the station that
// delivered each row, one row per attempt keyed by the attempt's own id.
#include <string>
#include <vector>

#include "cli/records/Attempt.h"
#include "cli/records/RecordFilter.h"
#include "cli/records/server/PgConnection.h"

namespace records_server {

inline constexpr int kSchemaVersion = 1;

// Creates the tables and indexes, or migrates older ones; refuses a schema newer than
// this program. What was done as one line in done ("created", "already at version 1").
bool InitSchema(CPgConnection& conn, std::string& done, std::string& error);

// Makes the upsert ready on this connection.
bool PrepareUpsert(CPgConnection& conn, std::string& error);
// The row only ever moves forward: a higher revision replaces it, and a finished
// attempt is never turned back into an unfinished one, so a resend changes nothing.
// stationHost: the machine whose journal (or import) delivered it.
bool Upsert(CPgConnection& conn, const CAttempt& attempt, const std::string& stationHost, std::string& error);
// The server's answer meant "no schema": the error line says what to run.
bool NoSchema(const CPgResult& result);

bool Query(CPgConnection& conn, const CRecordFilter& filter, std::vector<CAttempt>& attempts,
           std::string& error);

} // namespace records_server
