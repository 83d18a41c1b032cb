#pragma once
// `torvane-cli station`: the production line's loop on many ports, one child process
// per port (the same program with a hidden option), the parent drawing their table.
// Also the production options `program` shares with it.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "records/server/FixtureStateRow.h"
#include "station/StationBoard.h"

namespace CLI {
class App;
class Option;
} // namespace CLI

struct StationOptions
{
    std::string backupDir;
    std::string job; // --job FILE
    bool scan = false;
    bool json = false;
    const CLI::Option* verifyFlag = nullptr; // given on the command line: the job's verify is not used
    bool child = false;                      // this process runs one port for a station
    bool restarted = false;                  // ... in place of one that died
    std::string stopEvent;                   // --stop-event NAME (Windows)
};

// --expect-sha256, --base, --trusted-key, the hooks, --keep and --serial-at (its text into serialAt, parsed
// after the command line).
void AddProductionOptions(CLI::App* command, CliOptions& options, std::string& serialAt);
// --base ADDR: the upgrade as raw binary from ADDR.
void AddBaseOption(CLI::App* command, CliOptions& options);
// "0F0000" into options.base; false for text that is no address below 0x1000000.
bool ParseBase(const std::string& text, CliOptions& options);
// The signature, format and hook options for a process that runs one port.
void AddUpgradeArguments(const CliOptions& options, std::vector<std::string>& args);
// "F8000:16" into options.serialAt and serialLength; false for text that is no such area.
bool ParseSerialAt(const std::string& text, CliOptions& options);
// Why the kept ranges (--keep and --serial-at's) cannot be kept; empty when they can.
std::string KeepRefusal(const CliOptions& options);
// --records FILE or --no-records for a child process.
void AddRecordsArguments(const RecordsChoice& choice, std::vector<std::string>& args);

CLI::App* AddStationCommand(CLI::App& app, CliOptions& options, StationOptions& station,
                            std::string& serialAt);
int RunStationCommand(CliOptions& options, StationOptions& station, std::ostream& out, std::ostream& err);

// A job file's settings under options the command line left unset; false with the line
// in error when the file cannot be read or holds a value that is not understood.
bool ApplyStationJob(const std::string& jobFile, bool verifyGiven, CliOptions& options,
                     StationOptions& station, std::string& error);
// A fixture's row as the line's server keeps it: the step under way (`shown`), or the
// step that failed and why.
records_server::CFixtureStateRow PublishedState(const std::string& port, const station::BoardRow& row,
                                                const std::optional<station::StepShown>& shown);
// The line to warn with when a running ModemManager will probe the adapters; empty when none runs.
std::string ModemManagerWarning();
