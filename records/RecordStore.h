#pragma once
// The records database: one row per attempt at a panel, in an SQLite file that many
// processes (one per port) write at once. A row is inserted as "unfinished" when the
// attempt begins and completed when it ends, so an attempt cut short by a crash or a
// power cut stays visible.
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "records/Attempt.h"
#include "records/Outcomes.h"
#include "records/RecordFilter.h"
#include "records/SqliteStatement.h"
#include "platform/Path.h"

enum class RecordsFile {
    Named,    // --records FILE: any doubt about the file refuses it
    Default,  // the default file: its folder is created; the caller warns and goes on without
    ReadOnly, // an existing file, only read (records): nothing is created, migrated or written
};

class CRecordStore
{
public:
    static constexpr int kSchemaVersion = 8;

    // The file, opened and checked, with its schema in place; or nothing, with the
    // reason as one line in error ("FILE: is not a records database"). A file that is
    // refused is left exactly as it was. A new file (and its -wal and -shm) is readable
    // by its owner only: the records name panels, users and hosts.
    static std::unique_ptr<CRecordStore> Open(const platform::CPath& path, RecordsFile kind,
                                              std::string& error);
    static platform::CPath DefaultPath();

    // Inserts the attempt as unfinished; fills its id, start, host, user, process and
    // tool version where empty (StampBegun).
    bool Begin(CAttempt& attempt);
    // What Begin and Complete fill in, for an attempt that is told (to a hook) without
    // being stored: the attempt begun as unfinished, then its end time and duration.
    static void StampBegun(CAttempt& attempt);
    static void StampEnded(CAttempt& attempt);
    // How long a write waits for another writer (15 s unless set).
    void SetBusyTimeout(int milliseconds);
    // Writes the attempt's end (its end time and duration unless set) over its row.
    bool Complete(CAttempt& attempt);
    // The attempts the filter selects, oldest first.
    bool Query(const CRecordFilter& filter, std::vector<CAttempt>& attempts);
    // The same, one at a time and never all held at once; onAttempt returns false to stop.
    bool ForEach(const CRecordFilter& filter, const std::function<bool(const CAttempt&)>& onAttempt);
    // The attempts the filter selects, counted per local day and per port (records::Yield
    // says what counts as what); a group with nothing to count is left out.
    using StatsRow = records::CYieldRow;
    bool Stats(const CRecordFilter& filter, std::vector<StatsRow>& rows);

    // For a sender to a server: the rows not yet delivered at their present revision and
    // not set aside, in start order, with what tells whether an unfinished one can still
    // be completed.
    struct Unsent
    {
        std::string id, outcome, host, processStart;
        uint32_t processId = 0;
    };
    bool ListUnsent(std::vector<Unsent>& rows);
    // The row with this id; false (and no error) when there is none.
    bool Read(const std::string& id, CAttempt& attempt);
    // The newest attempt this host made on the port (as the user named it); false (and no
    // error) when there is none.
    bool LastOnPort(const std::string& port, CAttempt& attempt);
    // Stores, in one transaction, that the server acknowledged each id at its revision.
    // A row written again since keeps its higher revision, so it stays unsent.
    bool MarkSent(const std::vector<std::pair<std::string, int64_t>>& delivered);
    // The rows not delivered, set-aside ones not counted.
    bool CountUnsent(int64_t& count);

    // A row the server refused for its data: kept out of the sends, with the server's
    // reason, until it is written again or RetrySetAside. Only the revision that was
    // refused is set aside (a row completed meanwhile goes again).
    bool SetAside(const std::string& id, int64_t revision, const std::string& reason);
    struct SetAsideRow
    {
        std::string id, reason;
    };
    bool ListSetAside(std::vector<SetAsideRow>& rows);
    bool RetrySetAside();
    // Why the last call failed, as one line.
    const std::string& LastError() const { return m_lastError; }
    const platform::CPath& Path() const { return m_path; }

    static std::string NewAttemptId();

private:
    CRecordStore() = default;
    bool Fail(const std::string& what);

    CSqliteDb m_db;
    platform::CPath m_path;
    std::string m_lastError;
    int m_version = kSchemaVersion; // older for a file opened read-only; 0: no records yet
};
