#pragma once
// What each fixture of each station is doing now, on the records server: the station's
// sender upserts its fixtures' rows on every change and now and then, and the line's
// server hears of them (and of new records) through LISTEN on kLineChannel.
#include <cstdint>
#include <optional>
#include <string>

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
// The same as a prepared statement, for a connection that sends states often (the line
// server's ingest): the server plans it once per connection, not once per row.
bool PrepareFixtureStateUpsert(CPgConnection& conn, std::string& error);
bool UpsertPreparedFixtureState(CPgConnection& conn, const std::string& stationHost,
                                const CFixtureStateRow& row, std::string& error);

} // namespace records_server
