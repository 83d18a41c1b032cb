#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>

#include "records/AttemptFormats.h"
#include "records/server/LineServerPost.h"
#include "records/server/RecordsDelivery.h"
#include "records/server/StationToken.h"

namespace records_server {

namespace {

constexpr char kIngestPath[] = "/api/ingest";
constexpr int kWireVersion = 1;
// The line server takes at most 500 rows and 4 MiB per request; a margin for the
// envelope and the states.
constexpr size_t kBatch = 500;
constexpr size_t kLongestBody = 3 * 1024 * 1024;
// One request never waits longer than this, however far the caller's deadline.
constexpr std::chrono::seconds kLongestRequest{30};

nlohmann::json Nullable(const std::optional<int64_t>& value)
{
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

nlohmann::json StateJson(const CFixtureStateRow& row)
{
    return {{"fixture", row.fixture},
            {"state", row.state},
            {"detail", row.detail},
            {"step", row.step},
            {"pages_done", Nullable(row.pagesDone)},
            {"pages_total", Nullable(row.pagesTotal)},
            {"seconds_left", Nullable(row.secondsLeft)},
            {"fail_reason", row.failReason},
            {"last_panel", row.lastPanel}};
}

// The server's own words, one line, never a storm of text.
std::string ServerError(const HttpAnswer& answer)
{
    const nlohmann::json body = nlohmann::json::parse(answer.body, nullptr, false);
    std::string text = "the line server answered " + std::to_string(answer.status);
    if (body.is_object() && body.contains("error") && body["error"].is_string())
        text += ": " + body["error"].get<std::string>().substr(0, 200);
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

class CIngestDelivery final : public CRecordsDelivery
{
public:
    CIngestDelivery(LineServerUrl url, IngestAccess access)
        : m_url(std::move(url)), m_access(std::move(access))
    {
    }

    size_t BatchSize() const override { return kBatch; }

    bool Deliver(const std::vector<CAttempt>& rows, Deadline deadline, std::vector<RowAnswer>& answers,
                 std::string& problem) override
    {
        answers.assign(rows.size(), {});
        nlohmann::json attempts = nlohmann::json::array();
        size_t size = 0, sent = 0;
        for (; sent < rows.size(); ++sent) {
            std::string row = AttemptJson(rows[sent]).dump();
            if (size + row.size() > kLongestBody) {
                if (sent > 0) break;
                // No batch could carry it: waiting would hold back every row behind it.
                answers[0] = {RowAnswer::Said::Refused,
                              "larger than the line server takes (" + std::to_string(row.size()) + " bytes)"};
                return true;
            }
            size += row.size();
            attempts.push_back(nlohmann::json::parse(row));
        }
        HttpAnswer answer;
        if (!Post({{"version", kWireVersion}, {"attempts", attempts}, {"states", nlohmann::json::array()}},
                  deadline, answer, problem))
            return false;
        const nlohmann::json body = nlohmann::json::parse(answer.body, nullptr, false);
        const nlohmann::json* results =
            body.is_object() && body.contains("results") ? &body["results"] : nullptr;
        if (!results || !results->is_array() || results->size() != sent) {
            problem = "the line server's answer is not understood";
            return false;
        }
        for (size_t i = 0; i < sent; ++i) {
            const nlohmann::json& result = (*results)[i];
            // Read by hand, not with value(): a wrong type from the server must not throw.
            const auto id = result.is_object() ? result.find("id") : result.end();
            if (id == result.end() || !id->is_string() || id->get<std::string>() != rows[i].id) {
                // Answers that do not match the rows sent: none of them may be trusted.
                answers.assign(rows.size(), {});
                problem = "the line server's answer is not understood";
                return false;
            }
            if (const auto ok = result.find("ok"); ok != result.end() && ok->is_boolean() && ok->get<bool>())
                answers[i].said = RowAnswer::Said::Stored;
            else if (result.contains("refused") && result["refused"].is_string())
                answers[i] = {RowAnswer::Said::Refused, result["refused"].get<std::string>()};
        }
        return true;
    }

    bool PublishStates(const std::vector<CFixtureStateRow>& rows, Deadline deadline, std::string& problem,
                       bool& noPlace) override
    {
        noPlace = false;
        nlohmann::json states = nlohmann::json::array();
        for (const CFixtureStateRow& row : rows)
            states.push_back(StateJson(row));
        HttpAnswer answer;
        return Post({{"version", kWireVersion}, {"attempts", nlohmann::json::array()}, {"states", states}},
                    deadline, answer, problem);
    }

private:
    // True only for a 200; anything else leaves every row waiting.
    bool Post(const nlohmann::json& request, Deadline deadline, HttpAnswer& answer, std::string& problem)
    {
        std::string token;
        if (m_access.tokenFile.empty()) {
            problem = "no station token (--station-token FILE, from torvane-line station add)";
            return false;
        }
        if (!LoadStationToken(platform::CPath::FromUtf8(m_access.tokenFile), token, problem)) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds(0)) {
            problem = "out of time";
            return false;
        }
        const std::string body = request.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        if (!PostToLineServer(m_url, kIngestPath, token, body, m_access.serverCert,
                              std::min<std::chrono::milliseconds>(left, kLongestRequest), answer, problem))
            return false;
        if (answer.status == 200) return true;
        problem = ServerError(answer);
        if (answer.status == 401)
            problem += " (the station's token: torvane-line station add NAME on the server)";
        return false;
    }

    LineServerUrl m_url;
    IngestAccess m_access;
};

} // namespace

bool IsLoopbackHost(const std::string& host)
{
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

std::optional<LineServerUrl> ParseLineServerUrl(const std::string& url, std::string& why)
{
    LineServerUrl parsed;
    std::string rest;
    if (url.rfind("https://", 0) == 0) {
        rest = url.substr(8);
    } else if (url.rfind("http://", 0) == 0) {
        parsed.tls = false, parsed.port = 80, rest = url.substr(7);
    } else {
        why = "not an https:// address";
        return std::nullopt;
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    if (rest.find_first_of("/?#@ \t") != std::string::npos) {
        why = "give the line server as https://HOST:PORT, without a path or credentials";
        return std::nullopt;
    }
    std::string port;
    bool hasPort = false;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) {
            why = "an IPv6 address lacks its ]";
            return std::nullopt;
        }
        parsed.host = rest.substr(1, close - 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') {
                why = "give the line server as https://HOST:PORT";
                return std::nullopt;
            }
            port = rest.substr(close + 2), hasPort = true;
        }
    } else {
        const size_t colon = rest.find(':');
        parsed.host = rest.substr(0, colon);
        if (colon != std::string::npos) port = rest.substr(colon + 1), hasPort = true;
    }
    if (parsed.host.empty()) {
        why = "no host";
        return std::nullopt;
    }
    if (hasPort) {
        const bool digits = !port.empty() && port.size() <= 5 &&
                            std::all_of(port.begin(), port.end(),
                                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
        if (!digits || std::stoul(port) < 1 || std::stoul(port) > 65535) {
            why = "the port is no number from 1 to 65535";
            return std::nullopt;
        }
        parsed.port = static_cast<uint16_t>(std::stoul(port));
    }
    if (!parsed.tls && !IsLoopbackHost(parsed.host)) {
        why = "http:// sends the station's token in clear text: use https:// (http:// only to this PC)";
        return std::nullopt;
    }
    return parsed;
}

std::unique_ptr<CRecordsDelivery> MakeIngestDelivery(const std::string& url, const IngestAccess& access,
                                                     std::string& error)
{
    std::optional<LineServerUrl> parsed = ParseLineServerUrl(url, error);
    if (!parsed) return nullptr;
    return std::make_unique<CIngestDelivery>(std::move(*parsed), access);
}

std::unique_ptr<CRecordsDelivery> MakeDelivery(const std::string& url, const IngestAccess& access,
                                               const std::string& stationHost, std::string& error)
{
    if (IsLineServerUrl(url)) return MakeIngestDelivery(url, access, error);
#ifdef TORVANE_RECORDS_SERVER
    return MakePgDelivery(url, stationHost);
#else
    (void)stationHost;
    error = NoServerSinkText();
    return nullptr;
#endif
}

} // namespace records_server
