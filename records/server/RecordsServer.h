#pragma once
// The records server from the command line: --records-server on the commands that
// write records, a sender for the station, and the records subcommand's --sync,
// --init-server, --import and --server. The Windows build has no server sink (Debian
// has no libpq for mingw): there the options say so and refuse.
#include <chrono>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "records/Attempt.h"
#include "records/RecordFilter.h"
#include "platform/Path.h"

namespace CLI {
class App;
}
class CRecordStore;

bool RecordsServerBuilt();

// --records-server URL on a command that writes records (program, verify, erase,
// station). A URL holding a password is a usage error.
void AddRecordsServerOption(CLI::App* command, std::string& url);
// The one rule for a records server's URL, wherever it comes from (the command line, a
// job file): why it is refused, or "" when it may be used.
std::string RecordsServerRefusal(const std::string& url);

// After the command's record is complete: delivers the journal's backlog to url within
// timeLimit. Nothing is lost when the server is away (the rows wait in the journal), so
// the exit code stays; a line on err tells what waits and why.
void SendRecordsAtEnd(CRecordStore& store, const std::string& url, std::ostream& err,
                      std::chrono::milliseconds timeLimit = std::chrono::seconds(10));

// The station's sender, beside its ports. Start is false in a build without a server sink.
class CBackgroundRecordsSender
{
public:
    CBackgroundRecordsSender();
    ~CBackgroundRecordsSender();
    bool Start(const platform::CPath& journal, const std::string& url);
    // An attempt's record was completed: send it soon.
    void Nudge();
    void Stop();
    // For the station's table: the rows the server still lacks (-1: unknown), and why
    // they wait (one line, empty when nothing is wrong).
    int64_t Waiting() const;
    std::string Problem() const;
    // The line for the station's board: what waits and why, and the rows set aside with
    // the last one's id and reason; empty when nothing is amiss.
    std::string BacklogText() const;
    // One line per row set aside, with its id and the server's reason.
    std::vector<std::string> SetAsideLines() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

struct RecordsServerActions
{
    std::string url;        // --records-server
    std::string readFrom;   // --server: read the records there instead of the journal
    std::string importFile; // --import
    bool sync = false, init = false;
    bool retrySetAside = false; // --retry-set-aside, with --sync
};
void AddRecordsServerActions(CLI::App* records, RecordsServerActions& actions);
bool ServerActionChosen(const RecordsServerActions& actions);
// --sync, --init-server or --import; journal is the records file of this PC.
int RunServerAction(const RecordsServerActions& actions, const platform::CPath& journal, std::ostream& out,
                    std::ostream& err);
// records --server URL: the attempts the filter selects, from the server.
bool QueryRecordsServer(const std::string& url, const CRecordFilter& filter, std::vector<CAttempt>& attempts,
                        std::string& error);
