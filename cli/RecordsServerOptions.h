#pragma once
// The records server from the command line: --records-server on the commands that
// write records, and the records subcommand's --sync, --init-server and --import.
#include <chrono>
#include <ostream>
#include <string>

#include "platform/Path.h"
#include "records/server/RecordsServer.h"

namespace CLI {
class App;
}
class CRecordStore;

// --records-server URL on a command that writes records (program, verify, erase,
// station). A URL holding a password is a usage error.
void AddRecordsServerOption(CLI::App* command, std::string& url, IngestAccess& access);
// After the command's record is complete: delivers the journal's backlog to url within
// timeLimit. Nothing is lost when the server is away (the rows wait in the journal), so
// the exit code stays; a line on err tells what waits and why.
void SendRecordsAtEnd(CRecordStore& store, const std::string& url, const IngestAccess& access,
                      std::ostream& err, std::chrono::milliseconds timeLimit = std::chrono::seconds(10));

struct RecordsServerActions
{
    std::string jobFile;    // --job, for the hints
    std::string url;        // --records-server
    std::string readFrom;   // --server: read the records there instead of the journal
    std::string importFile; // --import
    IngestAccess access;    // --station-token, --server-cert
    std::string saveToken;  // --save-station-token FILE
    bool sync = false, init = false;
    bool retrySetAside = false; // --retry-set-aside, with --sync
};
void AddRecordsServerActions(CLI::App* records, RecordsServerActions& actions);
bool ServerActionChosen(const RecordsServerActions& actions);
// --sync, --init-server or --import; journal is the records file of this PC.
int RunServerAction(const RecordsServerActions& actions, const platform::CPath& journal, std::ostream& out,
                    std::ostream& err);
