#include "cli/RecordsServerOptions.h"

#include <CLI/CLI.hpp>

#include <nlohmann/json.hpp>

#include "cli/ExitCode.h"
#include "platform/ShownText.h"
#include "platform/ThisProcess.h"
#include "records/AttemptFormats.h"
#include "records/RecordStore.h"

#include <iostream>
#include <iterator>

#include "records/server/RecordsSender.h"
#include "records/server/StationToken.h"

#ifdef TORVANE_RECORDS_SERVER
#include <fstream>

#include "records/server/PgConnection.h"
#include "records/server/ServerRecords.h"
#endif

namespace {

std::string Records(int64_t count)
{
    return std::to_string(count) + (count == 1 ? " record" : " records");
}

// One line per row set aside, naming it, for standard error.
void TellSetAside(const std::vector<CRecordStore::SetAsideRow>& rows, const std::string& who,
                  const SyncTarget& target, std::ostream& err)
{
    for (const CRecordStore::SetAsideRow& row : rows)
        err << who << "record " << row.id
            << " set aside, the server refused it: " << platform::ShownText(row.reason) << " ("
            << platform::ShownText(SyncCommand(target, true)) << " sends it again)\n";
}

int Sync(const SyncTarget& target, bool retrySetAside, std::ostream& out, std::ostream& err)
{
    const std::string& url = target.url;
    const platform::CPath& journal = target.journal;
    if (!platform::Exists(journal)) {
        out << "No records file (" << journal.Utf8() << "): nothing to send.\n";
        return static_cast<int>(ExitCode::Ok);
    }
    std::string error;
    const std::unique_ptr<CRecordStore> store = CRecordStore::Open(journal, RecordsFile::Named, error);
    if (!store) {
        err << "torvane-cli: " << error << '\n';
        return static_cast<int>(ExitCode::Failed);
    }
    if (retrySetAside && !store->RetrySetAside()) {
        err << "torvane-cli: " << store->LastError() << '\n';
        return static_cast<int>(ExitCode::Failed);
    }
    CServerSink sink(url, target.access);
    const SendReport report = sink.SendBacklog(*store, std::chrono::steady_clock::time_point::max());
    out << Records(report.sent) << " sent, " << (report.waiting < 0 ? "?" : std::to_string(report.waiting))
        << " left"
        << (report.setAside.empty() ? "" : ", " + std::to_string(report.setAside.size()) + " set aside")
        << ".\n";
    for (const std::string& note : report.notes)
        err << "torvane-cli: " << platform::ShownText(note) << '\n';
    TellSetAside(report.setAside, "torvane-cli: ", target, err);
    if (!report.problem.empty())
        err << "torvane-cli: records server: " << platform::ShownText(report.problem) << '\n';
    else if (report.running > 0)
        err << "torvane-cli: " << Records(report.running)
            << " of attempts still in progress: sent once they end\n";
    return static_cast<int>(report.waiting == 0 && report.setAside.empty() ? ExitCode::Ok : ExitCode::Failed);
}

int SaveToken(const std::string& file, std::istream& in, std::ostream& out, std::ostream& err)
{
    // One line: the token as torvane-line station add printed it.
    std::string token;
    std::getline(in, token);
    std::string error;
    if (!records_server::SaveStationToken(platform::CPath::FromUtf8(file), token, error)) {
        err << "torvane-cli: " << platform::ShownText(error) << '\n';
        return static_cast<int>(ExitCode::Failed);
    }
    out << "Station token saved in " << file << " (for this user only).\n";
    return static_cast<int>(ExitCode::Ok);
}

#ifdef TORVANE_RECORDS_SERVER
bool Connect(CPgConnection& conn, const std::string& url, std::ostream& err)
{
    std::string error;
    if (conn.Connect(url, error)) return true;
    err << "torvane-cli: records server: " << error << '\n';
    return false;
}

// A line longer than any record of records --json: a file that is not an export (say,
// /dev/zero) is refused instead of read into memory whole.
constexpr size_t kLongestImportLine = 1 << 20;

enum class LineRead { Line, End, TooLong, Failed };

// One line, without its line break; a read error (libstdc++ sets badbit) is told apart
// from the file's end.
LineRead ReadLine(std::istream& in, std::string& line)
{
    line.clear();
    char c;
    while (in.get(c)) {
        if (c == '\n') return LineRead::Line;
        if (line.size() == kLongestImportLine) return LineRead::TooLong;
        line += c;
    }
    if (in.bad()) return LineRead::Failed;
    return line.empty() ? LineRead::End : LineRead::Line;
}

int Import(const std::string& url, const std::string& file, std::ostream& out, std::ostream& err)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        err << "torvane-cli: " << file << ": cannot be read\n";
        return static_cast<int>(ExitCode::Failed);
    }
    // All or nothing checked before the first row goes: a damaged export is refused whole,
    // and so is one whose reading ended anywhere but at its end.
    std::vector<CAttempt> attempts;
    std::string line;
    for (int number = 1;; ++number) {
        const LineRead read = ReadLine(in, line);
        if (read == LineRead::End) break;
        if (read == LineRead::Failed || read == LineRead::TooLong) {
            err << "torvane-cli: " << file << ":" << number << ": "
                << (read == LineRead::Failed ? "the file could not be read to its end"
                                             : "a line longer than any record of torvane-cli records --json")
                << "; nothing imported\n";
            return static_cast<int>(ExitCode::Failed);
        }
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
        CAttempt attempt;
        if (object.is_discarded() || !records::AttemptFromJson(object, attempt)) {
            err << "torvane-cli: " << file << ":" << number
                << ": not a record of torvane-cli records --json; nothing imported\n";
            return static_cast<int>(ExitCode::Failed);
        }
        attempts.push_back(std::move(attempt));
    }
    CPgConnection conn;
    if (!Connect(conn, url, err)) return static_cast<int>(ExitCode::Failed);
    std::string error;
    if (!records_server::PrepareImport(conn, error) || !conn.Exec("BEGIN").Ok()) {
        err << "torvane-cli: records server: " << (error.empty() ? conn.Error() : error) << '\n';
        return static_cast<int>(ExitCode::Failed);
    }
    const std::string host = platform::HostName();
    int64_t added = 0, there = 0, completed = 0;
    for (const CAttempt& attempt : attempts) {
        switch (records_server::Import(conn, attempt, host, error)) {
        case records_server::Imported::New:
            ++added;
            break;
        case records_server::Imported::Completed:
            ++completed;
            [[fallthrough]];
        case records_server::Imported::AlreadyThere:
            ++there;
            break;
        case records_server::Imported::Failed:
            conn.Exec("ROLLBACK");
            err << "torvane-cli: records server: " << platform::ShownText(error) << "; nothing imported\n";
            return static_cast<int>(ExitCode::Failed);
        }
    }
    if (const CPgResult commit = conn.Exec("COMMIT"); !commit.Ok()) {
        err << "torvane-cli: records server: " << commit.Error() << "; nothing imported\n";
        return static_cast<int>(ExitCode::Failed);
    }
    out << "Imported from " << file << ": " << Records(added) << " new, " << there << " already there"
        << (completed ? " (" + std::to_string(completed) + " unfinished completed)" : "") << ".\n";
    return static_cast<int>(ExitCode::Ok);
}
#endif

} // namespace

void AddRecordsServerOption(CLI::App* command, std::string& url, IngestAccess& access)
{
    command
        ->add_option("--records-server", url,
                     RecordsServerBuilt()
                         ? "also send the records to this server: the line server (https://HOST:PORT) or "
                           "PostgreSQL (a libpq connection string; the password from ~/.pgpass)"
                         : "also send the records to the line server (https://HOST:PORT)")
        ->type_name("URL")
        ->check(CLI::Validator([](std::string& text) { return RecordsServerRefusal(text); }, "", ""));
    command
        ->add_option("--station-token", access.tokenFile,
                     "the file holding this station's token for the line server (written by the records command)")
        ->type_name("FILE");
    command
        ->add_option("--server-cert", access.serverCert,
                     "trust the line server's certificate, or the authority that signed it, from this PEM "
                     "file (default: the system's store)")
        ->type_name("FILE");
}

void SendRecordsAtEnd(CRecordStore& store, const std::string& url, const IngestAccess& access,
                      std::ostream& err, std::chrono::milliseconds timeLimit)
{
    if (url.empty()) return;
    CServerSink sink(url, access);
    const SendReport report = sink.SendBacklog(store, std::chrono::steady_clock::now() + timeLimit);
    for (const std::string& note : report.notes)
        err << "torvane-cli: records server: " << platform::ShownText(note) << '\n';
    const SyncTarget target{store.Path(), url, {}, access};
    TellSetAside(report.setAside, "torvane-cli: records server: ", target, err);
    if (!report.problem.empty())
        err << "torvane-cli: records server: " << platform::ShownText(report.problem) << "; "
            << (report.waiting < 0 ? "records" : Records(report.waiting)) << " wait in "
            << platform::ShownText(platform::Absolute(store.Path()).Utf8()) << " ("
            << platform::ShownText(SyncCommand(target)) << " sends them)\n";
}

void AddRecordsServerActions(CLI::App* records, RecordsServerActions& actions)
{
    AddRecordsServerOption(records, actions.url, actions.access);
    if (RecordsServerBuilt())
        records->get_option("--records-server")
            ->description("the server of --sync (the line server, https://HOST:PORT, or PostgreSQL), "
                          "--init-server and --import (a libpq connection string; default: libpq's "
                          "environment)");
    else
        records->get_option("--records-server")->description("the line server of --sync (https://HOST:PORT)");
    const std::string where = RecordsServerBuilt() ? "" : " (not in the Windows build)";
    CLI::Option* sync = records->add_flag("--sync", actions.sync,
                                          "send what the server lacks; exit 0 only when nothing is left");
    CLI::Option* save =
        records
            ->add_option("--save-station-token", actions.saveToken,
                         "store the line server's token for this station, read from standard input, in FILE "
                         "(readable by this user only)")
            ->type_name("FILE");
    CLI::Option* init = records->add_flag("--init-server", actions.init,
                                          "create or migrate the records tables on the server" + where);
    CLI::Option* import =
        records->add_option("--import", actions.importFile,
                            "send a records --json export (a Windows station's) to the server" + where);
    CLI::Option* retry =
        records->add_flag("--retry-set-aside", actions.retrySetAside,
                          "with --sync: send again the records the server refused for their data" + where);
    retry->needs(sync);
    CLI::Option* read =
        records
            ->add_option("--server", actions.readFrom,
                         "read the records from this server instead of this PC's file" + where)
            ->type_name("URL");
    sync->excludes(init)->excludes(import)->excludes(read)->excludes(save);
    save->excludes(init)->excludes(import)->excludes(read);
    init->excludes(import)->excludes(read);
    import->excludes(read);
    import->type_name("FILE");
}

bool ServerActionChosen(const RecordsServerActions& actions)
{
    return actions.sync || actions.init || !actions.importFile.empty() || !actions.saveToken.empty();
}

int RunServerAction(const RecordsServerActions& actions, const platform::CPath& journal, std::ostream& out,
                    std::ostream& err)
{
    if (!actions.saveToken.empty()) return SaveToken(actions.saveToken, std::cin, out, err);
    if (actions.sync)
        return Sync({journal, actions.url, actions.jobFile, actions.access}, actions.retrySetAside, out, err);
    if (IsLineServerUrl(actions.url)) {
        err << "torvane-cli: --init-server and --import take a PostgreSQL server, not the line server\n";
        return static_cast<int>(ExitCode::Usage);
    }
#ifdef TORVANE_RECORDS_SERVER
    if (!actions.importFile.empty()) return Import(actions.url, actions.importFile, out, err);
    CPgConnection conn;
    if (!Connect(conn, actions.url, err)) return static_cast<int>(ExitCode::Failed);
    std::string done, error;
    if (!records_server::InitSchema(conn, done, error)) {
        err << "torvane-cli: records server: " << error << '\n';
        return static_cast<int>(ExitCode::Failed);
    }
    out << done << ".\n";
    return static_cast<int>(ExitCode::Ok);
#else
    err << "torvane-cli: " << NoServerSinkText() << '\n';
    return static_cast<int>(ExitCode::Usage);
#endif
}
