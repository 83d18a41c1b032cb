#include "line/LineServer.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <future>
#include <httplib.h>
#include <mutex>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <optional>
#include <thread>
#include <vector>

#include "line/LineEvents.h"
#include "line/LineIngest.h"
#include "line/LineMetrics.h"
#include "line/LinePage.h"
#include "line/LineQueries.h"
#include "line/LineStations.h"
#include "line/LineTableCache.h"
#include "line/LineUsers.h"
#include "line/PageAssets.h"
#include "line/StationTokenCache.h"
#include "records/server/PgConnection.h"
#include "records/server/ServerRecords.h"

namespace line {

namespace {

constexpr char kRealm[] = "Basic realm=\"Torvane line\", charset=\"UTF-8\"";
constexpr char kIngestPath[] = "/api/ingest";
constexpr char kJson[] = "application/json; charset=utf-8";
constexpr char kCsv[] = "text/csv; charset=utf-8";
constexpr char kText[] = "text/plain; charset=utf-8";
constexpr char kMetrics[] = "text/plain; version=0.0.4; charset=utf-8";
// A line's stations each send now and then, many at once after an outage: their
// connections are kept, so a batch does not wait for a new one and its statements.
constexpr size_t kKeptReaders = 8;
constexpr size_t kKeptWriters = 32;
// The page's first answers, read together: their connections are opened when the server
// starts, so the first visitor pays no connection's start and authentication per read.
constexpr size_t kPageFirstReads = 5;
// A page opened takes its first answers up to 10 s old, as old as an open page's tiles get
// between their own reads (line.js, kLineRefreshMs); its stream reads all again at once.
// They are read again before they age out, so that a page opened is served from memory:
// five queries in the request would keep its browser waiting. Five reads every 8 s are
// cheap enough to do whether or not anyone watches.
constexpr auto kPageAge = CLineTableCache::kLongest;
constexpr auto kWarmTick = std::chrono::milliseconds(250);
constexpr auto kWarmAge = kPageAge - std::chrono::milliseconds(2000);
constexpr size_t kKeptAliveRequests = 10000;
const std::vector<std::string> kLoopbackHosts = {"localhost", "127.0.0.1", "[::1]"};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool IsLoopback(const std::string& address)
{
    return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

// The Host header's name without its port ("[::1]:8080" -> "[::1]").
std::string HostName(const std::string& header)
{
    if (!header.empty() && header.front() == '[') return Lower(header.substr(0, header.find(']') + 1));
    return Lower(header.substr(0, header.find(':')));
}

// "Basic base64(name:password)"; false when the header is no such thing.
bool BasicCredentials(const std::string& header, std::string& name, std::string& password)
{
    if (header.size() < 6 || Lower(header.substr(0, 6)) != "basic ") return false;
    std::string encoded = header.substr(6);
    encoded.erase(0, encoded.find_first_not_of(' '));
    if (encoded.empty() || encoded.size() % 4 != 0 || encoded.size() > 4096) return false;
    std::string decoded(encoded.size() / 4 * 3, '\0');
    const int size = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                                     reinterpret_cast<const unsigned char*>(encoded.data()),
                                     static_cast<int>(encoded.size()));
    if (size < 0) return false;
    // EVP_DecodeBlock counts the padding's bytes as decoded zeros.
    const size_t padding = static_cast<size_t>(std::count(encoded.end() - 2, encoded.end(), '='));
    decoded.resize(static_cast<size_t>(size) - padding);
    const size_t colon = decoded.find(':');
    if (colon == std::string::npos) return false;
    name = decoded.substr(0, colon);
    password = decoded.substr(colon + 1);
    return true;
}

std::optional<std::string> Param(const httplib::Request& req, const char* key)
{
    const std::string value = req.get_param_value(key);
    return value.empty() ? std::nullopt : std::optional(value);
}

const char* ContentType(const std::string& path)
{
    const auto ends = [&](const char* tail) {
        const std::string t = tail;
        return path.size() >= t.size() && path.compare(path.size() - t.size(), t.size(), t) == 0;
    };
    if (ends(".html")) return "text/html; charset=utf-8";
    if (ends(".css")) return "text/css; charset=utf-8";
    if (ends(".js")) return "text/javascript; charset=utf-8";
    if (ends(".svg")) return "image/svg+xml";
    return "application/octet-stream";
}

// The library answers a browser in brotli at its slowest setting, again for every answer:
// a sixth of a second of a core for the filled page. gzip costs a fortieth of that. The
// request is the library's own object (not a copy), from which it chooses the encoding.
void OnlyGzip(const httplib::Request& req)
{
    auto& headers = const_cast<httplib::Request&>(req).headers;
    const auto accept = headers.find("Accept-Encoding");
    if (accept == headers.end()) return;
    const bool gzip = Lower(accept->second).find("gzip") != std::string::npos;
    headers.erase("Accept-Encoding");
    if (gzip) headers.emplace("Accept-Encoding", "gzip");
}

// Connections to the records server for the handlers' threads: each request takes one,
// and gives it back when it still works. ready makes a new one fit for its use.
class CConnectionPool
{
public:
    using Ready = std::function<bool(CPgConnection&, std::string&)>;
    CConnectionPool(std::string url, Ready ready, size_t kept)
        : m_url(std::move(url)), m_ready(std::move(ready)), m_kept(kept)
    {
    }

    std::unique_ptr<CPgConnection> Take(std::string& error)
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_idle.empty()) {
                auto conn = std::move(m_idle.back());
                m_idle.pop_back();
                return conn;
            }
        }
        auto conn = std::make_unique<CPgConnection>();
        if (!conn->Connect(m_url, error) || !m_ready(*conn, error)) return nullptr;
        return conn;
    }
    // Opens up to count connections ahead of the requests (none past the first failure:
    // a server away is then a request's answer, not a wait here).
    void Open(size_t count)
    {
        std::vector<std::unique_ptr<CPgConnection>> opened;
        for (size_t i = 0; i < count; ++i) {
            std::string error;
            auto conn = Take(error);
            if (!conn) break;
            opened.push_back(std::move(conn));
        }
        for (auto& conn : opened)
            Give(std::move(conn));
    }
    void Give(std::unique_ptr<CPgConnection> conn)
    {
        if (!conn || !conn->Connected()) return;
        conn->SetDeadline(std::chrono::steady_clock::time_point::max());
        std::lock_guard lock(m_mutex);
        if (m_idle.size() < m_kept) m_idle.push_back(std::move(conn));
    }

private:
    std::string m_url;
    Ready m_ready;
    size_t m_kept; // idle connections kept for the next requests
    std::mutex m_mutex;
    std::vector<std::unique_ptr<CPgConnection>> m_idle;
};

bool ReadOnly(CPgConnection& conn, std::string& error)
{
    // Whatever rights the role has, the page and the API only ever read.
    const CPgResult readOnly = conn.Exec("SET default_transaction_read_only = on");
    if (!readOnly.Ok()) error = readOnly.Error();
    return readOnly.Ok();
}

} // namespace

bool SplitListen(const std::string& listen, std::string& address, int& port)
{
    const size_t colon = listen.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    address = listen.substr(0, colon);
    if (address.front() == '[') {
        if (address.back() != ']' || address.size() < 3) return false;
        address = address.substr(1, address.size() - 2);
    } else if (address.find(':') != std::string::npos) {
        return false; // an IPv6 address goes in brackets
    }
    const std::string digits = listen.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(digits);
    return port <= 65535;
}

std::string RefuseSettings(const CLineServerSettings& settings)
{
    std::string address;
    int port = 0;
    if (!SplitListen(settings.listen, address, port))
        return "--listen takes ADDR:PORT (127.0.0.1:8080, [::1]:8080): " + settings.listen;
    if (settings.tlsCert.empty() != settings.tlsKey.empty()) return "--tls-cert and --tls-key go together";
    if (!IsLoopback(address) && settings.tlsCert.empty())
        return "listening on " + address +
               " needs TLS (--tls-cert and --tls-key): passwords would cross the "
               "network in the clear";
    return {};
}

struct CLineServer::Impl
{
    CLineServerSettings settings;
    std::unique_ptr<httplib::Server> http;
    CConnectionPool readers;
    CConnectionPool writers;
    CLineEvents events;
    CLineTableCache answers;
    CUserCheck users;
    CLoginThrottle throttle;
    CStationTokenCache tokens;
    std::vector<std::string> hosts;
    int port = 0;
    std::mutex warmMutex;
    std::condition_variable warmWake;
    bool warmStop = false;

    explicit Impl(CLineServerSettings s)
        : settings(std::move(s)), readers(settings.recordsServer, ReadOnly, kKeptReaders),
          writers(settings.ingestServer, PrepareIngest, kKeptWriters), events(settings.recordsServer)
    {
        hosts = settings.hosts.empty() ? kLoopbackHosts : settings.hosts;
        for (std::string& host : hosts)
            host = Lower(host);
    }

    // Host, method, body and credentials, before any route: a refusal answers here.
    httplib::Server::HandlerResponse Guard(const httplib::Request& req, httplib::Response& res)
    {
        OnlyGzip(req);
        auto refuse = [&](int status, const std::string& why) {
            res.status = status;
            res.set_content(why + "\n", kText);
            return httplib::Server::HandlerResponse::Handled;
        };
        // Against DNS rebinding: a page of another site that resolves its name to us.
        if (std::find(hosts.begin(), hosts.end(), HostName(req.get_header_value("Host"))) == hosts.end())
            return refuse(421, "this server does not answer to that host name");
        // The ingest has its own credential (a station's token) and reads its bounded body
        // itself; a browser's Basic login is no credential there.
        if (req.path == kIngestPath) {
            if (req.method == "POST") return httplib::Server::HandlerResponse::Unhandled;
            res.set_header("Allow", "POST");
            res.status = 405;
            res.set_content(IngestError("the ingest only takes POST"), kJson);
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.method != "GET" && req.method != "HEAD") {
            res.set_header("Allow", "GET, HEAD");
            return refuse(405, "the line's page and API only take GET and HEAD");
        }
        // A GET carries no body; a chunked one would not be bounded by the library.
        if (req.has_header("Transfer-Encoding") ||
            (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0")) {
            res.set_header("Connection", "close");
            return refuse(413, "a request to the line's page and API carries no body");
        }
        std::string name, password;
        const auto now = std::chrono::steady_clock::now();
        if (!BasicCredentials(req.get_header_value("Authorization"), name, password)) {
            res.set_header("WWW-Authenticate", kRealm);
            return refuse(401, "log in with a torvane-line user's name and password");
        }
        if (users.Remembered(name, password, now)) return httplib::Server::HandlerResponse::Unhandled;
        if (const auto wait = throttle.WaitFor(req.remote_addr, now); wait.count() > 0) {
            res.set_header("Retry-After", std::to_string((wait.count() + 999) / 1000));
            return refuse(429, "too many failed logins: wait a moment");
        }
        std::string error;
        auto conn = readers.Take(error);
        if (!conn) return refuse(503, "the records server cannot be reached: " + error);
        conn->SetDeadline(now + std::chrono::seconds(kQuerySeconds));
        const CUserCheck::Verdict verdict = users.Verify(*conn, name, password, now);
        readers.Give(std::move(conn));
        if (verdict == CUserCheck::Verdict::NoUsers)
            return refuse(503, "no user may log in yet: add one with torvane-line user add");
        if (verdict == CUserCheck::Verdict::ServerDown)
            return refuse(503, "the records server cannot check the login now");
        if (verdict == CUserCheck::Verdict::Refused) {
            throttle.Failed(req.remote_addr, std::chrono::steady_clock::now());
            res.set_header("WWW-Authenticate", kRealm);
            return refuse(401, "wrong name or password");
        }
        throttle.Succeeded(req.remote_addr);
        return httplib::Server::HandlerResponse::Unhandled;
    }

    using TableQuery = std::function<bool(CPgConnection&, CLineTable&, std::string&)>;

    // The name of an answer kept for a moment: its table and filter, not its format.
    static std::string AnswerKey(const std::string& name, const httplib::Params& params)
    {
        std::string key = name;
        for (const auto& [param, value] : params)
            if (param != "format") key += "\x1f" + param + "\x1e" + value;
        return key;
    }

    // A query's answer with a reader connection, or its answer from the moment before
    // (one from before the last event too, unless afterEvents). badInput: the request's
    // fault, not the server's.
    bool Read(const std::string& key, const TableQuery& query, CLineTable& table, std::string& error,
              bool& badInput, std::chrono::milliseconds fresh = CLineTableCache::kFresh,
              bool afterEvents = true)
    {
        badInput = false;
        auto read = [&](CLineTable& answer, std::string& why) {
            auto conn = readers.Take(why);
            if (!conn) return false;
            conn->SetDeadline(std::chrono::steady_clock::now() + std::chrono::seconds(kQuerySeconds));
            const bool ok = query(*conn, answer, why);
            // A time PostgreSQL cannot read is the request's fault, not the server's.
            badInput = !ok && (why.find("invalid input") != std::string::npos ||
                               why.find("out of range") != std::string::npos);
            readers.Give(std::move(conn));
            return ok;
        };
        return answers.Answer(key, events.Latest(), std::chrono::steady_clock::now(), read, table, error,
                              fresh, afterEvents);
    }

    // Answers with a query's table (CSV with ?format=csv).
    void Table(const httplib::Request& req, httplib::Response& res, const std::string& name,
               const TableQuery& query)
    {
        bool badInput = false;
        std::string error;
        CLineTable table;
        const bool ok = Read(AnswerKey(name, req.params), query, table, error, badInput);
        if (badInput) {
            res.status = 400;
            res.set_content(error + "\n", kText);
            return;
        }
        if (!ok) {
            res.status = 503;
            res.set_content("the records server cannot answer: " + error + "\n", kText);
            return;
        }
        res.set_header("Cache-Control", "no-store");
        if (req.get_param_value("format") == "csv") {
            res.set_header("Content-Disposition", "attachment; filename=\"" + name + ".csv\"");
            res.set_content(table.Csv(), kCsv);
        } else {
            res.set_content(table.Json(), kJson);
        }
    }

    struct FirstQuery
    {
        const char* name;
        httplib::Params params;
        TableQuery query;
    };
    // Today's answers as the page's script asks for them first (the same kept answers).
    static const std::vector<FirstQuery>& FirstQueries()
    {
        static const CLineFilter today{};
        static const std::vector<FirstQuery> queries = {
            {"fixtures", {}, [](auto& c, auto& t, auto& e) { return Fixtures(c, t, e); }},
            {"alarms", {}, [](auto& c, auto& t, auto& e) { return Alarms(c, t, e); }},
            {"yields", {}, [](auto& c, auto& t, auto& e) { return Yields(c, today, t, e); }},
            {"cycle-times", {}, [](auto& c, auto& t, auto& e) { return CycleTimes(c, today, t, e); }},
            {"pareto",
             {{"by", "step"}},
             [](auto& c, auto& t, auto& e) { return Pareto(c, today, ParetoBy::Step, t, e); }},
        };
        return queries;
    }

    // An answer from before the last event will do: the page's stream, once open, reads
    // every answer again at once. Nor does the warmer chase events: a busy line's records
    // would have it query four times a second.
    std::optional<CLineTable> FirstAnswer(const FirstQuery& first, std::chrono::milliseconds fresh = kPageAge)
    {
        CLineTable table;
        std::string error;
        bool badInput = false;
        if (!Read(AnswerKey(first.name, first.params), first.query, table, error, badInput, fresh, false))
            return std::nullopt;
        return table;
    }

    // The page's first answers, read in parallel; one the server cannot read now is left out.
    CFirstAnswers FirstAnswers()
    {
        std::vector<std::future<std::optional<CLineTable>>> reads;
        for (const FirstQuery& first : FirstQueries())
            reads.push_back(std::async(std::launch::async, [this, &first] { return FirstAnswer(first); }));
        std::vector<std::optional<CLineTable>> got;
        for (auto& read : reads)
            got.push_back(read.get());
        return {got[0], got[1], got[2], got[3], got[4]};
    }

    // Keeps the page's first answers younger than a page takes them, one after another (the
    // page's own reads may run in parallel, these need not).
    void Warm()
    {
        std::unique_lock lock(warmMutex);
        auto next = std::chrono::steady_clock::now();
        while (!warmWake.wait_for(lock, kWarmTick, [this] { return warmStop; })) {
            const auto now = std::chrono::steady_clock::now();
            if (now < next) continue;
            lock.unlock();
            bool read = true;
            for (const FirstQuery& first : FirstQueries())
                read = FirstAnswer(first, kWarmAge).has_value() && read;
            lock.lock();
            // A records server that cannot answer is not asked four times a second.
            if (!read) next = now + CLineTableCache::kFresh;
        }
    }

    // The page, filled with today's answers: the browser's first frame shows the line
    // without waiting for the script and its reads. Sent whole: a browser given its head
    // first spends its first frame on the empty page and reads the rest only after it.
    void Page(httplib::Response& res)
    {
        static const std::string_view page = [] {
            for (const CPageAsset& asset : PageAssets())
                if (std::string_view(asset.path) == "/index.html") return asset.Content();
            return std::string_view();
        }();
        res.set_header("Cache-Control", "no-store");
        res.set_content(FillPage(page, FirstAnswers()), "text/html; charset=utf-8");
    }

    // POST /api/ingest: the token first, so nobody without one has a body kept, parsed or
    // stored; then the body, counted as it comes (a chunked one has no length to check first).
    void IngestRequest(const httplib::Request& req, httplib::Response& res,
                       const httplib::ContentReader& content)
    {
        auto answer = [&](int status, const std::string& body) {
            res.status = status;
            res.set_content(body, kJson);
        };
        // A refusal before the body: a client reads its answer only once it has sent its
        // body, so a body within the limit is read and dropped; a larger one is left unread
        // and the connection closed.
        auto refuse = [&](int status, const std::string& body) {
            const std::string length = req.get_header_value("Content-Length");
            bool drained = false;
            if (length.empty() || std::strtoull(length.c_str(), nullptr, 10) <= kLargestIngestBody) {
                size_t seen = 0;
                drained = content([&](const char*, size_t size) {
                    seen += size;
                    return seen <= kLargestIngestBody;
                });
            }
            if (!drained) res.set_header("Connection", "close");
            answer(status, body);
        };
        if (settings.ingestServer.empty())
            return refuse(503,
                          IngestError("this line server takes no ingest: serve it with --ingest-server"));
        std::string token;
        if (!BearerToken(req.get_header_value("Authorization"), token)) {
            res.set_header("WWW-Authenticate", "Bearer");
            return refuse(401, IngestError("send the station's token: Authorization: Bearer TOKEN"));
        }
        const auto now = std::chrono::steady_clock::now();
        if (const auto wait = throttle.WaitFor(req.remote_addr, now); wait.count() > 0) {
            res.set_header("Retry-After", std::to_string((wait.count() + 999) / 1000));
            return refuse(429, IngestError("too many unknown tokens: wait a moment"));
        }
        std::string error, station;
        auto conn = writers.Take(error);
        if (!conn) return refuse(503, IngestError("the records server cannot be reached: " + error));
        conn->SetDeadline(now + std::chrono::seconds(kIngestSeconds));
        const std::string sha256 = TokenSha256(token);
        TokenVerdict verdict = TokenVerdict::Known;
        if (!tokens.Find(sha256, now, station)) {
            verdict = StationOfToken(*conn, token, station, error);
            if (verdict == TokenVerdict::ServerDown && !conn->Connected()) {
                // A kept connection the server dropped meanwhile (a restart): one new try.
                conn = writers.Take(error);
                if (!conn) return refuse(503, IngestError("the records server cannot be reached: " + error));
                conn->SetDeadline(now + std::chrono::seconds(kIngestSeconds));
                verdict = StationOfToken(*conn, token, station, error);
            }
            if (verdict == TokenVerdict::Known) tokens.Remember(sha256, station, now);
        }
        if (verdict != TokenVerdict::Known) {
            writers.Give(std::move(conn));
            if (verdict == TokenVerdict::ServerDown)
                return refuse(503, IngestError("the records server cannot check the token now: " + error));
            throttle.Failed(req.remote_addr, std::chrono::steady_clock::now());
            res.set_header("WWW-Authenticate", "Bearer error=\"invalid_token\"");
            return refuse(401, IngestError("unknown or revoked token"));
        }
        throttle.Succeeded(req.remote_addr);
        std::string body;
        // Its told length at once (within the limit), not grown and copied as it comes.
        body.reserve(std::min<size_t>(
            std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10), kLargestIngestBody));
        bool tooLarge = false;
        const bool read = content([&](const char* data, size_t size) {
            if (body.size() + size > kLargestIngestBody) {
                tooLarge = true;
                return false;
            }
            body.append(data, size);
            return true;
        });
        if (tooLarge || res.status == 413) {
            writers.Give(std::move(conn));
            res.set_header("Connection", "close"); // the rest of the body is not read
            return answer(413, IngestError("a batch is at most " + std::to_string(kLargestIngestBody) +
                                           " bytes: send fewer rows at a time"));
        }
        if (!read) {
            writers.Give(std::move(conn));
            res.set_header("Connection", "close");
            return answer(400, IngestError("the body could not be read"));
        }
        CIngestAnswer result = Ingest(*conn, station, body);
        if (result.status == 503 && !conn->Connected()) {
            // A kept connection the server dropped meanwhile, found only now when the token
            // was known without asking it: one new try (a replay stores nothing twice).
            conn = writers.Take(error);
            if (!conn) return answer(503, IngestError("the records server cannot be reached: " + error));
            conn->SetDeadline(now + std::chrono::seconds(kIngestSeconds));
            result = Ingest(*conn, station, body);
        }
        writers.Give(std::move(conn));
        answer(result.status, result.body);
    }

    void Routes()
    {
        http->Post(kIngestPath,
                   [this](const httplib::Request& req, httplib::Response& res,
                          const httplib::ContentReader& content) { IngestRequest(req, res, content); });
        http->set_pre_routing_handler([this](const auto& req, auto& res) { return Guard(req, res); });
        http->Get("/", [this](const httplib::Request&, httplib::Response& res) { Page(res); });
        http->Get("/index.html", [this](const httplib::Request&, httplib::Response& res) { Page(res); });
        // A panel's view to send to a colleague: the page, which reads the serial from its address.
        http->Get(R"(/trace/.+)", [this](const httplib::Request&, httplib::Response& res) { Page(res); });
        for (const CPageAsset& asset : PageAssets()) {
            const CPageAsset* a = &asset;
            if (std::string_view(a->path) == "/index.html") continue;
            // A page opened again asks whether its style and script changed and gets a 304:
            // they change only with the program, and their tag is their hash.
            std::string tag = "\"";
            tag.append(TokenSha256(std::string(a->Content())).substr(0, 32)).append("\"");
            auto serve = [a, tag](const httplib::Request& req, httplib::Response& res) {
                res.set_header("Cache-Control", "no-cache");
                res.set_header("ETag", tag);
                if (req.get_header_value("If-None-Match") == tag) {
                    res.status = 304;
                    return;
                }
                res.set_content(std::string(a->Content()), ContentType(a->path));
            };
            http->Get(a->path, serve);
        }
        auto filter = [](const httplib::Request& req) {
            return CLineFilter{Param(req, "since"), Param(req, "until"), Param(req, "tag"),
                               Param(req, "file")};
        };
        http->Get("/api/yields", [this, filter](const auto& req, auto& res) {
            Table(req, res, "yields",
                  [&](auto& c, auto& t, auto& e) { return Yields(c, filter(req), t, e); });
        });
        http->Get("/api/cycle-times", [this, filter](const auto& req, auto& res) {
            Table(req, res, "cycle-times",
                  [&](auto& c, auto& t, auto& e) { return CycleTimes(c, filter(req), t, e); });
        });
        http->Get("/api/pareto", [this, filter](const auto& req, auto& res) {
            ParetoBy by = ParetoBy::Step;
            if (req.has_param("by") && !ParetoByName(req.get_param_value("by"), by)) {
                res.status = 400;
                res.set_content("by takes step, reason, fixture, loader or file\n", kText);
                return;
            }
            Table(req, res, "pareto",
                  [&](auto& c, auto& t, auto& e) { return Pareto(c, filter(req), by, t, e); });
        });
        http->Get("/api/fixtures", [this](const auto& req, auto& res) {
            Table(req, res, "fixtures", [&](auto& c, auto& t, auto& e) { return Fixtures(c, t, e); });
        });
        http->Get("/api/alarms", [this](const auto& req, auto& res) {
            Table(req, res, "alarms", [&](auto& c, auto& t, auto& e) { return Alarms(c, t, e); });
        });
        http->Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
            // Each stream holds a thread until its page closes: the plain requests keep theirs.
            if (++events.streams > static_cast<int>(kStreamThreads)) {
                --events.streams;
                res.status = 503;
                res.set_header("Retry-After", "10");
                res.set_content("too many pages are open: this one reads the API now and then instead\n",
                                kText);
                return;
            }
            res.set_header("Cache-Control", "no-store");
            auto after = std::make_shared<uint64_t>(events.Latest());
            res.set_chunked_content_provider(
                "text/event-stream",
                [this, after](size_t offset, httplib::DataSink& sink) {
                    // The first write opens the page's stream at once; a lost stream is
                    // tried again soon.
                    std::string text = offset == 0 ? "retry: 2000\n\n" : "";
                    if (offset != 0) {
                        text = events.Next(*after, std::chrono::steady_clock::time_point::max());
                        if (text.empty()) return false; // the server stops
                    }
                    return sink.is_writable() && sink.write(text.data(), text.size());
                },
                [this](bool) { --events.streams; });
        });
        http->Get("/api/trace", [this](const auto& req, auto& res) {
            const std::string key = req.get_param_value("key");
            if (key.empty()) {
                res.status = 400;
                res.set_content("give a serial or a record id: /api/trace?key=...\n", kText);
                return;
            }
            Table(req, res, "trace", [&](auto& c, auto& t, auto& e) { return Trace(c, key, t, e); });
        });
        http->Get("/metrics", [this](const auto&, auto& res) {
            std::string error, text;
            auto conn = readers.Take(error);
            if (conn) {
                conn->SetDeadline(std::chrono::steady_clock::now() + std::chrono::seconds(kQuerySeconds));
                if (MetricsText(*conn, text, error)) {
                    readers.Give(std::move(conn));
                    res.set_content(text, kMetrics);
                    return;
                }
            }
            res.status = 503;
            res.set_content("the records server cannot answer: " + error + "\n", kText);
        });
        http->set_error_handler([](const auto&, auto& res) {
            if (res.body.empty()) res.set_content("HTTP status " + std::to_string(res.status) + "\n", kText);
        });
    }
};

CLineServer::CLineServer(CLineServerSettings settings) : m_impl(std::make_unique<Impl>(std::move(settings)))
{
}

CLineServer::~CLineServer() = default;

bool CLineServer::Bind(std::string& error)
{
    Impl& d = *m_impl;
    if (const std::string refused = RefuseSettings(d.settings); !refused.empty()) {
        error = refused;
        return false;
    }
    if (d.settings.tlsCert.empty()) {
        d.http = std::make_unique<httplib::Server>();
    } else {
        auto tls =
            std::make_unique<httplib::SSLServer>(d.settings.tlsCert.c_str(), d.settings.tlsKey.c_str());
        if (!tls->is_valid()) {
            error = "cannot use the certificate " + d.settings.tlsCert + " with the key " + d.settings.tlsKey;
            return false;
        }
        SSL_CTX_set_min_proto_version(tls->ssl_context(), TLS1_2_VERSION);
        d.http = std::move(tls);
    }
    d.http->new_task_queue = [] { return new httplib::ThreadPool(kRequestThreads + kStreamThreads); };
    // Only the ingest reads a body (the page and API refuse one before it is read).
    d.http->set_payload_max_length(kLargestIngestBody);
    // An answer goes out as headers and body: without this the body waits for the
    // client's delayed acknowledgement of the headers (tens of milliseconds per request).
    d.http->set_tcp_nodelay(true);
    // The library closes a kept connection after five requests by default: a station
    // sending after every panel then pays a TLS handshake for every fifth record, which
    // costs the server more than the records. An idle one still closes after the time-out.
    d.http->set_keep_alive_max_count(kKeptAliveRequests);
    d.http->set_read_timeout(10);
    d.http->set_write_timeout(10);
    d.http->set_default_headers({{"Content-Security-Policy", "default-src 'self'"},
                                 {"X-Content-Type-Options", "nosniff"},
                                 {"X-Frame-Options", "DENY"},
                                 {"Referrer-Policy", "no-referrer"}});
    d.Routes();
    std::string address;
    SplitListen(d.settings.listen, address, d.port);
    if (d.port == 0) {
        d.port = d.http->bind_to_any_port(address);
        if (d.port < 0) d.port = 0;
    } else if (!d.http->bind_to_port(address, d.port)) {
        d.port = 0;
    }
    if (d.port == 0) error = "cannot listen on " + d.settings.listen;
    return d.port != 0;
}

int CLineServer::Port() const
{
    return m_impl->port;
}

bool CLineServer::Run()
{
    if (!m_impl->http) return false;
    Impl& d = *m_impl;
    d.events.Start();
    std::thread open([&d] { d.readers.Open(kPageFirstReads); });
    std::thread warm([&d] { d.Warm(); });
    const bool served = d.http->listen_after_bind();
    open.join();
    {
        std::lock_guard lock(d.warmMutex);
        d.warmStop = true;
    }
    d.warmWake.notify_all();
    warm.join();
    return served;
}

void CLineServer::Stop()
{
    // The streams end first: each waits for the next event on a thread the server joins.
    m_impl->events.Stop();
    if (m_impl->http) m_impl->http->stop();
}

} // namespace line
