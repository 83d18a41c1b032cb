// torvane-bench-records: a synthetic journal, and a command timed with its peak memory.
//   torvane-bench-records journal FILE COUNT   a new journal of COUNT finished attempts
//   torvane-bench-records run PROGRAM ARGS...  runs it, reads its standard output to the
//                                              end; prints seconds, cpu_seconds, peak_kb,
//                                              bytes, lines
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sqlite3.h>

#include "records/RecordStore.h"

extern char** environ;

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: torvane-bench-records journal FILE COUNT | run PROGRAM ARGS...\n");
    return 2;
}

// Rows as a station writes them: four ports, 100 days, a pass in most, every outcome,
// three messages, a serial, a tag and a digest.
constexpr char kFill[] = R"(
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < ?1)
INSERT INTO attempt (id, started_utc, ended_utc, host, user, process_id, process_start, tool_version,
    port, device, command, file_name, file_size, file_sha256, pages_sent, baud_rate, page_pause_ms,
    loader_version, serial_hex, serial_text, id_check, erase_result, program_result, verify_result,
    outcome, exit_code, messages, duration_ms, tag, station_run, revision, sent_revision, local_day)
SELECT printf('%08x-0000-4000-8000-%012x', i, i),
    strftime('%Y-%m-%dT%H:%M:%fZ', '2026-09-01', printf('+%d seconds', i * 8)),
    strftime('%Y-%m-%dT%H:%M:%fZ', '2026-09-01', printf('+%d seconds', i * 8 + 18)),
    'line-pc-3', 'operator', 4000 + i % 4, '1765281961', '1.0.0',
    'COM' || (1 + i % 4), '/dev/ttyUSB' || (i % 4), 'station', '/srv/upgrades/panel-upgrade-2.4.mot',
    131072, 'c0ffee0123456789abcdef0123456789abcdef0123456789abcdef0123456789', 256, 115200, 20,
    'BL V2.10', printf('%016X', i), printf('SN%08d', i), 'ok',
    CASE WHEN i % 50 = 7 THEN 'stopped' ELSE 'ok' END,
    CASE i % 50 WHEN 7 THEN NULL WHEN 3 THEN 'failed' ELSE 'ok' END,
    CASE WHEN i % 50 IN (3, 7) THEN NULL ELSE 'ok' END,
    CASE i % 50 WHEN 3 THEN 'fail' WHEN 7 THEN 'stopped' WHEN 11 THEN 'unchanged' ELSE 'pass' END,
    CASE i % 50 WHEN 3 THEN 9 WHEN 7 THEN 130 ELSE 0 END,
    'Erase OK.' || char(10) || 'Program OK.' || char(10) || 'Verify OK.', 17800 + i % 900,
    'WO-' || (i / 1000), printf('run-%d', i / 5000), 2, 0,
    date('2026-09-01', printf('+%d seconds', i * 8), 'localtime')
FROM n;
)";

int Journal(const std::string& path, long count)
{
    std::string error;
    if (!CRecordStore::Open(platform::CPath::FromUtf8(path), RecordsFile::Named, error)) {
        std::fprintf(stderr, "torvane-bench-records: %s\n", error.c_str());
        return 1;
    }
    sqlite3* db = nullptr;
    sqlite3_stmt* fill = nullptr;
    const bool done = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                      sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK &&
                      sqlite3_prepare_v2(db, kFill, -1, &fill, nullptr) == SQLITE_OK &&
                      sqlite3_bind_int64(fill, 1, count) == SQLITE_OK && sqlite3_step(fill) == SQLITE_DONE &&
                      sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!done) std::fprintf(stderr, "torvane-bench-records: %s\n", sqlite3_errmsg(db));
    sqlite3_finalize(fill);
    sqlite3_close(db);
    return done ? 0 : 1;
}

int Run(char** argv)
{
    int out[2];
    if (pipe(out) != 0) return 1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        std::fprintf(stderr, "torvane-bench-records: cannot run %s\n", argv[0]);
        return 1;
    }
    static char buffer[1 << 16];
    long long bytes = 0, lines = 0;
    for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;) {
        bytes += got;
        for (ssize_t i = 0; i < got; ++i)
            lines += buffer[i] == '\n';
    }
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("seconds=%.3f\ncpu_seconds=%.3f\npeak_kb=%ld\nbytes=%lld\nlines=%lld\nexit=%d\n", seconds, cpu,
                usage.ru_maxrss, bytes, lines, WIFEXITED(status) ? WEXITSTATUS(status) : 128);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "journal") return Journal(argv[2], std::atol(argv[3]));
    if (argc >= 3 && std::string(argv[1]) == "run") return Run(argv + 2);
    return Usage();
}
