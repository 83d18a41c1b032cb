#pragma once
// The stations that send to the line server's ingest, each with its token: long and
// random, shown once by `station add`, kept on the records server only as its SHA-256.
#include <string>
#include <vector>

#include "records/server/PgConnection.h"

namespace line {

// 32 bytes from OpenSSL's random source, as 64 hex digits; empty when it has none.
std::string NewStationToken();
// The token's SHA-256 as 64 hex digits, as the table keeps it.
std::string TokenSha256(const std::string& token);

struct CStationEntry
{
    std::string name;
    std::string createdUtc;
};

// The table comes with the records' schema (records --init-server); these run as its owner.
// A station that has a token already is refused: remove it first, which revokes the old one.
bool AddStation(CPgConnection& conn, const std::string& name, std::string& token, std::string& error);
bool RemoveStation(CPgConnection& conn, const std::string& name, std::string& error);
bool ListStations(CPgConnection& conn, std::vector<CStationEntry>& stations, std::string& error);

// "Bearer <token>"; false when the header is no such thing.
bool BearerToken(const std::string& header, std::string& token);

enum class TokenVerdict { Known, Unknown, ServerDown };
// The station whose token this is.
TokenVerdict StationOfToken(CPgConnection& conn, const std::string& token, std::string& station,
                            std::string& error);

} // namespace line
