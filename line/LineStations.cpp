#include "line/LineStations.h"

#include <cctype>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "platform/ShownText.h"
#include "records/server/ServerRecords.h"

namespace line {

namespace {

constexpr size_t kTokenBytes = 32;
// A header longer than any token of ours is not read further.
constexpr size_t kLongestToken = 256;

std::string Hex(const unsigned char* bytes, size_t size)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0x0f];
    }
    return hex;
}

bool Failed(const CPgResult& result, std::string& error)
{
    if (result.Ok()) return false;
    error = records_server::NoSchema(result)
                ? "the records server has no stations' table yet: run torvane-cli records --init-server"
                : result.Error();
    return true;
}

} // namespace

std::string NewStationToken()
{
    unsigned char bytes[kTokenBytes];
    if (RAND_bytes(bytes, sizeof bytes) != 1) return {};
    return Hex(bytes, sizeof bytes);
}

std::string TokenSha256(const std::string& token)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(token.data(), token.size(), digest, &size, EVP_sha256(), nullptr) != 1) return {};
    return Hex(digest, size);
}

bool AddStation(CPgConnection& conn, const std::string& name, std::string& token, std::string& error)
{
    // The name is what the station's records carry as their host: shown on the page and
    // compared in either case, as Windows compares host names (so one name has one token).
    if (name.empty() || platform::ValidUtf8(name) != name ||
        name.find_first_of("\r\n\t") != std::string::npos) {
        error = "a station's name must be its host name: not empty, valid UTF-8, on one line";
        return false;
    }
    const std::string fresh = NewStationToken();
    const std::string hash = TokenSha256(fresh);
    if (fresh.empty() || hash.empty()) {
        error = "no random numbers for a token";
        return false;
    }
    const CPgResult result = conn.Exec(
        "INSERT INTO torvane_line_station (name, token_sha256) SELECT $1, $2 WHERE NOT EXISTS"
        " (SELECT 1 FROM torvane_line_station WHERE lower(name) = lower($1)) ON CONFLICT (name) DO NOTHING"
        " RETURNING name",
        {name, hash});
    if (Failed(result, error)) return false;
    if (result.Rows() == 0) {
        error = "station " + name + " has a token already: torvane-line station remove " + name +
                " revokes it, then add it again";
        return false;
    }
    token = fresh;
    return true;
}

bool RemoveStation(CPgConnection& conn, const std::string& name, std::string& error)
{
    const CPgResult result =
        conn.Exec("DELETE FROM torvane_line_station WHERE lower(name) = lower($1) RETURNING name", {name});
    if (Failed(result, error)) return false;
    if (result.Rows() == 0) {
        error = "no station named " + name;
        return false;
    }
    return true;
}

bool ListStations(CPgConnection& conn, std::vector<CStationEntry>& stations, std::string& error)
{
    const CPgResult result =
        conn.Exec("SELECT name, to_char(created_utc AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')"
                  " FROM torvane_line_station ORDER BY name");
    if (Failed(result, error)) return false;
    stations.clear();
    for (int row = 0; row < result.Rows(); ++row)
        stations.push_back({result.Text(row, 0), result.Text(row, 1)});
    return true;
}

bool BearerToken(const std::string& header, std::string& token)
{
    if (header.size() < 7 || header.size() > kLongestToken) return false;
    std::string scheme = header.substr(0, 7);
    for (char& c : scheme)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme != "bearer ") return false;
    token = header.substr(7);
    token.erase(0, token.find_first_not_of(' '));
    token.erase(token.find_last_not_of(' ') + 1);
    return !token.empty();
}

TokenVerdict StationOfToken(CPgConnection& conn, const std::string& token, std::string& station,
                            std::string& error)
{
    const std::string hash = TokenSha256(token);
    const CPgResult result =
        conn.Exec("SELECT name, token_sha256 FROM torvane_line_station WHERE token_sha256 = $1", {hash});
    if (!result.Ok()) {
        error = result.Error();
        return TokenVerdict::ServerDown;
    }
    if (result.Rows() != 1) return TokenVerdict::Unknown;
    // The index found it by its hash; the comparison that decides takes the same time
    // however many digits match.
    const std::string stored = result.Text(0, 1);
    if (stored.size() != hash.size() || CRYPTO_memcmp(stored.data(), hash.data(), hash.size()) != 0)
        return TokenVerdict::Unknown;
    station = result.Text(0, 0);
    return TokenVerdict::Known;
}

} // namespace line
