#include "records/server/RecordsSender.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>

#include "records/RecordStore.h"
#include "records/server/ServerRecords.h"
#include "platform/ThisProcess.h"
#include "platform/posix/UniqueFd.h"

namespace {

// Rows per server transaction: few round trips per commit, a short transaction.
constexpr size_t kBatch = 100;
constexpr std::chrono::milliseconds kLockPoll{50};

// The sender's lock: an exclusive flock on a file beside the journal, released by the
// kernel however the process ends.
platform::CUniqueFd LockJournal(const std::filesystem::path& journal,
                                std::chrono::steady_clock::time_point deadline, std::string& error)
{
    const std::string path = journal.string() + "-send.lock";
    platform::CUniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.Valid()) {
        error = path + ": cannot be opened";
        return {};
    }
    while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            error = path + ": cannot be locked";
            return {};
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            error = "another sender is delivering this journal's records";
            return {};
        }
        std::this_thread::sleep_for(kLockPoll);
    }
    return fd;
}

enum class Sending { Wait, Send, SendUnchecked };

// An unfinished attempt whose process is gone will never be completed: it goes as it is.
// The journal is this PC's, so a row of another host name was written here before the
// host was renamed: unless its process still runs here, it goes too, with that said.
Sending Sendable(const CRecordStore::Unsent& row, const std::string& thisHost)
{
    if (row.outcome != outcome::kUnfinished) return Sending::Send;
    const std::string now = platform::ProcessStartStamp(row.processId);
    if (!now.empty() && now == row.processStart) return Sending::Wait;
    return row.host == thisHost ? Sending::Send : Sending::SendUnchecked;
}

std::string UncheckedReason(const std::string& writtenOn, const std::string& thisHost)
{
    return "sent unfinished by " + thisHost + ": written on host " + writtenOn +
           ", whose process cannot be checked here";
}

} // namespace

CServerSink::CServerSink(std::string url) : m_url(std::move(url)), m_stationHost(platform::HostName()) {}

bool CServerSink::Ready(std::string& error)
{
    if (m_conn.Connected() && m_prepared) return true;
    m_prepared = false;
    if (!m_conn.Connected() && !m_conn.Connect(m_url, error)) return false;
    if (!records_server::PrepareUpsert(m_conn, error)) {
        m_conn.Close();
        return false;
    }
    m_prepared = true;
    return true;
}

SendReport CServerSink::SendBacklog(CRecordStore& store, std::chrono::steady_clock::time_point deadline)
{
    SendReport report;
    auto finish = [&] {
        if (!store.CountUnsent(report.waiting)) report.waiting = -1;
        if (!store.ListSetAside(report.setAside) && report.problem.empty())
            report.problem = store.LastError();
        return report;
    };
    const platform::CUniqueFd lock = LockJournal(store.Path().Native(), deadline, report.problem);
    if (!lock.Valid()) {
        return finish();
    }
    std::vector<CRecordStore::Unsent> unsent;
    if (!store.ListUnsent(unsent)) {
        report.problem = store.LastError();
        return finish();
    }
    std::vector<std::string> ids;
    std::vector<std::string> unchecked; // the writer's host, for those sent unchecked
    for (const CRecordStore::Unsent& row : unsent) {
        const Sending sending = Sendable(row, m_stationHost);
        if (sending == Sending::Wait) {
            ++report.running;
            continue;
        }
        ids.push_back(row.id);
        unchecked.push_back(sending == Sending::SendUnchecked ? row.host : std::string());
    }
    m_conn.SetDeadline(deadline);
    if (!ids.empty() && !Ready(report.problem)) {
        return finish();
    }
    for (size_t first = 0; first < ids.size() && report.problem.empty();) {
        if (std::chrono::steady_clock::now() >= deadline) {
            report.problem = "out of time";
            break;
        }
        std::vector<std::pair<std::string, int64_t>> delivered;
        std::vector<std::string> notes;
        CPgResult begin = m_conn.Exec("BEGIN");
        if (!begin.Ok() && !m_conn.Connected() && first == 0) {
            // A kept connection that the server dropped meanwhile (a restart): one new try.
            m_prepared = false;
            if (Ready(report.problem)) begin = m_conn.Exec("BEGIN");
        }
        if (!begin.Ok() && report.problem.empty()) report.problem = begin.Error();
        const size_t end = std::min(ids.size(), first + kBatch);
        std::optional<size_t> refused;
        int64_t refusedRevision = 0;
        std::string refusedWhy;
        for (size_t i = first; i < end && report.problem.empty(); ++i) {
            CAttempt attempt;
            if (!store.Read(ids[i], attempt)) {
                if (!store.LastError().empty()) report.problem = store.LastError();
                continue;
            }
            if (!unchecked[i].empty() && attempt.outcome == outcome::kUnfinished) {
                const std::string reason = UncheckedReason(unchecked[i], m_stationHost);
                attempt.messages.push_back(reason);
                notes.push_back("record " + attempt.id + ": " + reason);
            }
            std::string state;
            if (records_server::Upsert(m_conn, attempt, m_stationHost, report.problem, &state)) {
                delivered.emplace_back(attempt.id, attempt.revision);
            } else if (IsDataError(state)) {
                // The row itself is refused: sending it again changes nothing, so it must
                // not hold back the rows behind it.
                refused = i;
                refusedRevision = attempt.revision;
                const std::string prefix = "record " + attempt.id + ": ";
                refusedWhy = report.problem.rfind(prefix, 0) == 0 ? report.problem.substr(prefix.size())
                                                                  : report.problem;
                report.problem.clear();
                break;
            }
        }
        if (refused) {
            m_conn.Exec("ROLLBACK");
            if (!store.SetAside(ids[*refused], refusedRevision, refusedWhy)) {
                report.problem = store.LastError();
                break;
            }
            // The batch goes again without it.
            ids.erase(ids.begin() + static_cast<std::ptrdiff_t>(*refused));
            unchecked.erase(unchecked.begin() + static_cast<std::ptrdiff_t>(*refused));
            continue;
        }
        if (report.problem.empty()) {
            // The server's acknowledgement: only a committed batch is marked sent. Should the
            // answer to COMMIT be lost, the batch goes again and the upsert changes nothing.
            const CPgResult commit = m_conn.Exec("COMMIT");
            if (!commit.Ok()) report.problem = commit.Error();
        } else {
            m_conn.Exec("ROLLBACK");
        }
        if (!report.problem.empty()) break;
        if (!store.MarkSent(delivered)) {
            report.problem = store.LastError();
            break;
        }
        report.sent += static_cast<int64_t>(delivered.size());
        report.notes.insert(report.notes.end(), notes.begin(), notes.end());
        first = end;
    }
    if (!report.problem.empty() && report.problem.rfind("out of time", 0) != 0 &&
        std::chrono::steady_clock::now() >= deadline)
        report.problem = "out of time (" + report.problem + ")";
    if (!m_conn.Connected()) m_prepared = false;
    return finish();
}

CRecordsSender::CRecordsSender(std::filesystem::path journal, std::string url)
    : m_journal(std::move(journal)), m_url(std::move(url))
{
}

CRecordsSender::~CRecordsSender()
{
    Stop();
}

void CRecordsSender::Start()
{
    if (!m_thread.joinable()) m_thread = std::thread([this] { Loop(); });
}

void CRecordsSender::Nudge()
{
    std::lock_guard lock(m_mutex);
    m_nudged = true;
    m_wake.notify_one();
}

void CRecordsSender::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_wake.notify_one();
    }
    if (m_thread.joinable()) m_thread.join();
}

SendReport CRecordsSender::Last() const
{
    std::lock_guard lock(m_mutex);
    return m_last;
}

void CRecordsSender::Loop()
{
    CServerSink sink(m_url);
    std::unique_ptr<CRecordStore> store;
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        m_wake.wait_for(lock, kRetry, [this] { return m_nudged || m_stopping; });
        if (m_stopping) break;
        m_nudged = false;
        lock.unlock();
        SendReport report;
        std::string error;
        if (!store) store = CRecordStore::Open(m_journal, RecordsFile::Named, error);
        if (store)
            report = sink.SendBacklog(*store, std::chrono::steady_clock::now() + std::chrono::minutes(1));
        else
            report.waiting = -1, report.problem = error;
        lock.lock();
        m_last = report;
    }
}
