#include "cli/StationCommand.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <regex>
#include <set>
#include <tuple>

#include <nlohmann/json.hpp>

#include "cli/CommandRecords.h"
#include "cli/ExitCode.h"
#include "cli/Session.h"
#include "cli/StationAttempt.h"
#include "cli/StationView.h"
#include "image/MotFile.h"
#include "loader/Protocol.h"
#include "platform/ChildProcesses.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/OutputFile.h"
#include "platform/Paths.h"
#include "platform/ProfileIni.h"
#include "platform/ShownText.h"
#include "records/RecordStore.h"
#include "records/RecordTime.h"
#include "records/server/RecordsServer.h"
#include "station/FixtureMessage.h"
#include "station/StationJob.h"
#include "station/StationPort.h"

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

// A fixture process that ends at once is not started again in a tight loop.
constexpr uint32_t kRestartGap = 1000;

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
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

// One port's loop in this process (a station's child), its events on standard output.
int RunStationChild(CliOptions& options, StationOptions& station, std::ostream& out, std::ostream& err)
{
    CCommandRecords records;
    if (!records.Open(options.records, err, CCommandRecords::Default::Required))
        return static_cast<int>(ExitCode::Failed);
    platform::CatchInterrupts(static_cast<int>(ExitCode::Stopped));
    platform::WatchParent();
    CStationAttempt attempt(options, records.Enabled() ? &records : nullptr);
    station::CStationPort port(options.ports.front(), station.backupDir, attempt,
                               [&out](const station::FixtureMessage& message) {
                                   out << station::EncodeFixtureMessage(message) << '\n' << std::flush;
                                   // Nobody reads the messages any more: the station is gone.
                                   if (!out) {
                                       out.clear();
                                       platform::NoteStopRequest();
                                   }
                               });
    if (station.scan) port.nextSerial = ReadScannedLine;
    port.waitUntilGoneFirst = station.restarted;
    switch (port.Run()) {
    case station::FixtureEnd::Stopped:
        return static_cast<int>(ExitCode::Ok);
    case station::FixtureEnd::RecordLost:
        return static_cast<int>(ExitCode::Failed);
    case station::FixtureEnd::PortInUse:
        return static_cast<int>(ExitCode::PortInUse);
    case station::FixtureEnd::UpgradeRefused:
        break;
    }
    return port.RefusalCode();
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
                        "with the record: the panel's serial number; kept on the panel too, as --keep keeps");
    command
        ->add_option_function<std::vector<std::string>>(
            "--keep",
            [&options](const std::vector<std::string>& texts) {
                options.keep.clear();
                for (const std::string& text : texts) {
                    const std::optional<station::SerialArea> area =
                        station::ParseSerialArea(text, station::kLongestKeptArea);
                    if (!area)
                        throw CLI::ValidationError("--keep", "ADDR:LEN, ADDR in hex below 0F0000, LEN 1 to " +
                                                                 std::to_string(station::kLongestKeptArea) +
                                                                 " bytes");
                    options.keep.push_back({area->address, area->length});
                }
            },
            "the erase wipes the whole user flash, not only 0F0000-0FFFFF: read LEN bytes at ADDR (hex, "
            "below 0F0000) before it and program their pages back right after it, then read them back; "
            "repeat for several (16 pages in all)")
        ->type_name("ADDR:LEN")
        ->allow_extra_args(false);
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
    const std::optional<uint32_t> base = station::ParseHexAddress(text);
    if (base) options.base = base;
    return base.has_value();
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
    for (const loader::KeptRange& range : options.keep)
        args.insert(args.end(), {"--keep", Hex(range.address) + ":" + std::to_string(range.length)});
}

bool ParseSerialAt(const std::string& text, CliOptions& options)
{
    const std::optional<station::SerialArea> area = station::ParseSerialArea(text);
    if (!area) return false;
    options.serialAt = area->address;
    options.serialLength = area->length;
    return true;
}

std::string KeepRefusal(const CliOptions& options)
{
    std::string refusal;
    std::ignore = loader::PagesToKeep(options.KeptRanges(), refusal);
    return refusal;
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
        ->check(CLI::IsMember(
            std::vector<uint32_t>(std::begin(loader::kBaudRates), std::end(loader::kBaudRates))));
    command
        ->add_option("--page-pause", options.pagePause, "ms between a page and its status read (default 40)")
        ->check(CLI::IsMember(station::kPagePauses));
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

bool ApplyStationJob(const std::string& jobFile, bool verifyGiven, CliOptions& options,
                     StationOptions& station, std::string& error)
{
    station::StationJob job;
    if (!station::ReadStationJob(jobFile, job, error)) return false;
    if (!job.recordsServer.empty()) {
        // Checked even where the command line gives one: a job that holds a wrong one is a
        // wrong job. Its text may hold a password: not repeated.
        if (const std::string refusal = RecordsServerRefusal(job.recordsServer); !refusal.empty()) {
            error = jobFile + ": records-server = ... is refused: " + refusal;
            return false;
        }
    }
    // What the command line gives wins.
    auto fill = [](auto& option, const auto& value) {
        if (option.empty()) option = value;
    };
    fill(options.file, job.file);
    fill(options.expectSha256, job.sha256);
    fill(options.ports, job.ports);
    if (!options.baud) options.baud = job.baud;
    if (!options.pagePause) options.pagePause = job.pagePause;
    if (job.verify && !verifyGiven) options.verify = *job.verify;
    fill(options.tag, job.tag);
    fill(station.backupDir, job.backupDir);
    if (!options.records.none) fill(options.records.file, job.records);
    if (!options.base) options.base = job.base;
    fill(options.trustedKeys, job.trustedKeys);
    fill(options.preCheck, job.preCheck);
    fill(options.onResult, job.onResult);
    if (job.hookTimeoutSeconds && options.hookTimeoutSeconds == CliOptions().hookTimeoutSeconds)
        options.hookTimeoutSeconds = *job.hookTimeoutSeconds;
    if (job.serialAt && !options.serialAt) {
        options.serialAt = job.serialAt->address;
        options.serialLength = job.serialAt->length;
    }
    if (options.keep.empty())
        for (const station::SerialArea& area : job.keep)
            options.keep.push_back({area.address, area.length});
    fill(options.recordsServer, job.recordsServer);
    fill(options.recordsAccess.tokenFile, job.stationToken);
    fill(options.recordsAccess.serverCert, job.serverCert);
    return true;
}

records_server::CFixtureStateRow PublishedState(const std::string& port, const station::BoardRow& row,
                                                const std::optional<station::StepShown>& shown)
{
    records_server::CFixtureStateRow state;
    state.fixture = port;
    state.state = station::StateKey(row.state);
    state.detail = row.text;
    if (shown) {
        state.step = station::StepName(shown->step);
        if (shown->pagesTotal > 0) state.pagesDone = shown->pagesDone, state.pagesTotal = shown->pagesTotal;
        if (shown->secondsLeft > 0) state.secondsLeft = shown->secondsLeft;
    }
    if (row.failStep) state.step = station::StepName(*row.failStep);
    state.failReason = row.failReason;
    state.lastPanel = row.last == "-" ? std::string() : row.last;
    return state;
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
    if (const std::string refusal = KeepRefusal(options); !refusal.empty()) return usage(refusal);
    if (std::string error; !station.stopEvent.empty() && !platform::WatchStopEvent(station.stopEvent, error))
        return usage(error);

    // The station's own faults end it before any panel is touched.
    CMotFile image;
    // Read once: every fixture checks that what it reads is these very bytes.
    const upgrade::UpgradeSource upgrade = upgrade::ReadUpgrade(options.file);
    const upgrade::UpgradeVerdict verdict = CSession::JudgeUpgradeFile(options, upgrade, image);
    for (const std::string& line : CSession::VerdictLines(verdict, options.file))
        err << line << '\n';
    if (!verdict.Ok()) return static_cast<int>(ExitCode::FileRefused);
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
    CStationView board(options.ports, options.mode, terminal, terminal && !(noColour && *noColour), out);
    // The fixtures record into the journal; this sender takes what they finished to the
    // line's server, so no fixture ever waits for the network.
    CBackgroundRecordsSender sender;
    const bool sending =
        !options.recordsServer.empty() && records.Store() &&
        sender.Start(records.Store()->Path(), options.recordsServer, station.job, options.recordsAccess);
    if (!options.recordsServer.empty() && !sending)
        err << "torvane-cli: station: no records server sink in this build; the records stay in the "
               "journal\n";
    // Each fixture's step under way, for the line's server.
    std::vector<std::optional<station::StepShown>> steps(options.ports.size());
    platform::CatchInterrupts(static_cast<int>(ExitCode::Stopped));
    // A fixture whose process died (killed, crashed) fails its open attempt, in the row and
    // in the record, and starts again: after its panel is gone, so that panel is not
    // flashed again unseen.
    bool childRecordLost = false;
    auto childEnded = [&](size_t i, int code) {
        if (platform::InterruptCount() > 0) return false;
        if (const std::string id = board.Board().Row(i).attempt; !id.empty() && records.Store()) {
            CAttempt attempt;
            if (records.Store()->Read(id, attempt) && attempt.outcome == outcome::kUnfinished) {
                attempt.outcome = outcome::kFail;
                attempt.messages.push_back(station::kProcessEnded);
                attempt.failReason = station::kProcessEnded;
                if (!records.Store()->Complete(attempt)) childRecordLost = true;
            }
        }
        // Only a fixture that died is started again: one that ended on its own account (its
        // stop, the end of the scanner's input, a command line it refuses, a port another
        // station holds, an upgrade that changed under it) would end so again.
        for (const ExitCode own :
             {ExitCode::Ok, ExitCode::Failed, ExitCode::Usage, ExitCode::PortInUse, ExitCode::FileRefused})
            if (code == static_cast<int>(own)) return false;
        board.ProcessEnded(i);
        steps[i].reset();
        if (sending) sender.PublishState(PublishedState(options.ports[i], board.Board().Row(i), steps[i]));
        Sleep(kRestartGap);
        if (std::find(commands[i].begin(), commands[i].end(), "--station-restarted") == commands[i].end())
            commands[i].push_back("--station-restarted");
        return platform::InterruptCount() == 0;
    };
    const std::vector<int> codes = platform::RunChildren(
        commands,
        [&](size_t i, const std::string& text) {
            const std::optional<station::FixtureMessage> message = station::DecodeFixtureMessage(text);
            if (!message) return;
            board.OnMessage(i, *message);
            if (const auto* shown = std::get_if<station::StepShown>(&*message))
                steps[i] = *shown;
            else if (std::holds_alternative<station::StateChanged>(*message))
                steps[i].reset();
            if (sending)
                sender.PublishState(PublishedState(options.ports[i], board.Board().Row(i), steps[i]));
            if (const auto* changed = std::get_if<station::StateChanged>(&*message);
                sending && changed && station::EndsAttempt(changed->state))
                sender.Nudge();
            if (sending) board.SetBacklog(sender.BacklogText());
        },
        childEnded,
        // The sender's own progress (a row delivered, the server back) with no fixture's news.
        [&] {
            if (sending) board.SetBacklog(sender.BacklogText());
        });
    board.Summary(codes, run);
    if (sending) {
        // Said to the line, so its page tells a station stopped from one that fell silent.
        const std::string at = records::LocalText(records::NowMs()).substr(11, 5); // 14:02
        for (size_t i = 0; i < options.ports.size(); ++i) {
            records_server::CFixtureStateRow state =
                PublishedState(options.ports[i], board.Board().Row(i), {});
            state.state = records_server::kStationStopped;
            state.detail = std::string(records_server::kStationStopped) + " at " + at;
            state.step.clear();
            state.failReason.clear();
            sender.PublishState(state);
        }
    }
    if (!codes.empty() && std::all_of(codes.begin(), codes.end(),
                                      [](int code) { return code == static_cast<int>(ExitCode::PortInUse); }))
        return static_cast<int>(ExitCode::PortInUse);
    if (sending) {
        sender.Stop();
        if (const int64_t waiting = sender.Waiting(); waiting != 0)
            err << "torvane-cli: station: " << (waiting < 0 ? std::string("some") : std::to_string(waiting))
                << " records not yet on the server"
                << (sender.Problem().empty() ? "" : ": " + platform::ShownText(sender.Problem())) << "; "
                << platform::ShownText(sender.SyncHint()) << " sends them\n";
        for (const std::string& line : sender.SetAsideLines())
            err << "torvane-cli: station: " << platform::ShownText(line) << '\n';
    }
    // A fixture another station holds is told in its row, not taken for a lost record.
    const bool recorded = !childRecordLost && std::all_of(codes.begin(), codes.end(), [](int code) {
        return code == 0 || code == static_cast<int>(ExitCode::PortInUse);
    });
    return static_cast<int>(recorded ? ExitCode::Ok : ExitCode::Failed);
}
