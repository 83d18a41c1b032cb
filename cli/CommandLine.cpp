#include "cli/CommandLine.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <regex>

#include "cli/CommandRecords.h"
#include "cli/ExitCode.h"
#include "cli/Options.h"
#include "cli/OutputTargets.h"
#include "cli/ParallelRun.h"
#include "cli/PortsCommand.h"
#include "cli/RecordsCommand.h"
#include "cli/RecordsServerOptions.h"
#include "cli/Reporter.h"
#include "cli/Session.h"
#include "cli/SignCommand.h"
#include "cli/StationCommand.h"
#include "loader/Protocol.h"
#include "platform/Console.h"
#include "upgrade/UpgradeFile.h"

namespace {

constexpr char kExitCodes[] = R"(Examples:
  torvane-cli program panel-upgrade.mot --port COM1 --baud 115200 --backup old.mot
  torvane-cli program panel-upgrade.mot --port COM1 --port COM2 --port /dev/ttyUSB0
  torvane-cli program panel.hex --port COM1 --trusted-key release.pub.pem --pre-check "mes-check --line 3"
  torvane-cli program panel.bin --base 0F0000 --port COM1
  torvane-cli status --port COM1
  torvane-cli version --port COM1
  torvane-cli erase --port COM1 --upgrade panel-upgrade.mot
  torvane-cli blank --port COM1 --range F0000-FFFFF
  torvane-cli read --port COM1 --range F0000-FFFFF -o panel-backup.mot
  torvane-cli verify panel-upgrade.mot --port COM1 --json
  torvane-cli ports
  torvane-cli sign panel.bin --base 0F0000 --key release-key.pem
  torvane-cli station panel-upgrade.mot --port FIX1 --port FIX2 --tag WO-1234
  torvane-cli station --job line-3.ini
  torvane-cli records --since today --outcome fail
  torvane-cli records --serial pnl-204 --json

Exit codes:
  0 the command succeeded (program: the flash holds the file)
  1 other failure            2 usage error
  3 port cannot be opened    4 port in use
  5 device silent (time-out) 6 file refused
  7 ID check failed          8 erase error
  9 program error           10 verify mismatch (or not blank)
 11 stopped (Ctrl-C)
With several --port, the largest code of all ports.)";

// The page pauses the "Set baudrate" dialog offers.

// "F0000-FFFFF" (hex, inclusive) into start and end.
bool ParseRange(const std::string& text, CliOptions& options)
{
    static const std::regex form("^(?:0[xX])?([0-9A-Fa-f]{1,6})-(?:0[xX])?([0-9A-Fa-f]{1,6})$");
    std::smatch match;
    if (!std::regex_match(text, match, form)) return false;
    options.rangeStart = static_cast<uint32_t>(std::stoul(match[1], nullptr, 16));
    options.rangeEnd = static_cast<uint32_t>(std::stoul(match[2], nullptr, 16));
    return *options.rangeStart < *options.rangeEnd;
}

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
    return text;
}

// One port's command line, from the parsed options (ports and output mode left out).
std::vector<std::string> ChildArguments(const CliOptions& options)
{
    std::vector<std::string> args{options.command};
    const bool fileArgument = options.command == "program" || options.command == "verify";
    if (fileArgument)
        args.push_back(options.file);
    else if (!options.file.empty())
        args.insert(args.end(), {"--upgrade", options.file});
    if (options.baud) args.insert(args.end(), {"--baud", std::to_string(*options.baud)});
    if (options.command == "program") {
        if (!options.verify) args.push_back("--no-verify");
        if (options.allPages) args.push_back("--all-pages");
        if (options.pagePause) args.insert(args.end(), {"--page-pause", std::to_string(*options.pagePause)});
        if (options.ifDifferent) args.push_back("--if-different");
    }
    if (!options.expectSha256.empty()) args.insert(args.end(), {"--expect-sha256", options.expectSha256});
    if (options.serialAt)
        args.insert(args.end(),
                    {"--serial-at", Hex(*options.serialAt) + ":" + std::to_string(options.serialLength)});
    if (options.command == "program")
        AddUpgradeArguments(options, args);
    else if (options.base)
        args.insert(args.end(), {"--base", Hex(*options.base)});
    if (!options.backup.empty()) args.insert(args.end(), {"--backup", options.backup});
    if (!options.output.empty()) args.insert(args.end(), {"-o", options.output});
    if (!options.recordsServer.empty()) args.insert(args.end(), {"--records-server", options.recordsServer});
    if (!options.recordsAccess.tokenFile.empty())
        args.insert(args.end(), {"--station-token", options.recordsAccess.tokenFile});
    if (!options.recordsAccess.serverCert.empty())
        args.insert(args.end(), {"--server-cert", options.recordsAccess.serverCert});
    if (options.rangeStart)
        args.insert(args.end(), {"--range", Hex(*options.rangeStart) + "-" + Hex(*options.rangeEnd)});
    return args;
}

} // namespace

int RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err)
{
    CliOptions options;
    bool json = false, quiet = false;
    std::string range;

    CLI::App app{"Upgrades the Orvex panel's firmware through its serial boot loader, without windows."};
    app.name("torvane-cli");
    app.require_subcommand(1);
    app.footer(kExitCodes);
    // --tool-version stays for the scripts written before --version was the name.
    app.set_version_flag("--version,--tool-version", "torvane-cli " TORVANE_VERSION,
                         "this program's version");

    auto common = [&](CLI::App* sub) {
        // One value per --port: a stray word after it is a usage error, not a second port.
        sub->add_option("--port", options.ports,
                        "serial port: COM1..COM10 or a device path; repeat for several panels")
            ->required()
            ->allow_extra_args(false);
        sub->add_option("--baud", options.baud, "bit rate to work at (default: the last one that worked)")
            ->check(CLI::IsMember(
                std::vector<uint32_t>(std::begin(loader::kBaudRates), std::end(loader::kBaudRates))));
        sub->add_flag("--json", json, "one JSON object per event on standard output");
        sub->add_flag("--quiet", quiet, "print only the result");
    };
    CLI::App* program = app.add_subcommand("program", "load FILE, ID check, erase, program F0000-FFFFF");
    program
        ->add_option("FILE", options.file, "the upgrade: S-records or Intel HEX, or raw binary with --base")
        ->required();
    program->add_flag("--verify,!--no-verify", options.verify,
                      "read every byte of F0000-FFFFF back and compare it with FILE (the default)");
    program->add_flag("--all-pages", options.allPages,
                      "send every page, also those FILE leaves at FF (as the windows do)");
    program
        ->add_option("--page-pause", options.pagePause, "ms between a page and its status read (default 40)")
        ->check(CLI::IsMember(
            std::vector<uint32_t>(std::begin(linktime::kPagePauses), std::end(linktime::kPagePauses))));
    program->add_flag("--if-different", options.ifDifferent,
                      "read F0000-FFFFF first and leave it untouched when it already holds FILE");
    program->add_option("--backup", options.backup,
                        "read F0000-FFFFF into this file (and its .id) before the erase; .hex: Intel HEX, "
                        ".bin: raw bytes, else S-records; "
                        "with one --port only; a file already there is refused");
    program->add_flag("--overwrite-backup", options.overwriteBackup,
                      "let --backup replace a file already there (the firmware it holds is lost)");
    program->footer(
        "Example: torvane-cli program panel-upgrade.mot --port COM1 --baud 115200 --page-pause 10\n"
        "The erase wipes the whole user flash, not only F0000-FFFFF; what the panel keeps below it "
        "(a serial, a calibration) survives only with --keep, e.g. --keep E0000:16.");
    CLI::App* status = app.add_subcommand("status", "the status register, decoded");
    status->footer("Example: torvane-cli status --port COM1");
    CLI::App* version = app.add_subcommand("version", "the boot loader's version text");
    version->footer("Example: torvane-cli version --port /dev/ttyUSB0");
    CLI::App* erase = app.add_subcommand("erase", "erase the whole user flash");
    erase->footer("Example: torvane-cli erase --port COM1 --upgrade panel-upgrade.mot");
    CLI::App* blank = app.add_subcommand("blank", "check that a range of the flash is erased");
    blank->add_option("--range", range, "START-END in hex (default: the upgrade file's range)");
    blank->footer("Example: torvane-cli blank --port COM1 --range F0000-FFFFF");
    CLI::App* read = app.add_subcommand("read", "read a range of the flash into a file");
    read->add_option("--range", range, "START-END in hex")->required();
    read->add_option(
            "-o,--output", options.output,
            "the file to write (.hex: Intel HEX, .bin: raw bytes, else S-records); with one --port only")
        ->required();
    read->footer("Example: torvane-cli read --port COM1 --range F0000-FFFFF -o panel-backup.mot");
    CLI::App* verify = app.add_subcommand("verify", "compare F0000-FFFFF of the flash with FILE");
    verify->add_option("FILE", options.file, "the upgrade file")->required();
    verify->footer("Example: torvane-cli verify panel-upgrade.mot --port COM1");
    AddBaseOption(verify, options);
    for (CLI::App* sub : {program, status, version, erase, blank, read, verify})
        common(sub);
    for (CLI::App* sub : {program, verify, erase})
        AddRecordsServerOption(sub, options.recordsServer, options.recordsAccess);
    PortsCommandOptions portsOptions;
    CLI::App* ports = AddPortsCommand(app, portsOptions);
    SignCommandOptions signOptions;
    CLI::App* sign = AddSignCommand(app, signOptions);
    // A panel whose ID check has not passed since power-on needs an upgrade file first.
    for (CLI::App* sub : {status, version, erase, blank, read})
        sub->add_option("--upgrade", options.file, "an upgrade file: the ID check is passed first");
    CRecordsCommand records;
    records.Register(app);
    for (CLI::App* sub : {program, verify, erase})
        CCommandRecords::AddOptions(sub, options.records);
    std::string serialAt;
    AddProductionOptions(program, options, serialAt);
    StationOptions stationOptions;
    CLI::App* station = AddStationCommand(app, options, stationOptions, serialAt);
    AddRecordsServerOption(station, options.recordsServer, options.recordsAccess);

    try {
        app.parse(argc, argv);
        if (!range.empty() && !ParseRange(range, options))
            throw CLI::ValidationError("--range", "START-END in hex, START below END");
        if (!serialAt.empty() && !ParseSerialAt(serialAt, options))
            throw CLI::ValidationError("--serial-at",
                                       "ADDR:LEN, ADDR in hex outside 0F0000-0FFFFF, LEN 1 to 256 bytes");
        if (const std::string refusal = KeepRefusal(options); !refusal.empty())
            throw CLI::ValidationError("--keep", refusal);
        if (const std::string refusal = RefuseOutputTargets(options); !refusal.empty())
            throw CLI::ValidationError("output", refusal);
    } catch (const CLI::ParseError& e) {
        std::ostringstream outText, errText;
        const int code = app.exit(e, outText, errText);
        out << outText.str();
        err << errText.str();
        return code == 0 ? 0 : static_cast<int>(ExitCode::Usage);
    }
    if (const std::string refusal = RefuseEarlierBackup(options); !refusal.empty()) {
        err << "torvane-cli: " << refusal << '\n';
        return static_cast<int>(ExitCode::Usage);
    }
    if (ports->parsed()) return RunPortsCommand(portsOptions, out);
    if (sign->parsed()) return RunSignCommand(signOptions, out, err);
    if (records.Chosen()) return records.Run(out, err);
    if (station->parsed()) return RunStationCommand(options, stationOptions, out, err);
    for (CLI::App* sub : app.get_subcommands())
        options.command = sub->get_name();
    options.mode = json ? OutputMode::Json : quiet ? OutputMode::Quiet : OutputMode::Text;

    // A records file named on the command line that cannot be used ends the command here,
    // before any panel is touched; the default one warns once, here, and is left out.
    CCommandRecords commandRecords;
    const bool recorded =
        options.command == "program" || options.command == "verify" || options.command == "erase";
    if (recorded && !commandRecords.Open(options.records, err)) return static_cast<int>(ExitCode::Failed);
    if (recorded && !commandRecords.Enabled()) options.records.none = true;
    platform::CatchInterrupts(static_cast<int>(ExitCode::Stopped));
    if (options.ports.size() > 1) {
        // Each port's process reads the file itself: it must find the bytes read here.
        if (options.command == "program" && options.expectSha256.empty()) {
            const upgrade::UpgradeSource upgrade = upgrade::ReadUpgrade(options.file);
            if (upgrade.read) options.expectSha256 = upgrade.sha256;
        }
        std::vector<std::string> childArguments = ChildArguments(options);
        if (recorded) AddRecordsArguments(options.records, childArguments);
        return RunParallel(options, childArguments, out, err);
    }
    const bool terminal = platform::IsTerminal(platform::ConsoleStream::Error);
    CReporter reporter(options.mode, out, err, terminal,
                       platform::TerminalWidth(platform::ConsoleStream::Error));
    CSession session(options, reporter, recorded ? &commandRecords : nullptr);
    const ExitCode code = session.Run();
    // Committed to the journal first; the server gets it now or with a later send.
    if (commandRecords.Store() && !options.recordsServer.empty())
        SendRecordsAtEnd(*commandRecords.Store(), options.recordsServer, options.recordsAccess, err);
    return static_cast<int>(code);
}
