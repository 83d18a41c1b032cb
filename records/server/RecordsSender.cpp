#include "records/server/RecordsSender.h"

#include <algorithm>

#include "platform/ThisProcess.h"
#include "records/RecordStore.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

#include "platform/posix/UniqueFd.h"
#endif

namespace {

constexpr std::chrono::milliseconds kLockPoll{50};

// The sender's lock: an exclusive lock on a file beside the journal, released by the
// kernel however the process ends.
class CSendLock
{
public:
    CSendLock(const platform::CPath& journal, std::chrono::steady_clock::time_point deadline,
              std::string& error)
    {
        const platform::CPath path = journal.WithSuffix("-send.lock");
#ifdef _WIN32
        m_file = ::CreateFileW(path.Native().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (m_file == INVALID_HANDLE_VALUE) {
            error =
                path.Utf8() + ": cannot be opened";
            return;
        }
        for (;;) {
            OVERLAPPED at{};
            if (::LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
                break;
            if (::GetLastError() != ERROR_LOCK_VIOLATION) {
                error = path.Utf8() +
                        ": cannot be locked";
                Release();
                return;
            }
            if (!Wait(deadline, error)) return;
        }
        m_held = true;
#else
        m_fd = platform::CUniqueFd(::open(path.Native().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!m_fd.Valid()) {
            error = path.Utf8() + ": cannot be opened";
            return;
        }
        while (::flock(m_fd.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                error = path.Utf8() + ": cannot be locked";
                m_fd = {};
                return;
            }
            if (!Wait(deadline, error)) return;
        }
        m_held = true;
#endif
    }
    ~CSendLock()
    {
        Release();
    }
    CSendLock(const CSendLock&) = delete;
    CSendLock& operator=(const CSendLock&) = delete;
    bool Held() const
    {
        return m_held;
    }

private:
    bool Wait(std::chrono::steady_clock::time_point deadline, std::string& error)
    {
        if (std::chrono::steady_clock::now() >= deadline) {
            error = "another sender is delivering this journal's records";
            Release();
            return false;
        }
        std::this_thread::sleep_for(kLockPoll);
        return true;
    }
    void Release()
    {
        m_held = false;
#ifdef _WIN32
        if (m_file != INVALID_HANDLE_VALUE) ::CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
#else
        m_fd = {};
#endif
    }

    bool m_held = false;
#ifdef _WIN32
    HANDLE m_file = INVALID_HANDLE_VALUE;
#else
    platform::CUniqueFd m_fd;
#endif
};

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

CServerSink::CServerSink(std::string url, IngestAccess access)
    : m_url(std::move(url)), m_access(std::move(access)), m_stationHost(platform::HostName())
{
}

SendReport CServerSink::SendBacklog(CRecordStore& store, std::chrono::steady_clock::time_point deadline)
{
    using records_server::RowAnswer;
    SendReport report;
    auto finish = [&] {
        if (!store.CountUnsent(report.waiting)) report.waiting = -1;
        if (!store.ListSetAside(report.setAside) && report.problem.empty())
            report.problem = store.LastError();
        return report;
    };
    const CSendLock lock(store.Path().Native(), deadline, report.problem);
    if (!lock.Held()) {
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
    if (!ids.empty() && !m_delivery) {
        m_delivery = records_server::MakeDelivery(m_url, m_access, m_stationHost, report.problem);
        if (!m_delivery) return finish();
    }
    for (size_t first = 0; first < ids.size() && report.problem.empty();) {
        if (std::chrono::steady_clock::now() >= deadline) {
            report.problem = "out of time";
            break;
        }
        const size_t end = std::min(ids.size(), first + m_delivery->BatchSize());
        std::vector<CAttempt> batch;
        std::vector<size_t> at;         // each row's place in ids
        std::vector<std::string> notes; // by row of the batch
        std::vector<size_t> gone;       // rows no longer in the journal
        for (size_t i = first; i < end && report.problem.empty(); ++i) {
            CAttempt attempt;
            if (!store.Read(ids[i], attempt)) {
                if (!store.LastError().empty()) report.problem = store.LastError();
                else
                    gone.push_back(i);
                continue;
            }
            std::string note;
            if (!unchecked[i].empty() && attempt.outcome == outcome::kUnfinished) {
                const std::string reason = UncheckedReason(unchecked[i], m_stationHost);
                attempt.messages.push_back(reason);
                note = "record " + attempt.id + ": " + reason;
            }
            batch.push_back(std::move(attempt));
            at.push_back(i);
            notes.push_back(std::move(note));
        }
        if (!report.problem.empty()) break;
        std::vector<RowAnswer> answers;
        if (!batch.empty() && !m_delivery->Deliver(batch, deadline, answers, report.problem)) break;
        if (answers.size() != batch.size()) answers.resize(batch.size());
        // Only what the server acknowledged is marked sent; a row it refused for its data
        // is set aside, since sending it again changes nothing and it must not hold back
        // the rows behind it. The rest goes again with the next batch.
        std::vector<std::pair<std::string, int64_t>> delivered;
        std::vector<size_t> answered = gone;
        for (size_t k = 0; k < batch.size() && report.problem.empty(); ++k) {
            if (answers[k].said == RowAnswer::Said::Stored) {
                delivered.emplace_back(batch[k].id, batch[k].revision);
                if (!notes[k].empty()) report.notes.push_back(notes[k]);
                answered.push_back(at[k]);
            } else if (answers[k].said == RowAnswer::Said::Refused) {
                if (!store.SetAside(batch[k].id, batch[k].revision, answers[k].reason))
                    report.problem = store.LastError();
                answered.push_back(at[k]);
            }
        }
        if (!store.MarkSent(delivered)) {
            report.problem = store.LastError();
            break;
        }
        report.sent += static_cast<int64_t>(delivered.size());
        if (answered.empty()) {
            report.problem = "the server stored none of " + std::to_string(batch.size()) + " records";
            break;
        }
        std::sort(answered.rbegin(), answered.rend());
        for (const size_t i : answered) {
            ids.erase(ids.begin() + static_cast<std::ptrdiff_t>(i));
            unchecked.erase(unchecked.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    if (!report.problem.empty() && report.problem.rfind("out of time", 0) != 0 &&
        std::chrono::steady_clock::now() >= deadline)
        report.problem = "out of time (" + report.problem + ")";
    return finish();
}

CRecordsSender::CRecordsSender(platform::CPath journal, std::string url, IngestAccess access)
    : m_journal(std::move(journal)), m_url(std::move(url)), m_access(std::move(access))
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
    CServerSink sink(m_url, m_access);
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
