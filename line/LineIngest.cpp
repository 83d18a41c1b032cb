#include "line/LineIngest.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

#include "records/AttemptFormats.h"
#include "records/server/FixtureStates.h"
#include "records/server/ServerRecords.h"

namespace line {

namespace {

using nlohmann::json;

constexpr char kBatchShape[] =
    "the body must be {\"version\": 1, \"attempts\": [...], \"states\": [...]} with at most 500 of each";

std::string Text(const json& object, const char* key)
{
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::optional<int64_t> Number(const json& object, const char* key)
{
    const auto found = object.find(key);
    return found != object.end() && found->is_number_integer() ? std::optional(found->get<int64_t>())
                                                               : std::nullopt;
}

// The server's reason without the "record <id>: " the library puts ahead of it.
std::string Reason(const std::string& error, const std::string& id)
{
    const std::string prefix = "record " + id + ": ";
    return error.rfind(prefix, 0) == 0 ? error.substr(prefix.size()) : error;
}

} // namespace

bool SameStation(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

bool PrepareIngest(CPgConnection& conn, std::string& error)
{
    return records_server::PrepareStationUpsert(conn, error) &&
           records_server::PrepareFixtureStateUpsert(conn, error);
}

std::string IngestError(const std::string& why)
{
    return json{{"error", why}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

CIngestAnswer Ingest(CPgConnection& conn, const std::string& station, const std::string& body)
{
    const json batch = json::parse(body, nullptr, false);
    const auto attempts = batch.is_object() ? batch.find("attempts") : json::const_iterator();
    const auto states = batch.is_object() ? batch.find("states") : json::const_iterator();
    // A batch of states alone may leave its attempts out.
    if (!batch.is_object() || Number(batch, "version") != 1 ||
        (attempts != batch.end() && (!attempts->is_array() || attempts->size() > kMostIngestAttempts)) ||
        (states != batch.end() && (!states->is_array() || states->size() > kMostIngestStates)))
        return {400, IngestError(kBatchShape)};

    auto serverFailed = [&](const std::string& why) {
        conn.Exec("ROLLBACK");
        return CIngestAnswer{503, IngestError("the records server cannot store the batch now: " + why)};
    };

    // What can be told without the server first: each row's verdict, or the attempt to store.
    std::vector<json> results;
    std::vector<std::pair<size_t, CAttempt>> toStore;
    for (const json& object : attempts != batch.end() ? *attempts : json::array()) {
        const std::string id = object.is_object() ? Text(object, "id") : std::string();
        results.push_back({{"id", id}});
        CAttempt attempt;
        auto refuse = [&](const std::string& why) { results.back()["refused"] = why; };
        if (!records::AttemptFromJson(object, attempt)) {
            refuse("not a record of torvane-cli records --json");
            continue;
        }
        // The revision decides what is newer; the import's reader leaves it out on purpose.
        const std::optional<int64_t> revision = Number(object, "revision");
        if (!revision || *revision < 1) {
            refuse("no revision");
            continue;
        }
        attempt.revision = *revision;
        if (!SameStation(attempt.host, station)) {
            refuse("belongs to station " + attempt.host + ", not to " + station);
            continue;
        }
        toStore.emplace_back(results.size() - 1, std::move(attempt));
    }

    // A row the server refuses ends the transaction: the batch goes again without it, so a
    // batch of good rows costs one statement each.
    for (;;) {
        if (const CPgResult begin = conn.Exec("BEGIN"); !begin.Ok()) return serverFailed(begin.Error());
        std::optional<size_t> refused;
        for (size_t i = 0; i < toStore.size() && !refused; ++i) {
            const auto& [index, attempt] = toStore[i];
            json& result = results[index];
            std::string owner, error, state;
            records_server::Upserted done =
                records_server::UpsertForStation(conn, attempt, station, owner, error, &state);
            // The station's rows stored while its name was spelt otherwise (a token made
            // again): they keep that spelling.
            if (done == records_server::Upserted::Foreign && owner != station &&
                SameStation(owner, station)) {
                const std::string spelt = owner;
                done = records_server::UpsertForStation(conn, attempt, spelt, owner, error, &state);
            }
            switch (done) {
            case records_server::Upserted::Stored:
                result["ok"] = true;
                break;
            case records_server::Upserted::Foreign:
                result["refused"] = "belongs to station " + owner + ", not to " + station;
                break;
            case records_server::Upserted::Failed:
                if (!IsDataError(state)) return serverFailed(error);
                result["refused"] = Reason(error, attempt.id);
                refused = i;
                break;
            }
        }
        if (!refused) break;
        conn.Exec("ROLLBACK");
        toStore.erase(toStore.begin() + static_cast<std::ptrdiff_t>(*refused));
        for (auto& [index, attempt] : toStore) {
            results[index].erase("ok");
            results[index].erase("refused");
        }
    }

    int stored = 0;
    for (const json& object : states != batch.end() ? *states : json::array()) {
        if (!object.is_object() || Text(object, "fixture").empty()) continue;
        records_server::CFixtureStateRow row{
            Text(object, "fixture"),        Text(object, "state"),        Text(object, "detail"),
            Text(object, "step"),           Number(object, "pages_done"), Number(object, "pages_total"),
            Number(object, "seconds_left"), Text(object, "fail_reason"),  Text(object, "last_panel")};
        // A state row holds nothing the server could refuse: a failure is the server's.
        std::string error;
        if (!records_server::UpsertPreparedFixtureState(conn, station, row, error))
            return serverFailed(error);
        ++stored;
    }
    // Only a committed batch is acknowledged: should this answer be lost, the station sends
    // the batch again and the upsert changes nothing.
    if (const CPgResult commit = conn.Exec("COMMIT"); !commit.Ok()) return serverFailed(commit.Error());
    return {200, json{{"results", json(results)}, {"states", stored}}.dump(-1, ' ', false,
                                                                           json::error_handler_t::replace)};
}

} // namespace line
