#include "records/server/RecordsServer.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/Path.h"
#include "platform/ThisProcess.h"

#include "records/RecordStore.h"
#include "records/server/FixtureStatePublisher.h"
#include "records/server/LineServerPost.h"
#include "records/server/RecordsSender.h"

#ifdef TORVANE_RECORDS_SERVER
#include "records/server/PgConnection.h"
#include "records/server/ServerRecords.h"
#endif

const char* NoServerSinkText()
{
    return "this Windows build reaches no PostgreSQL server: send the records to the line server "
           "(--records-server https://HOST:PORT --station-token FILE), or export them with "
           "torvane-cli records --json and import that file on a Linux host with "
           "torvane-cli records --import FILE --records-server URL";
}

bool IsLineServerUrl(const std::string& url)
{
    return url.rfind("https://", 0) == 0 || url.rfind("http://", 0) == 0;
}

bool RecordsServerBuilt()
{
#ifdef TORVANE_RECORDS_SERVER
    return true;
#else
    return false;
#endif
}

std::string RecordsServerRefusal(const std::string& url)
{
    if (IsLineServerUrl(url)) {
        std::string why;
        return records_server::ParseLineServerUrl(url, why) ? std::string() : why;
    }
#ifdef TORVANE_RECORDS_SERVER
    return CPgConnection::Refuse(url);
#else
    (void)url;
    return NoServerSinkText();
#endif
}

namespace {

// A word as the shell takes it back whole: quoted unless it is plain.
std::string ShellWord(const std::string& word)
{
    const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("_-./:=@%+,", c);
    });
    if (plain) return word;
#ifdef _WIN32
    return "\"" + word + "\"";
#else
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
#endif
}

} // namespace

std::string SyncCommand(const SyncTarget& target, bool retrySetAside)
{
    std::string command = "torvane-cli records";
    if (!target.jobFile.empty())
        command +=
            " --job " + ShellWord(platform::Absolute(platform::CPath::FromUtf8(target.jobFile)).Utf8());
    // Named even where the job names them: the command line may have overridden the job.
    command += " --records " + ShellWord(platform::Absolute(target.journal).Utf8());
    if (!target.url.empty()) command += " --records-server " + ShellWord(target.url);
    if (!target.access.tokenFile.empty())
        command += " --station-token " +
                   ShellWord(platform::Absolute(platform::CPath::FromUtf8(target.access.tokenFile)).Utf8());
    if (!target.access.serverCert.empty())
        command += " --server-cert " +
                   ShellWord(platform::Absolute(platform::CPath::FromUtf8(target.access.serverCert)).Utf8());
    command += " --sync";
    if (retrySetAside) command += " --retry-set-aside";
    return command;
}

struct CBackgroundRecordsSender::Impl
{
    std::unique_ptr<CRecordsSender> sender;
    std::unique_ptr<records_server::CFixtureStatePublisher> states;
};

CBackgroundRecordsSender::CBackgroundRecordsSender() : m_impl(std::make_unique<Impl>()) {}
CBackgroundRecordsSender::~CBackgroundRecordsSender()
{
    Stop();
}

bool CBackgroundRecordsSender::Start(const platform::CPath& journal, const std::string& url,
                                     const std::string& jobFile, const IngestAccess& access)
{
    m_target = {journal, url, jobFile, access};
#ifndef TORVANE_RECORDS_SERVER
    if (!IsLineServerUrl(url)) return false;
#endif
    m_impl->sender = std::make_unique<CRecordsSender>(journal.Native(), url, access);
    m_impl->sender->Start();
    m_impl->states =
        std::make_unique<records_server::CFixtureStatePublisher>(url, platform::HostName(), access);
    m_impl->states->Start();
    return true;
}

void CBackgroundRecordsSender::Nudge()
{
    if (m_impl->sender) m_impl->sender->Nudge();
}

std::string CBackgroundRecordsSender::SyncHint(bool retrySetAside) const
{
    return SyncCommand(m_target, retrySetAside);
}

void CBackgroundRecordsSender::PublishState(const records_server::CFixtureStateRow& row)
{
    if (m_impl->states) m_impl->states->Publish(row);
}

void CBackgroundRecordsSender::Stop()
{
    if (m_impl->states) m_impl->states->Stop();
    if (m_impl->sender) m_impl->sender->Stop();
}

int64_t CBackgroundRecordsSender::Waiting() const
{
    if (m_impl->sender) return m_impl->sender->Last().waiting;
    return -1;
}

std::string CBackgroundRecordsSender::BacklogText() const
{
    if (!m_impl->sender) return {};
    const SendReport last = m_impl->sender->Last();
    std::string text;
    // An attempt still under way is not owed to the server yet: it goes once it ends.
    const int64_t late = last.waiting - last.running;
    if (late > 0)
        text = std::to_string(late) + " not yet on the server" +
               (last.problem.empty() ? "" : " (" + last.problem + ")");
    if (!last.setAside.empty())
        text += (text.empty() ? "" : "; ") + std::to_string(last.setAside.size()) +
                " set aside: " + last.setAside.back().id + " (" + last.setAside.back().reason + ")" +
                (last.setAside.size() > 1 ? " and earlier ones" : "");
    return text.empty() ? text : "records: " + text;
}

std::vector<std::string> CBackgroundRecordsSender::SetAsideLines() const
{
    std::vector<std::string> lines;
    if (m_impl->sender)
        for (const CRecordStore::SetAsideRow& row : m_impl->sender->Last().setAside)
            lines.push_back("record " + row.id + " set aside, the server refused it: " + row.reason + " (" +
                            SyncCommand(m_target, true) + " sends it again)");
    return lines;
}

std::string CBackgroundRecordsSender::Problem() const
{
    if (m_impl->sender) return m_impl->sender->Last().problem;
#ifdef TORVANE_RECORDS_SERVER
    return {};
#else
    return NoServerSinkText();
#endif
}

bool QueryRecordsServer(const std::string& url, const CRecordFilter& filter, std::vector<CAttempt>& attempts,
                        std::string& error)
{
    if (IsLineServerUrl(url)) {
        error = "--server: the line server is read in a browser; records --server takes a PostgreSQL server";
        return false;
    }
#ifdef TORVANE_RECORDS_SERVER
    if (const std::string refused = CPgConnection::Refuse(url); !refused.empty()) {
        error = "--server: " + refused;
        return false;
    }
    CPgConnection conn;
    if (!conn.Connect(url, error) || !records_server::Query(conn, filter, attempts, error)) {
        error = "records server: " + error;
        return false;
    }
    return true;
#else
    (void)url, (void)filter, (void)attempts;
    error = NoServerSinkText();
    return false;
#endif
}
