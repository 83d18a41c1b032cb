#pragma once
// The records server as every front end reaches it: whether this build has a sink, the
// rule for a server's URL, the station's sender and a query. The Windows build has no
// server sink (Debian has no libpq for mingw): there each says so and refuses.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Path.h"
#include "records/Attempt.h"
#include "records/RecordFilter.h"
#include "records/server/FixtureStateRow.h"

// Whether this build reaches a PostgreSQL server (libpq); the line server's HTTPS ingest
// is in every build.
bool RecordsServerBuilt();
// Why this build sends nothing to a server, and what to do instead.
const char* NoServerSinkText();

// The line server's ingest: how a station proves who it is and whom it trusts.
struct IngestAccess
{
    std::string tokenFile;  // --station-token: the token `torvane-line station add` printed
    std::string serverCert; // --server-cert: PEM; empty: the system's store
    bool operator==(const IngestAccess&) const = default;
};

// https://HOST:PORT (or http:// to this PC): the line server, not PostgreSQL.
bool IsLineServerUrl(const std::string& url);

// The one rule for a records server's URL, wherever it comes from (the command line, a
// job file): why it is refused, or "" when it may be used.
std::string RecordsServerRefusal(const std::string& url);

// The command that sends a journal's backlog, for the hints that say how: the journal,
// the server as given (empty: libpq's environment) and the station's job file, if any.
struct SyncTarget
{
    platform::CPath journal;
    std::string url;
    std::string jobFile;
    IngestAccess access;
};
// "torvane-cli records --job /srv/line3.job --records /srv/line3.db --records-server
// 'host=db' --sync", with absolute paths and quoted for the shell, so it works pasted
// into any folder.
std::string SyncCommand(const SyncTarget& target, bool retrySetAside = false);

// The station's sender, beside its ports. Start is false in a build without a server sink.
class CBackgroundRecordsSender
{
public:
    CBackgroundRecordsSender();
    ~CBackgroundRecordsSender();
    // jobFile: the station's, for the hints that name the command sending what is left.
    bool Start(const platform::CPath& journal, const std::string& url, const std::string& jobFile = {},
               const IngestAccess& access = {});
    // The command that sends what is left (SyncCommand).
    std::string SyncHint(bool retrySetAside = false) const;
    // An attempt's record was completed: send it soon.
    void Nudge();
    // A fixture's state now, for the line's server.
    void PublishState(const records_server::CFixtureStateRow& row);
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
    SyncTarget m_target;
};

// records --server URL: the attempts the filter selects, from the server.
bool QueryRecordsServer(const std::string& url, const CRecordFilter& filter, std::vector<CAttempt>& attempts,
                        std::string& error);
