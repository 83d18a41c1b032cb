// The line server's ingest under load, driven by bench/ingest:
//   init DB_URL                   the records' schema, as records --init-server makes it
//   stations DB_URL COUNT         adds COUNT stations (bench-01...), prints "name token" lines
//   send PORT CA_FILE TOKENS_FILE REQUESTS BATCH FIRST
//                                 each station of TOKENS_FILE on its own thread and HTTPS
//                                 connection sends REQUESTS batches of BATCH new attempts
//                                 (numbered from FIRST) and its
//                                 fixture's state), as fast as the server acknowledges; prints
//                                 the records, the seconds, the request times' percentiles
//                                 and its own CPU seconds
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <httplib.h>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "bench/ProcessCpu.h"
#include "line/LineStations.h"
#include "records/AttemptFormats.h"
#include "records/server/PgConnection.h"
#include "records/server/ServerRecords.h"

namespace {

using Clock = std::chrono::steady_clock;

int Init(const std::string& url)
{
    CPgConnection conn;
    std::string error, done;
    if (!conn.Connect(url, error) || !records_server::InitSchema(conn, done, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}

int Stations(const std::string& url, int count)
{
    CPgConnection conn;
    std::string error;
    if (!conn.Connect(url, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    for (int i = 1; i <= count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "bench-%02d", i);
        std::string token;
        if (!line::AddStation(conn, name, token, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::printf("%s %s\n", name, token.c_str());
    }
    return 0;
}

std::string Id(int station, int64_t n)
{
    char id[40];
    std::snprintf(id, sizeof id, "%08x-0000-4000-8000-%012lld", station, static_cast<long long>(n));
    return id;
}

nlohmann::json Attempt(const std::string& host, int station, int64_t n)
{
    CAttempt a;
    a.id = Id(station, n);
    a.startedUtc = "2026-12-10T08:00:00.000Z";
    a.endedUtc = "2026-12-10T08:00:41.000Z";
    a.host = host;
    a.user = "line";
    a.processId = 4242;
    a.toolVersion = "1.0.0";
    a.command = "station";
    a.port = "COM" + std::to_string(n % 4 + 1);
    a.fileName = "C:\\line\\panel-upgrade.mot";
    a.fileSize = 262144;
    a.fileSha256 = std::string(64, 'c');
    a.tag = "bench";
    a.outcome = outcome::kPass;
    a.exitCode = 0;
    a.pagesSent = 512;
    a.durationMs = 41000;
    a.serialText = "PNL-" + std::to_string(station) + "-" + std::to_string(n);
    a.messages = {"ID check OK.", "Erase OK.", "Program OK.", "Verify OK."};
    a.revision = 2;
    return nlohmann::json::parse(AttemptJson(a).dump());
}

int Send(int port, const std::string& ca, const std::string& tokensFile, int requests, int batch,
         int64_t first)
{
    std::vector<std::pair<std::string, std::string>> stations;
    std::ifstream in(tokensFile);
    for (std::string name, token; in >> name >> token;)
        stations.emplace_back(name, token);
    std::mutex mutex;
    std::vector<double> times; // milliseconds per request
    int64_t acknowledged = 0, failed = 0;
    const auto start = Clock::now();
    const double cpuBefore = bench::ProcessCpu().Total();
    std::vector<std::thread> threads;
    for (size_t s = 0; s < stations.size(); ++s) {
        threads.emplace_back([&, s] {
            httplib::SSLClient client("127.0.0.1", port);
            client.set_ca_cert_path(ca.c_str());
            client.enable_server_certificate_verification(true);
            client.set_bearer_token_auth(stations[s].second);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            std::vector<double> mine;
            int64_t ok = 0, bad = 0;
            for (int r = 0; r < requests; ++r) {
                nlohmann::json body = {{"version", 1}, {"attempts", nlohmann::json::array()}};
                for (int b = 0; b < batch; ++b)
                    body["attempts"].push_back(
                        Attempt(stations[s].first, static_cast<int>(s) + 1, first + int64_t(r) * batch + b));
                body["states"] = {{{"fixture", "COM1"},
                                   {"state", "programming"},
                                   {"detail", "programming " + std::to_string(r % 512) + "/512"},
                                   {"step", "program"},
                                   {"pages_done", r % 512},
                                   {"pages_total", 512},
                                   {"seconds_left", nullptr},
                                   {"fail_reason", ""},
                                   {"last_panel", ""}}};
                const auto sent = Clock::now();
                auto res = client.Post("/api/ingest", body.dump(), "application/json");
                mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                if (!res || res->status != 200) {
                    if (bad++ == 0)
                        std::fprintf(stderr, "%s: %s\n", stations[s].first.c_str(),
                                     res ? (std::to_string(res->status) + " " + res->body).c_str()
                                         : httplib::to_string(res.error()).c_str());
                    continue;
                }
                const nlohmann::json answer = nlohmann::json::parse(res->body);
                for (const auto& result : answer["results"])
                    (result.contains("ok") ? ok : bad) += 1;
            }
            std::lock_guard lock(mutex);
            times.insert(times.end(), mine.begin(), mine.end());
            acknowledged += ok;
            failed += bad;
        });
    }
    for (std::thread& t : threads)
        t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(times.begin(), times.end());
    auto at = [&](double q) {
        return times.empty() ? 0.0 : times[static_cast<size_t>(q * (times.size() - 1))];
    };
    // The stations' own CPU: they share the machine with the server and its database.
    std::printf("%lld %lld %.3f %.1f %.1f %.1f %.2f\n", static_cast<long long>(acknowledged),
                static_cast<long long>(failed), seconds, at(0.5), at(0.9), at(0.99),
                bench::ProcessCpu().Total() - cpuBefore);
    return failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "init" && argc == 3) return Init(argv[2]);
    if (mode == "stations" && argc == 4) return Stations(argv[2], std::atoi(argv[3]));
    if (mode == "send" && argc == 8)
        return Send(std::atoi(argv[2]), argv[3], argv[4], std::atoi(argv[5]), std::atoi(argv[6]),
                    std::atoll(argv[7]));
    std::fprintf(stderr, "usage: init DB_URL | stations DB_URL COUNT |"
                         " send PORT CA_FILE TOKENS_FILE REQUESTS BATCH FIRST\n");
    return 2;
}
