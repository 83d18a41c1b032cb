#include "cli/StationCommand.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <regex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/CommandRecords.h"
#include "cli/ExitCode.h"
#include "cli/RecordsServer.h"
#include "cli/Session.h"
#include "cli/StationPort.h"
#include "records/RecordStore.h"
#include "records/RecordTime.h"
#include "image/MotFile.h"
#include "platform/ChildProcesses.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/OutputFile.h"
#include "platform/Paths.h"
#include "platform/ProfileIni.h"
#include "platform/ShownText.h"

#ifdef _WIN32
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#else
#include <filesystem>
#include <poll.h>
#include <unistd.h>
#endif

namespace {

// The row's and the record's words for a fixture whose process died.
constexpr char kProcessEnded[] = "fixture process ended";
// A fixture process that ends at once is not started again in a tight loop.
constexpr uint32_t kRestartGap = 1000;

const std::vector<uint32_t> kRates = {9600, 19200, 38400, 57600, 115200};
// The page pauses the "Set baudrate" dialog offers, as `program` takes them.
const std::vector<uint32_t> kPagePauses = {5, 10, 15, 20, 25, 30, 35, 40, 45, 50};

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
    return text;
}

bool ParseSwitch(std::string text, bool& value)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    if (text == "on" || text == "yes" || text == "true" || text == "1") return value = true, true;
    if (text == "off" || text == "no" || text == "false" || text == "0") return value = false, true;
    return false;
}

std::string MinutesSeconds(double seconds)
{
    const int whole = static_cast<int>(std::lround(std::max(0.0, seconds)));
    char text[16];
    std::snprintf(text, sizeof text, "%d:%02d", whole / 60, whole % 60);
    return text;
}

// The next line on standard input. Only what has arrived is taken, so no read ever waits
// for the rest of a line: a stop (Ctrl-C, SIGTERM) ends the wait even with half a line typed.
bool ReadScannedLine(std::string& line)
{
#ifndef _WIN32
    static std::string pending;
    for (;;) {
        if (platform::InterruptCount() > 0) return false;
        if (const size_t feed = pending.find('\n'); feed != std::string::npos) {
            line = pending.substr(0, feed);
            pending.erase(0, feed + 1);
            break;
        }
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (poll(&input, 1, 200) <= 0) continue;
        char chunk[256];
        const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) {
            // The end of the input: a last line without its line feed still counts.
            if (pending.empty()) return false;
            line.swap(pending);
            pending.clear();
            break;
        }
        pending.append(chunk, static_cast<size_t>(got));
    }
#else
    // A console's read takes no time limit: a reader thread waits for whole lines and this
    // one waits for the reader or a stop. The thread shares the queue, so neither outlives it.
    struct Scanned
    {
        std::mutex mutex;
        std::condition_variable arrived;
        std::deque<std::string> lines;
        bool ended = false;
    };
    static const std::shared_ptr<Scanned> scanned = [] {
        auto queue = std::make_shared<Scanned>();
        std::thread([queue] {
            for (std::string text; std::getline(std::cin, text);) {
                const std::lock_guard lock(queue->mutex);
                queue->lines.push_back(std::move(text));
                queue->arrived.notify_one();
            }
            const std::lock_guard lock(queue->mutex);
            queue->ended = true;
            queue->arrived.notify_one();
        }).detach();
        return queue;
    }();
    std::unique_lock lock(scanned->mutex);
    for (;;) {
        if (platform::InterruptCount() > 0) return false;
        if (!scanned->lines.empty()) {
            line = std::move(scanned->lines.front());
            scanned->lines.pop_front();
            break;
        }
        if (scanned->ended) return false;
        scanned->arrived.wait_for(lock, std::chrono::milliseconds(200));
    }
#endif
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// The table, the lines or the events of a station, fed with its children's events.
class CStationBoard
{
public:
    CStationBoard(const std::vector<std::string>& ports, OutputMode mode, bool terminal, bool colour,
                  std::ostream& out)
        : m_ports(ports), m_rows(ports.size()), m_mode(mode), m_terminal(terminal), m_colour(colour),
          m_out(out), m_started(GetTickCount())
    {
        for (const std::string& port : ports)
            m_labelWidth = std::max(m_labelWidth, port.size());
        m_labelWidth = std::max<size_t>(m_labelWidth, 5);
        if (m_terminal) Draw();
    }

    // What the line's records server still lacks, on the total line ("" when nothing).
    void SetBacklog(const std::string& text)
    {
        if (text == m_backlog) return;
        m_backlog = text;
        if (m_terminal)
            Draw();
        else if (m_mode == OutputMode::Json)
            m_out << nlohmann::json{{"event", "records"}, {"backlog", text}}.dump(
                         -1, ' ', false, nlohmann::json::error_handler_t::replace)
                  << '\n'
                  << std::flush;
        else if (!text.empty())
            m_out << ClockNow() << "  " << platform::ShownText(text) << '\n' << std::flush;
    }

    // The attempt a fixture has begun and not yet ended, if any.
    const std::string& OpenAttempt(size_t i) const { return m_rows[i].attempt; }

    // A fixture's process ended while the station runs: its panel's attempt, if one was
    // open, is a failure, and the row says so instead of staying on "programming".
    void ChildEnded(size_t i)
    {
        Row& row = m_rows[i];
        if (!row.attempt.empty()) {
            ++row.failed;
            row.last = ClockNow();
        }
        // The next process of this fixture counts from zero again.
        row.basePassed = row.passed;
        row.baseFailed = row.failed;
        row.key.clear();
        OnEvent(i, {{"event", "state"}, {"state", "fail"}, {"text", "FAIL: " + std::string(kProcessEnded)}});
    }

    void OnEvent(size_t i, const nlohmann::json& event)
    {
        Row& row = m_rows[i];
        const std::string kind = event.value("event", "");
        std::string key;
        if (kind == "attempt") {
            row.attempt = event.value("id", "");
            return;
        }
        if (kind == "state") {
            key = event.value("state", "");
            if (key == "pass" || key == "fail" || key == "stopped") row.attempt.clear();
            row.text = event.value("text", "");
            if (event.contains("passed")) row.passed = row.basePassed + event["passed"].get<int>();
            if (event.contains("failed")) row.failed = row.baseFailed + event["failed"].get<int>();
            if (event.contains("last")) row.last = event["last"];
            row.kind = key;
        } else if (kind == "progress") {
            const std::string operation = event.value("operation", "");
            const std::string name = operation == "Program"  ? "programming"
                                     : operation == "Verify" ? "verifying"
                                     : operation == "Read"   ? "reading the backup"
                                                             : "comparing";
            key = name;
            row.text = name + " " + std::to_string(event.value("pages_done", 0)) + "/" +
                       std::to_string(event.value("pages_total", 0)) + ", " +
                       MinutesSeconds(event.value("seconds_left", 0.0)) + " left";
            row.kind = "busy";
        } else {
            return;
        }
        const bool changed = key != row.key;
        row.key = key;
        if (m_terminal) {
            Draw();
        } else if (changed && m_mode == OutputMode::Json) {
            nlohmann::json tagged =
                kind == "state" ? event : nlohmann::json{{"event", "state"}, {"state", key}};
            tagged["port"] = m_ports[i];
            if (kind != "state") tagged["text"] = key;
            if (kind == "state") tagged["passed"] = row.passed, tagged["failed"] = row.failed;
            m_out << tagged.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n'
                  << std::flush;
        } else if (changed) {
            m_out << ClockNow() << "  " << platform::ShownText(m_ports[i]) << ": "
                  << platform::ShownText(kind == "state" ? row.text : key) << '\n'
                  << std::flush;
        }
    }

    void Summary(const std::vector<int>& codes, const std::string& run)
    {
        if (m_terminal) Draw();
        int passed = 0, failed = 0;
        for (const Row& row : m_rows) {
            passed += row.passed;
            failed += row.failed;
        }
        const bool recorded = std::all_of(codes.begin(), codes.end(), [](int code) {
            return code == 0 || code == static_cast<int>(ExitCode::PortInUse);
        });
        if (m_mode == OutputMode::Json) {
            nlohmann::json ports = nlohmann::json::array();
            for (size_t i = 0; i < m_rows.size(); ++i)
                ports.push_back({{"port", m_ports[i]},
                                 {"passed", m_rows[i].passed},
                                 {"failed", m_rows[i].failed},
                                 {"all_recorded", i < codes.size() && codes[i] == 0},
                                 {"exit_code", i < codes.size() ? codes[i] : -1}});
            m_out << nlohmann::json{{"event", "summary"},        {"station_run", run},
                                    {"passed", passed},          {"failed", failed},
                                    {"panels_per_hour", Rate()}, {"ports", ports},
                                    {"all_recorded", recorded}}
                         .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                  << '\n';
        } else {
            m_out << "station stopped (run " << run << ")\n";
            for (size_t i = 0; i < m_rows.size(); ++i)
                m_out << "  " << Label(platform::ShownText(m_ports[i])) << m_rows[i].passed << " passed, "
                      << m_rows[i].failed << " failed"
                      << (i >= codes.size() || codes[i] == 0                  ? ""
                          : codes[i] == static_cast<int>(ExitCode::PortInUse) ? ", port in use"
                          : codes[i] == static_cast<int>(ExitCode::FileRefused)
                              ? ", file refused"
                              : ", not every attempt recorded")
                      << '\n';
            m_out << "  " << Label("total") << passed << " passed, " << failed << " failed, " << Rate()
                  << " panels per hour\n";
        }
        m_out.flush();
    }

private:
    struct Row
    {
        std::string text = "starting", key, kind, last = "-";
        std::string attempt;
        int basePassed = 0, baseFailed = 0;
        int passed = 0, failed = 0;
    };

    static std::string ClockNow()
    {
        const std::string local = records::LocalText(records::NowMs());
        return local.size() >= 19 ? local.substr(11, 8) : local;
    }

    std::string Label(const std::string& text) const
    {
        std::string label = text;
        label.resize(std::max(m_labelWidth, text.size()), ' ');
        return label + "  ";
    }

    int Rate() const
    {
        int panels = 0;
        for (const Row& row : m_rows)
            panels += row.passed + row.failed;
        const double hours = (GetTickCount() - m_started) / 3600000.0;
        return hours > 0 ? static_cast<int>(std::lround(panels / hours)) : 0;
    }

    std::string Line(const std::string& label, std::string state, const std::string& kind, int passed,
                     int failed, const std::string& last) const
    {
        const size_t stateWidth = 40;
        state = platform::ShownText(state);
        if (state.size() > stateWidth) state = state.substr(0, stateWidth - 3) + "...";
        std::string padded = state;
        padded.resize(stateWidth, ' ');
        if (m_colour && kind == "pass") padded = "\x1b[32m" + padded + "\x1b[0m";
        if (m_colour && kind == "fail") padded = "\x1b[31m" + padded + "\x1b[0m";
        char counts[64];
        std::snprintf(counts, sizeof counts, "%6d  %6d  ", passed, failed);
        return Label(platform::ShownText(label)) + padded + counts + platform::ShownText(last);
    }

    void Draw()
    {
        if (m_drawn) m_out << "\x1b[" << (m_rows.size() + 3) << "A";
        m_out << '\r' << Label("PORT") << "STATE                                   PASSED  FAILED  LAST"
              << "\x1b[K\n";
        int passed = 0, failed = 0;
        for (size_t i = 0; i < m_rows.size(); ++i) {
            const Row& row = m_rows[i];
            passed += row.passed;
            failed += row.failed;
            m_out << '\r' << Line(m_ports[i], row.text, row.kind, row.passed, row.failed, row.last)
                  << "\x1b[K\n";
        }
        m_out << '\r' << Line("total", "", "", passed, failed, std::to_string(Rate()) + " panels/h")
              << "\x1b[K\n";
        // The records' line below the table, whole up to the terminal's width: it names the
        // rows set aside by their ids.
        std::string backlog = platform::ShownText(m_backlog);
        const size_t width =
            static_cast<size_t>(std::max(platform::TerminalWidth(platform::ConsoleStream::Output), 20));
        if (backlog.size() > width - 1) backlog = backlog.substr(0, width - 4) + "...";
        m_out << '\r' << backlog << "\x1b[K\n";
        m_out.flush();
        m_drawn = true;
    }

    const std::vector<std::string>& m_ports;
    std::vector<Row> m_rows;
    OutputMode m_mode;
    bool m_terminal, m_colour;
    std::ostream& m_out;
    std::string m_backlog;
    uint32_t m_started;
    size_t m_labelWidth = 0;
    bool m_drawn = false;
};

// One port's loop in this process (a station's child), its events on standard output.
int RunStationChild(CliOptions& options, StationOptions& station, std::ostream& out, std::ostream& err)
{
    CCommandRecords records;
    if (!records.Open(options.records, err, CCommandRecords::Default::Required))
        return static_cast<int>(ExitCode::Failed);
    platform::CatchInterrupts(static_cast<int>(ExitCode::Stopped));
    platform::WatchParent();
    CStationPort port(options, station.backupDir, records.Enabled() ? &records : nullptr,
                      [&out](const nlohmann::json& event) {
                          out << event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n'
                              << std::flush;
                          // Nobody reads the events any more: the station is gone.
                          if (!out) {
                              out.clear();
                              platform::NoteStopRequest();
                          }
                      });
    if (station.scan) port.nextSerial = ReadScannedLine;
    port.waitUntilGoneFirst = station.restarted;
    return port.Run();
}

} // namespace

void AddProductionOptions(CLI::App* command, CliOptions& options, std::string& serialAt)
{
    command
        ->add_option(
            "--expect-sha256", options.expectSha256,
            "refuse the upgrade file unless its SHA-256 is HEX (a file swapped or edited is never flashed)")
        ->check(
            [](const std::string& text) {
                static const std::regex form("^[0-9A-Fa-f]{64}$");
                return std::regex_match(text, form) ? std::string() : std::string("64 hex digits expected");
            },
            "HEX");
    command->add_option("--serial-at", serialAt,
                        "read LEN bytes at ADDR (hex, outside 0F0000-0FFFFF) before the erase and keep them "
                        "with the record: the panel's serial number");
    AddBaseOption(command, options);
    command
        ->add_option("--trusted-key", options.trustedKeys,
                     "accept FILE only with FILE.sig signed by this public key (PEM, ECDSA P-256); "
                     "repeat for several keys")
        ->type_name("KEY.pem");
    command
        ->add_option("--pre-check", options.preCheck,
                     "run CMD before each erase with the panel as JSON on its input; any exit but 0 "
                     "refuses the panel")
        ->type_name("CMD");
    command
        ->add_option("--on-result", options.onResult,
                     "run CMD after each attempt with its record as JSON on its input")
        ->type_name("CMD");
    command
        ->add_option("--hook-timeout", options.hookTimeoutSeconds,
                     "seconds a --pre-check or --on-result command may take (default 10)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1, 3600));
}

void AddBaseOption(CLI::App* command, CliOptions& options)
{
    command
        ->add_option_function<std::string>(
            "--base",
            [&options](const std::string& text) {
                if (!ParseBase(text, options))
                    throw CLI::ValidationError("--base", "an address in hex, below 1000000");
            },
            "FILE is raw binary, its first byte for this address (hex, e.g. 0F0000)")
        ->type_name("ADDR");
}

bool ParseBase(const std::string& text, CliOptions& options)
{
    static const std::regex form("^(?:0[xX])?([0-9A-Fa-f]{1,6})$");
    std::smatch match;
    if (!std::regex_match(text, match, form)) return false;
    options.base = static_cast<uint32_t>(std::stoul(match[1], nullptr, 16));
    return true;
}

void AddUpgradeArguments(const CliOptions& options, std::vector<std::string>& args)
{
    if (options.base) args.insert(args.end(), {"--base", Hex(*options.base)});
    for (const std::string& key : options.trustedKeys)
        args.insert(args.end(), {"--trusted-key", key});
    if (!options.preCheck.empty()) args.insert(args.end(), {"--pre-check", options.preCheck});
    if (!options.onResult.empty()) args.insert(args.end(), {"--on-result", options.onResult});
    if (options.hookTimeoutSeconds != CliOptions().hookTimeoutSeconds)
        args.insert(args.end(), {"--hook-timeout", std::to_string(options.hookTimeoutSeconds)});
}

bool ParseSerialAt(const std::string& text, CliOptions& options)
{
    static const std::regex form("^(?:0[xX])?([0-9A-Fa-f]{1,6}):([0-9]{1,3})$");
    std::smatch match;
    if (!std::regex_match(text, match, form)) return false;
    const uint32_t address = static_cast<uint32_t>(std::stoul(match[1], nullptr, 16));
    const uint32_t length = static_cast<uint32_t>(std::stoul(match[2]));
    // The area that is erased would hold nothing of the panel's own.
    if (length == 0 || length > 256 || address + length > 0xF0000) return false;
    options.serialAt = address;
    options.serialLength = length;
    return true;
}

void AddRecordsArguments(const RecordsChoice& choice, std::vector<std::string>& args)
{
    if (choice.none)
        args.push_back("--no-records");
    else if (!choice.file.empty())
        args.insert(args.end(), {"--records", choice.file});
}

CLI::App* AddStationCommand(CLI::App& app, CliOptions& options, StationOptions& station,
                            std::string& serialAt)
{
    CLI::App* command = app.add_subcommand(
        "station", "flash panel after panel on one or more ports until stopped, recording each");
    command->add_option("FILE", options.file, "the upgrade (.mot, .s or .btp); or from --job");
    command
        ->add_option("--port", options.ports,
                     "a fixture's serial port (best its stable /dev/serial/by-path name); repeat for several")
        ->allow_extra_args(false);
    command->add_option("--baud", options.baud, "bit rate to work at (default: the last one that worked)")
        ->check(CLI::IsMember(kRates));
    command
        ->add_option("--page-pause", options.pagePause, "ms between a page and its status read (default 40)")
        ->check(CLI::IsMember(kPagePauses));
    station.verifyFlag = command->add_flag("--verify,!--no-verify", options.verify,
                                           "read the area back after programming (the default)");
    command->add_option("--backup-dir", station.backupDir,
                        "read each panel's flash into this folder before the erase, named by port and time");
    command->add_option("--tag", options.tag, "text stored with every record (a work order, a batch)");
    command->add_flag("--scan", station.scan,
                      "with one --port: the next line on standard input is the next panel's serial");
    command->add_option("--job", station.job, "a job file with the settings (the command line overrides it)");
    command->add_flag("--json", station.json, "one JSON object per state change on standard output");
    CCommandRecords::AddOptions(command, options.records);
    AddProductionOptions(command, options, serialAt);
    command->add_option("--stop-event", station.stopEvent,
                        "Windows: stop cleanly when a supervising service sets this event (in the session's "
                        "namespace)");
    command->add_flag("--station-child", station.child)->group("");
    command->add_flag("--station-restarted", station.restarted)->group("");
    command->add_option("--station-run", options.stationRun)->group("");
    command->footer("Example: torvane-cli station panel-upgrade.mot --port /dev/serial/by-path/...-port0 "
                    "--baud 115200 --tag WO-1234\n"
                    "Ctrl-C ends it after the current page; exit code 0 when every attempt was recorded.");
    return command;
}

namespace {

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// What one job file is applied to, and how its names and values are read.
struct JobContext
{
    const std::string& file;
    platform::CPath folder;
    bool verifyGiven;
    CliOptions& options;
    StationOptions& station;
    std::string& error;

    // Relative names are the job file's neighbours, wherever the station is started.
    std::string Path(const std::string& text) const
    {
        return platform::CPath::FromUtf8(text).IsAbsolute() ? text : (folder / text).Utf8();
    }
    bool Refuse(const std::string& key, const std::string& value, const std::string& why) const
    {
        error = file + ": " + key + " = " + value + " " + why;
        return false;
    }
    // A value is checked even where the command line overrides it: a job that holds a
    // wrong one is a wrong job.
    bool Number(const std::string& key, const std::string& text, std::optional<uint32_t>& value,
                const std::vector<uint32_t>& allowed) const
    {
        const std::string digits = text.substr(0, text.find_first_not_of("0123456789"));
        const uint32_t parsed =
            digits.empty() || digits.size() > 6 ? 0 : static_cast<uint32_t>(std::stoul(digits));
        if (digits != text || std::find(allowed.begin(), allowed.end(), parsed) == allowed.end())
            return Refuse(key, text, "is not one of the values it can have");
        if (!value) value = parsed;
        return true;
    }
};

using JobSetting = bool (*)(JobContext& job, const std::string& key, const std::string& value);

// The station's options a job may carry: the only keys a job file knows. A later option
// is one more line here.
const std::vector<std::pair<std::string, JobSetting>> kJobKeys = {
    {"file",
     [](JobContext& job, const std::string&, const std::string& value) {
         if (job.options.file.empty()) job.options.file = job.Path(value);
         return true;
     }},
    {"sha256",
     [](JobContext& job, const std::string&, const std::string& value) {
         if (job.options.expectSha256.empty()) job.options.expectSha256 = value;
         return true;
     }},
    {"ports",
     [](JobContext& job, const std::string&, const std::string& value) {
         if (!job.options.ports.empty()) return true;
         std::string list = value;
         std::replace(list.begin(), list.end(), ',', ' ');
         std::istringstream words(list);
         for (std::string port; words >> port;)
             job.options.ports.push_back(port);
         return true;
     }},
    {"baud", [](JobContext& job, const std::string& key,
                const std::string& value) { return job.Number(key, value, job.options.baud, kRates); }},
    {"page-pause",
     [](JobContext& job, const std::string& key, const std::string& value) {
         return job.Number(key, value, job.options.pagePause, kPagePauses);
     }},
    {"verify",
     [](JobContext& job, const std::string& key, const std::string& value) {
         bool verify = true;
         if (!ParseSwitch(value, verify)) return job.Refuse(key, value, "is neither on nor off");
         if (!job.verifyGiven) job.options.verify = verify;
         return true;
     }},
    {"tag",
     [](JobContext& job, const std::string&, const std::string& value) {
         if (job.options.tag.empty()) job.options.tag = value;
         return true;
     }},
    {"backup-dir",
     [](JobContext& job, const std::string&, const std::string& value) {
         if (job.station.backupDir.empty()) job.station.backupDir = job.Path(value);
         return true;
     }},
    {"records",
     [](JobContext& job, const std::string&, const std::string& value) {
         if (job.options.records.file.empty() && !job.options.records.none)
             job.options.records.file = job.Path(value);
         return true;
     }},
    {"base",
     [](JobContext& job, const std::string& key, const std::string& value) {
         CliOptions parsed;
         if (!ParseBase(value, parsed)) return job.Refuse(key, value, "is no address in hex below 1000000");
         if (!job.options.base) job.options.base = parsed.base;
         return true;
     }},
    {"trusted-key",
     [](JobContext& job, const std::string&, const std::string& value) {
         // Several keys are separated by commas; the command line's keys replace the job's.
         if (!job.options.trustedKeys.empty()) return true;
         std::istringstream list(value);
         for (std::string key; std::getline(list, key, ',');)
             if (!Trim(key).empty()) job.options.trustedKeys.push_back(job.Path(Trim(key)));
         return true;
     }},
    {"pre-check",
     [](JobContext& job, const std::string&, const std::string& value) {
         if (job.options.preCheck.empty()) job.options.preCheck = value;
         return true;
     }},
    {"on-result",
     [](JobContext& job, const std::string&, const std::string& value) {
         if (job.options.onResult.empty()) job.options.onResult = value;
         return true;
     }},
    {"hook-timeout",
     [](JobContext& job, const std::string& key, const std::string& value) {
         static const std::regex form("^[0-9]{1,4}$");
         if (!std::regex_match(value, form) || std::stoul(value) < 1 || std::stoul(value) > 3600)
             return job.Refuse(key, value, "is no number of seconds from 1 to 3600");
         if (job.options.hookTimeoutSeconds == CliOptions().hookTimeoutSeconds)
             job.options.hookTimeoutSeconds = static_cast<uint32_t>(std::stoul(value));
         return true;
     }},
    {"serial-at",
     [](JobContext& job, const std::string& key, const std::string& value) {
         CliOptions parsed;
         if (!ParseSerialAt(value, parsed))
             return job.Refuse(key, value, "is no ADDR:LEN outside 0F0000-0FFFFF");
         if (!job.options.serialAt) {
             job.options.serialAt = parsed.serialAt;
             job.options.serialLength = parsed.serialLength;
         }
         return true;
     }},
    {"records-server",
     [](JobContext& job, const std::string& key, const std::string& value) {
         if (const std::string refusal = RecordsServerRefusal(value); !refusal.empty())
             return job.Refuse(key, "...", "is refused: " + refusal);
         if (job.options.recordsServer.empty()) job.options.recordsServer = value;
         return true;
     }},
};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

size_t EditDistance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string ClosestJobKey(const std::string& key)
{
    std::string closest;
    size_t best = std::string::npos;
    for (const auto& known : kJobKeys) {
        // "expect-sha256" holds "sha256" whole: closer than any edit count says.
        const size_t distance =
            key.find(known.first) != std::string::npos ? 0 : EditDistance(key, known.first);
        if (distance < best) best = distance, closest = known.first;
    }
    return closest;
}

} // namespace

bool ApplyStationJob(const std::string& jobFile, bool verifyGiven, CliOptions& options,
                     StationOptions& station, std::string& error)
{
    // Read whole or not at all; a link is followed to the job it names.
    std::string content, problem;
    switch (platform::ReadSmallFile(platform::CPath::FromUtf8(jobFile), content, problem)) {
    case platform::SmallFileStatus::Ok:
        break;
    case platform::SmallFileStatus::Missing:
        error = "the job file " + jobFile + " cannot be read: no such file";
        return false;
    case platform::SmallFileStatus::Refused:
        error = "the job file cannot be used: " + problem;
        return false;
    }
    // An editor's byte-order mark is no part of the first line.
    if (content.rfind("\xEF\xBB\xBF", 0) == 0) content.erase(0, 3);

    std::vector<std::pair<std::string, std::string>> settings;
    bool inStation = false, sawStation = false;
    std::istringstream lines(content);
    int number = 0;
    for (std::string raw; std::getline(lines, raw);) {
        ++number;
        const std::string line =
            Trim(raw.empty() || raw.back() != '\r' ? raw : raw.substr(0, raw.size() - 1));
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            inStation = close != std::string::npos && Lower(Trim(line.substr(1, close - 1))) == "station";
            sawStation = sawStation || inStation;
            continue;
        }
        if (!inStation) continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            error = jobFile + ": line " + std::to_string(number) + " is no key = value: " + line;
            return false;
        }
        const std::string key = Lower(Trim(line.substr(0, equals)));
        const auto known = std::find_if(kJobKeys.begin(), kJobKeys.end(),
                                        [&](const auto& entry) { return entry.first == key; });
        if (known == kJobKeys.end()) {
            error =
                jobFile + ": unknown key " + key + " (the closest known one is " + ClosestJobKey(key) + ")";
            return false;
        }
        for (const auto& earlier : settings)
            if (earlier.first == key) {
                error = jobFile + ": " + key + " is given twice";
                return false;
            }
        settings.emplace_back(key, Trim(line.substr(equals + 1)));
    }
    if (!sawStation) {
        error = jobFile + ": no [station] section";
        return false;
    }
    JobContext job{jobFile, platform::CPath::FromUtf8(jobFile).Parent(), verifyGiven, options, station,
                   error};
    for (const auto& [key, value] : settings) {
        if (value.empty()) continue;
        const auto known = std::find_if(kJobKeys.begin(), kJobKeys.end(),
                                        [&](const auto& entry) { return entry.first == key; });
        if (!known->second(job, key, value)) return false;
    }
    return true;
}

std::string ModemManagerWarning()
{
#ifdef __linux__
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
        std::FILE* comm = std::fopen((it->path() / "comm").c_str(), "r");
        if (!comm) continue;
        char text[32] = {};
        const bool read = std::fgets(text, sizeof text, comm) != nullptr;
        std::fclose(comm);
        if (read && std::string(text) == "ModemManager\n")
            return "torvane-cli: warning: ModemManager is running: it probes every serial adapter that "
                   "appears "
                   "with \"AT\" commands, and 'A' is the page-program command. Keep it off the fixtures' "
                   "adapters (README, \"On a production line\").";
    }
#endif
    return {};
}

int RunStationCommand(CliOptions& options, StationOptions& station, std::ostream& out, std::ostream& err)
{
    options.command = "station";
    options.mode = station.json ? OutputMode::Json : OutputMode::Text;
    if (station.child) return RunStationChild(options, station, out, err);

    auto usage = [&err](const std::string& line) {
        err << "torvane-cli station: " << line << '\n';
        return static_cast<int>(ExitCode::Usage);
    };
    if (!station.job.empty()) {
        std::string error;
        const bool verifyGiven = station.verifyFlag && station.verifyFlag->count() > 0;
        if (!ApplyStationJob(station.job, verifyGiven, options, station, error)) return usage(error);
    }
    if (options.file.empty())
        return usage("an upgrade FILE is needed (on the command line or in the job file)");
    if (options.ports.empty())
        return usage("at least one --port is needed (on the command line or in the job file)");
    if (std::set<std::string>(options.ports.begin(), options.ports.end()).size() != options.ports.size())
        return usage("a port is named twice");
    if (station.scan && options.ports.size() != 1) return usage("--scan takes exactly one --port");
    if (std::string error; !station.stopEvent.empty() && !platform::WatchStopEvent(station.stopEvent, error))
        return usage(error);

    // The station's own faults end it before any panel is touched.
    CMotFile image;
    std::vector<std::string> lines;
    // Read once: every fixture checks that what it reads is these very bytes.
    const PinnedUpgrade upgrade = ReadUpgradeFile(options.file);
    const ExitCode judged = CSession::JudgeUpgradeFile(options, upgrade, image, lines);
    for (const std::string& line : lines)
        err << line << '\n';
    if (judged != ExitCode::Ok) return static_cast<int>(judged);
    options.expectSha256 = upgrade.sha256;
    CCommandRecords records;
    if (!records.Open(options.records, err, CCommandRecords::Default::Required))
        return static_cast<int>(ExitCode::Failed);
    // The fixtures write where this process opened, the default file included.
    if (records.Store()) options.records.file = records.Store()->Path().Utf8();
    if (!station.backupDir.empty()) {
        if (std::string error;
            !platform::CreateDirectories(platform::CPath::FromUtf8(station.backupDir), error)) {
            err << "torvane-cli: the backup folder " << station.backupDir << " cannot be made: " << error
                << '\n';
            return static_cast<int>(ExitCode::Failed);
        }
        // A folder that takes no file would fail each panel after its read, not now.
        std::string error;
        const platform::CPath probe =
            platform::CPath::FromUtf8(station.backupDir) / (".torvane-probe-" + CRecordStore::NewAttemptId());
        if (platform::CreateNewFile(probe, error) != platform::NewFileStatus::Created) {
            err << "torvane-cli: the backup folder " << station.backupDir << " cannot be written: " << error
                << '\n';
            return static_cast<int>(ExitCode::Failed);
        }
        platform::RemoveFile(probe);
    }
    if (const std::string warning = ModemManagerWarning(); !warning.empty()) err << warning << '\n';
    const std::string run = CRecordStore::NewAttemptId();

    std::vector<std::string> common{"station",       options.file, "--station-child",
                                    "--station-run", run,          "--json"};
    if (options.baud) common.insert(common.end(), {"--baud", std::to_string(*options.baud)});
    if (options.pagePause) common.insert(common.end(), {"--page-pause", std::to_string(*options.pagePause)});
    if (!options.verify) common.push_back("--no-verify");
    if (!options.tag.empty()) common.insert(common.end(), {"--tag", options.tag});
    if (!station.backupDir.empty()) common.insert(common.end(), {"--backup-dir", station.backupDir});
    if (!options.expectSha256.empty()) common.insert(common.end(), {"--expect-sha256", options.expectSha256});
    if (options.serialAt)
        common.insert(common.end(),
                      {"--serial-at", Hex(*options.serialAt) + ":" + std::to_string(options.serialLength)});
    if (station.scan) common.push_back("--scan");
    AddUpgradeArguments(options, common);
    AddRecordsArguments(options.records, common);
    std::vector<std::vector<std::string>> commands;
    for (const std::string& port : options.ports) {
        std::vector<std::string> command{platform::SelfExecutablePath()};
        command.insert(command.end(), common.begin(), common.end());
        command.insert(command.end(), {"--port", port});
        commands.push_back(command);
    }

    const bool terminal =
        options.mode == OutputMode::Text && platform::IsTerminal(platform::ConsoleStream::Output);
    const char* noColour = std::getenv("NO_COLOR");
    CStationBoard board(options.ports, options.mode, terminal, terminal && !(noColour && *noColour), out);
    // The fixtures record into the journal; this sender takes what they finished to the
    // line's server, so no fixture ever waits for the network.
    CBackgroundRecordsSender sender;
    const bool sending = !options.recordsServer.empty() && records.Store() &&
                         sender.Start(records.Store()->Path(), options.recordsServer);
    if (!options.recordsServer.empty() && !sending)
        err << "torvane-cli: station: no records server sink in this build; the records stay in the "
               "journal\n";
    platform::CatchInterrupts(static_cast<int>(ExitCode::Stopped));
    // A fixture whose process died (killed, crashed) fails its open attempt, in the row and
    // in the record, and starts again: after its panel is gone, so that panel is not
    // flashed again unseen.
    bool childRecordLost = false;
    auto childEnded = [&](size_t i, int code) {
        if (platform::InterruptCount() > 0) return false;
        if (const std::string id = board.OpenAttempt(i); !id.empty() && records.Store()) {
            CAttempt attempt;
            if (records.Store()->Read(id, attempt) && attempt.outcome == outcome::kUnfinished) {
                attempt.outcome = outcome::kFail;
                attempt.messages.push_back(kProcessEnded);
                if (!records.Store()->Complete(attempt)) childRecordLost = true;
            }
        }
        // Only a fixture that died is started again: one that ended on its own account (its
        // stop, the end of the scanner's input, a command line it refuses, a port another
        // station holds, an upgrade that changed under it) would end so again.
        for (const ExitCode own :
             {ExitCode::Ok, ExitCode::Failed, ExitCode::Usage, ExitCode::PortInUse, ExitCode::FileRefused})
            if (code == static_cast<int>(own)) return false;
        board.ChildEnded(i);
        Sleep(kRestartGap);
        if (std::find(commands[i].begin(), commands[i].end(), "--station-restarted") == commands[i].end())
            commands[i].push_back("--station-restarted");
        return platform::InterruptCount() == 0;
    };
    const std::vector<int> codes = platform::RunChildren(
        commands,
        [&](size_t i, const std::string& text) {
            const nlohmann::json event = nlohmann::json::parse(text, nullptr, false);
            if (event.is_discarded()) return;
            board.OnEvent(i, event);
            if (sending && event.value("event", "") == "state") {
                const std::string state = event.value("state", "");
                if (state == "pass" || state == "fail" || state == "stopped") sender.Nudge();
            }
            if (sending) board.SetBacklog(sender.BacklogText());
        },
        childEnded);
    board.Summary(codes, run);
    if (!codes.empty() && std::all_of(codes.begin(), codes.end(),
                                      [](int code) { return code == static_cast<int>(ExitCode::PortInUse); }))
        return static_cast<int>(ExitCode::PortInUse);
    if (sending) {
        sender.Stop();
        if (const int64_t waiting = sender.Waiting(); waiting != 0)
            err << "torvane-cli: station: " << (waiting < 0 ? std::string("some") : std::to_string(waiting))
                << " records not yet on the server"
                << (sender.Problem().empty() ? "" : ": " + platform::ShownText(sender.Problem()))
                << "; torvane-cli records --sync sends them\n";
        for (const std::string& line : sender.SetAsideLines())
            err << "torvane-cli: station: " << platform::ShownText(line) << '\n';
    }
    // A fixture another station holds is told in its row, not taken for a lost record.
    const bool recorded = !childRecordLost && std::all_of(codes.begin(), codes.end(), [](int code) {
        return code == 0 || code == static_cast<int>(ExitCode::PortInUse);
    });
    return static_cast<int>(recorded ? ExitCode::Ok : ExitCode::Failed);
}
