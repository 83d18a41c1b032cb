#include "cli/RecordsCommand.h"

#include <CLI/CLI.hpp>

#include "cli/ExitCode.h"
#include "cli/RecordsReport.h"
#include "platform/Paths.h"
#include "records/Outcomes.h"
#include "records/RecordStore.h"
#include "records/RecordTime.h"
#include "station/StationJob.h"

namespace {

// The server's rows, counted as the journal counts its own.
std::vector<CRecordStore::StatsRow> CountYields(const std::vector<CAttempt>& attempts)
{
    records::CYieldCounts counts;
    for (const CAttempt& a : attempts) {
        const auto ms = records::ParseUtcText(a.startedUtc);
        counts.Add(ms ? records::LocalDay(*ms) : a.startedUtc.substr(0, 10), a.port, records::YieldOf(a));
    }
    return counts.Rows();
}

} // namespace

void CRecordsCommand::Register(CLI::App& app)
{
    m_command = app.add_subcommand("records", "the attempts kept in the records database");
    m_command->add_option("--since", m_since,
                          "started at or after T (2026-12-09, 2026-12-09T08:00, ...Z, today, yesterday, 08:00)");
    m_command->add_option("--until", m_until, "started before T (a date alone: up to the end of that day)");
    m_command->add_option("--port", m_port, "on this port (the name given or its device)");
    m_command->add_option("--outcome", m_outcome, "with this outcome")
        ->check(CLI::IsMember(std::vector<std::string>(std::begin(records::kOutcomes), std::end(records::kOutcomes))));
    m_command->add_option("--tag", m_tag, "with this tag");
    m_command->add_option("--serial", m_serial, "of the panels whose serial starts so (text or hex, any case)");
    CLI::Option* csv = m_command->add_flag("--csv", m_csv, "CSV (RFC 4180) with every field");
    m_command->add_flag("--json", m_json, "one JSON object per attempt, every field, times in UTC")
        ->excludes(csv);
    m_command->add_flag("--stats", m_stats, "passed, failed, stopped part-way and yield per local day and per port");
    m_command->add_option("--records", m_file,
                          "the records file (default: " + CRecordStore::DefaultPath().Utf8() + ")");
    m_command
        ->add_option("--job", m_job,
                     "the records file and records server of this station job (--records and "
                     "--records-server override them)")
        ->type_name("FILE");
    AddRecordsServerActions(m_command, m_server);
    m_command->footer("Times are local unless marked Z.\n"
                      "Example: torvane-cli records --since 2026-12-09 --port COM1 --outcome fail\n"
                      "Example: torvane-cli records --since yesterday --serial pnl-204\n"
                      "Example: torvane-cli records --job line3.job --sync");
}

bool CRecordsCommand::Chosen() const
{
    return m_command && m_command->parsed();
}

int CRecordsCommand::Run(std::ostream& out, std::ostream& err)
{
    if (!m_job.empty()) {
        // The station's own answers: where its job wrote and sent, unless told otherwise.
        station::StationJob job;
        std::string error;
        if (!station::ReadStationJob(m_job, job, error)) {
            err << "torvane-cli: " << error << '\n';
            return static_cast<int>(ExitCode::Usage);
        }
        if (const std::string refusal = RecordsServerRefusal(job.recordsServer);
            !job.recordsServer.empty() && !refusal.empty()) {
            err << "torvane-cli: " << m_job << ": records-server = ... is refused: " << refusal << '\n';
            return static_cast<int>(ExitCode::Usage);
        }
        if (m_file.empty()) m_file = job.records;
        if (m_server.url.empty()) m_server.url = job.recordsServer;
        if (m_server.access.tokenFile.empty()) m_server.access.tokenFile = job.stationToken;
        if (m_server.access.serverCert.empty()) m_server.access.serverCert = job.serverCert;
        m_server.jobFile = m_job;
    }
    CRecordFilter filter;
    filter.port = m_port;
    filter.outcome = m_outcome;
    filter.tag = m_tag;
    filter.serial = m_serial;
    const int64_t now = records::NowMs();
    for (auto [text, bound, endOfDay] :
         {std::tuple{&m_since, &filter.sinceUtc, false}, std::tuple{&m_until, &filter.untilUtc, true}}) {
        if (text->empty()) continue;
        const auto ms = records::ParseFilterTime(*text, endOfDay, now);
        if (!ms) {
            err << "torvane-cli: " << *text
                << ": not a time (2026-12-09, 2026-12-09T08:00, 2026-12-09T07:00Z, today, yesterday, 08:00)\n";
            return static_cast<int>(ExitCode::Usage);
        }
        *bound = records::UtcText(*ms);
    }

    const platform::CPath path =
        m_file.empty() ? CRecordStore::DefaultPath() : platform::CPath::FromUtf8(m_file);
    if (ServerActionChosen(m_server)) return RunServerAction(m_server, path, out, err);

    const RecordsFormat format = m_json  ? RecordsFormat::Json
                                 : m_csv ? RecordsFormat::Csv
                                         : RecordsFormat::Table;
    CRecordsReport report(format, out);
    if (!m_server.readFrom.empty()) {
        std::vector<CAttempt> attempts;
        std::string error;
        if (!QueryRecordsServer(m_server.readFrom, filter, attempts, error)) {
            err << "torvane-cli: " << error << '\n';
            return static_cast<int>(ExitCode::Failed);
        }
        if (m_stats) {
            report.Stats(CountYields(attempts));
            return static_cast<int>(ExitCode::Ok);
        }
        report.Begin();
        for (const CAttempt& a : attempts)
            report.Attempt(a);
        report.End();
        return static_cast<int>(ExitCode::Ok);
    }
    if (!platform::Exists(path)) {
        // Reading never creates: a mistyped name must not become an empty database.
        if (!m_file.empty()) {
            err << "torvane-cli: " << m_file << ": no such records file\n";
            return static_cast<int>(ExitCode::Failed);
        }
        if (m_stats)
            report.Stats({});
        else
            report.Begin(), report.End();
        return static_cast<int>(ExitCode::Ok);
    }
    std::string error;
    // Read only: a file the user may read but not write is shown all the same.
    std::unique_ptr<CRecordStore> store = CRecordStore::Open(path, RecordsFile::ReadOnly, error);
    if (!store) {
        err << "torvane-cli: " << error << '\n';
        return static_cast<int>(ExitCode::Failed);
    }
    bool read;
    if (m_stats) {
        std::vector<CRecordStore::StatsRow> rows;
        read = store->Stats(filter, rows);
        if (read) report.Stats(rows);
    } else {
        report.Begin();
        read = store->ForEach(filter, [&](const CAttempt& a) {
            report.Attempt(a);
            return static_cast<bool>(out); // a closed pipe (| head) ends the listing
        });
        if (read) report.End();
    }
    if (!read) {
        err << "torvane-cli: " << store->LastError() << '\n';
        return static_cast<int>(ExitCode::Failed);
    }
    return static_cast<int>(ExitCode::Ok);
}
