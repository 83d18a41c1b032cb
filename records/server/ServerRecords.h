#pragma once
// The records on a PostgreSQL server: the journal's columns plus the station that
// delivered each row, one row per attempt keyed by the attempt's own id.
#include <string>
#include <vector>

#include "records/Attempt.h"
#include "records/RecordFilter.h"
#include "records/server/PgConnection.h"

namespace records_server {

inline constexpr int kSchemaVersion = 7;

// Creates the tables and indexes, or migrates older ones; refuses a schema newer than
// this program. What was done as one line in done ("created", "already at version 1").
bool InitSchema(CPgConnection& conn, std::string& done, std::string& error);

// Makes the upsert ready on this connection.
bool PrepareUpsert(CPgConnection& conn, std::string& error);
// The row only ever moves forward: a higher revision replaces it, and a finished
// attempt is never turned back into an unfinished one, so a resend changes nothing.
// stationHost: the machine whose journal (or import) delivered it.
// state: the server's SQLSTATE when it refused the row (IsDataError tells whether the
// row's own data was the cause). Every text goes as valid UTF-8.
bool Upsert(CPgConnection& conn, const CAttempt& attempt, const std::string& stationHost, std::string& error,
            std::string* state = nullptr);

// For a station that reaches the server through the line server's ingest: Upsert's
// forward-only rule, and a row the server holds from another station is never touched
// (Foreign, with that station in owner).
enum class Upserted { Stored, Foreign, Failed };
bool PrepareStationUpsert(CPgConnection& conn, std::string& error);
Upserted UpsertForStation(CPgConnection& conn, const CAttempt& attempt, const std::string& stationHost,
                          std::string& owner, std::string& error, std::string* state = nullptr);

// An import (records --import) never rewrites the server's history: it adds an id the
// server lacks, or completes an unfinished row of the same host and process; the
// revision is the server's own (an added row gets 1 if unfinished, else 2; a completed
// one the next), never the file's.
enum class Imported { New, Completed, AlreadyThere, Failed };
bool PrepareImport(CPgConnection& conn, std::string& error);
Imported Import(CPgConnection& conn, const CAttempt& attempt, const std::string& stationHost,
                std::string& error);
// The server's answer meant "no schema": the error line says what to run.
bool NoSchema(const CPgResult& result);

bool Query(CPgConnection& conn, const CRecordFilter& filter, std::vector<CAttempt>& attempts,
           std::string& error);

} // namespace records_server
