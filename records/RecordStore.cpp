#include "records/RecordStore.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <thread>

#include <sqlite3.h>

#include "records/Fields.h"
#include "records/Outcomes.h"
#include "records/RecordTime.h"
#include "platform/NetworkShare.h"
#include "platform/OutputFile.h"
#include "platform/Path.h"
#include "platform/Paths.h"
#include "platform/ShownText.h"
#include "platform/TextFile.h"
#include "platform/ThisProcess.h"

namespace {

// Long enough for the other ports' short transactions, short enough that a stuck
// writer is reported instead of hanging a station.
constexpr int kBusyTimeoutMs = 15000;
// Up to this size a writer checks the whole file on every open (some 0.1 s); a larger
// one only when its last writer did not close it.
constexpr uint64_t kWholeCheckBytes = 8u << 20;

// Bookkeeping of the store, beside the fields: every write raises the revision, a sender
// marks the revision it delivered, a row the server refused keeps its reason, and the
// local day the attempt began on (on the PC that ran it) is kept for the counts per day.
constexpr char kBookkeeping[] = "revision INTEGER NOT NULL DEFAULT 1, sent_revision INTEGER NOT NULL DEFAULT 0,"
                                " set_aside TEXT, local_day TEXT";
// The counts per day and port read this index alone, in its order: no row is loaded
// and nothing sorted, so a million attempts are counted in a fraction of a second. The
// command tells an upgrade from an erase of its own.
#define TORVANE_ATTEMPT_YIELD_INDEX                                                                            \
    "CREATE INDEX attempt_yield ON attempt (local_day, port, outcome, erase_result, program_result, command,"   \
    " started_utc);"
constexpr char kIndexes[] = R"(
CREATE INDEX attempt_started ON attempt (started_utc);
CREATE INDEX attempt_port ON attempt (port, started_utc);
CREATE INDEX attempt_unsent ON attempt (started_utc) WHERE sent_revision < revision;
)" TORVANE_ATTEMPT_YIELD_INDEX;

// What a version adds besides the columns of the fields that came with it.
struct CJournalStep
{
    int version;
    const char* sql;
};
constexpr CJournalStep kSteps[] = {
    {2, "ALTER TABLE attempt ADD COLUMN set_aside TEXT;"}, // the server's reason for a row it refused
    {4, "ALTER TABLE attempt ADD COLUMN local_day TEXT;"
        "UPDATE attempt SET local_day = coalesce(date(started_utc, 'localtime'), substr(started_utc, 1, 10));"
        TORVANE_ATTEMPT_YIELD_INDEX},
    // Completing, reading back, marking sent and setting aside each find one row by its id.
    // Files made by versions 4 and 5 lack the id's key, so each of those read the whole
    // journal; an index finds it (a file with duplicate ids still opens).
    {6, "CREATE INDEX IF NOT EXISTS attempt_id ON attempt (id);"},
    {8, "DROP INDEX IF EXISTS attempt_yield;" TORVANE_ATTEMPT_YIELD_INDEX},
};

const char* SqlType(const records::CField& field)
{
    return records::IsNumber(field) ? "INTEGER" : "TEXT";
}

std::string ColumnDefinition(const records::CField& field)
{
    std::string definition = std::string(field.column) + " " + SqlType(field);
    if (std::string(field.column) == "id") definition += " PRIMARY KEY";
    if (field.required) definition += " NOT NULL";
    if (std::string(field.column) == "outcome") definition += " CHECK (" + records::OutcomeCheckSql() + ")";
    return definition;
}

std::string CreateSql()
{
    std::string sql = "CREATE TABLE attempt (\n";
    for (const records::CField& field : records::kFields)
        sql += "    " + ColumnDefinition(field) + ",\n";
    return sql + "    " + kBookkeeping + "\n);" + kIndexes + "\nPRAGMA user_version = " +
           std::to_string(CRecordStore::kSchemaVersion) + ";";
}

// From an older version to this one, step by step; new columns are always nullable (the
// rows written before have no value for them).
std::string MigrateSql(int from)
{
    std::string sql;
    for (int version = from + 1; version <= CRecordStore::kSchemaVersion; ++version) {
        for (const CJournalStep& step : kSteps)
            if (step.version == version) sql += step.sql;
        for (const records::CField& field : records::kFields)
            if (field.journalSince == version)
                sql += std::string("ALTER TABLE attempt ADD COLUMN ") + field.column + " " + SqlType(field) + ";";
    }
    return sql + "PRAGMA user_version = " + std::to_string(CRecordStore::kSchemaVersion) + ";";
}

// The fields as read from a file of this version: a column the file is too old to have
// reads as none.
std::string SelectList(int version)
{
    std::string list;
    for (const records::CField& field : records::kFields)
        list += (list.empty() ? "" : ", ") + (field.journalSince <= version ? std::string(field.column) : "NULL");
    return list + ", revision, sent_revision";
}

void BindAttempt(CSqliteStatement& s, const CAttempt& a)
{
    int i = 1;
    for (const records::CField& field : records::kFields) {
        // Every text is made valid UTF-8 before it is stored: a panel's reply or a scanned
        // serial may hold any bytes, and the server refuses a row that is not.
        if (records::IsNumber(field))
            s.BindInt(i++, records::FieldNumber(field, a));
        else
            s.BindText(i++, platform::ValidUtf8(records::FieldText(field, a).value_or(std::string())));
    }
}

// Into an attempt that may be reused row after row: its texts keep their buffers.
void ReadAttempt(const CSqliteStatement& s, CAttempt& a)
{
    int i = 0;
    for (const records::CField& field : records::kFields) {
        if (const auto* text = std::get_if<std::string CAttempt::*>(&field.member))
            (a.**text).assign(s.View(i++));
        else if (records::IsNumber(field))
            records::SetField(field, a, s.Int(i++));
        else
            records::SetField(field, a, std::optional<std::string>(s.Text(i++)));
    }
    a.revision = s.Int(i++).value_or(0);
    a.sentRevision = s.Int(i++).value_or(0);
}

// Only the clauses of the filter's own fields, so that an unfiltered count reads its
// index alone. The values are bound (BindFilter), never written into the text.
std::string FilterSql(const CRecordFilter& filter)
{
    std::string sql;
    auto clause = [&](const std::string& value, const char* condition) {
        if (!value.empty()) sql += (sql.empty() ? " WHERE " : " AND ") + std::string(condition);
    };
    clause(filter.sinceUtc, "started_utc >= ?1");
    clause(filter.untilUtc, "started_utc < ?2");
    clause(filter.port, "(port = ?3 OR device = ?3)");
    clause(filter.outcome, "outcome = ?4");
    clause(filter.tag, "tag = ?5");
    // The typed start is compared, not matched as LIKE would: nothing in it needs escaping.
    clause(filter.serial, "(lower(substr(serial_text, 1, length(?6))) = lower(?6)"
                          " OR lower(substr(serial_hex, 1, length(?6))) = lower(?6))");
    return sql;
}

void BindFilter(CSqliteStatement& s, const CRecordFilter& filter)
{
    int i = 1;
    for (const std::string* value :
         {&filter.sinceUtc, &filter.untilUtc, &filter.port, &filter.outcome, &filter.tag, &filter.serial}) {
        if (!value->empty()) s.BindText(i, *value);
        ++i;
    }
}

// The local day of a stored start, as the counts per day take it.
std::string LocalDayOf(const std::string& startedUtc)
{
    const auto ms = records::ParseUtcText(startedUtc);
    return ms ? records::LocalDay(*ms) : startedUtc.substr(0, 10);
}

// The header every SQLite database starts with; a file without it is never opened, so
// that SQLite cannot take some other file for an empty database and write over it.
enum class Header { Empty, Sqlite, Foreign, Unreadable };
Header ReadHeader(const platform::CPath& path)
{
    platform::UniqueFile file;
    uint64_t size = 0;
    try {
        file = platform::OpenRegularFile(path, size);
    } catch (const CFileException&) {
        return Header::Unreadable;
    }
    if (!file) return Header::Unreadable;
    char header[16] = {};
    const size_t read = std::fread(header, 1, sizeof header, file.get());
    if (read == 0) return std::ferror(file.get()) ? Header::Unreadable : Header::Empty;
    if (read == sizeof header && std::memcmp(header, "SQLite format 3", 16) == 0) return Header::Sqlite;
    return Header::Foreign;
}

// The file as an SQLite URI that reads it without a lock or shared memory.
std::string ImmutableUri(const platform::CPath& path)
{
    std::string name = path.Utf8();
#ifdef _WIN32
    std::replace(name.begin(), name.end(), '\\', '/');
#endif
    std::string uri = "file:";
    if (!name.empty() && name[0] != '/') uri += '/'; // C:/... on Windows
    for (char c : name) {
        if (c == '%' || c == '?' || c == '#') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            uri += escaped;
        } else {
            uri += c;
        }
    }
    return uri + "?immutable=1";
}

bool SingleText(CSqliteDb& db, const std::string& sql, std::string& value)
{
    CSqliteStatement statement(db, sql);
    if (statement.Step() != SQLITE_ROW) return false;
    value = statement.Text(0);
    return true;
}

} // namespace

std::string JoinMessages(const std::vector<std::string>& messages)
{
    std::string text;
    for (std::string line : messages) {
        for (char& c : line)
            if (c == '\n' || c == '\r') c = ' ';
        text += (text.empty() ? "" : "\n") + line;
    }
    return text;
}

std::vector<std::string> SplitMessages(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

platform::CPath CRecordStore::DefaultPath()
{
    return platform::DataDir() / "records.sqlite3";
}

std::string CRecordStore::NewAttemptId()
{
    std::random_device source;
    std::array<uint8_t, 16> bytes;
    for (size_t i = 0; i < bytes.size(); i += 4) {
        const uint32_t word = source();
        std::memcpy(&bytes[i], &word, 4);
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    static const char kHex[] = "0123456789abcdef";
    std::string id;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) id += '-';
        id += kHex[bytes[i] >> 4];
        id += kHex[bytes[i] & 15];
    }
    return id;
}

std::unique_ptr<CRecordStore> CRecordStore::Open(const platform::CPath& path, RecordsFile kind,
                                                 std::string& error)
{
    auto refuse = [&](const std::string& why) {
        error = path.Utf8() + ": " + why;
        return nullptr;
    };
    if (std::string ignored; kind == RecordsFile::Default && !path.Parent().Empty())
        platform::CreateDirectories(path.Parent(), ignored);
    if (const std::string share = platform::NetworkShareKind(path); !share.empty())
        return refuse("lies on " + share +
                      "; the records need a local disk (SQLite's journal does not work "
                      "over a network)");

    bool exists = platform::Exists(path);
    const bool readOnly = kind == RecordsFile::ReadOnly;
    if (!exists && readOnly) return refuse("no such records file");
    if (!exists) {
        // Made here, owner only, before SQLite makes it with the umask's mode: SQLite
        // gives the -wal and -shm files the mode of the database file.
        std::string why;
        if (platform::CreateNewFile(path, why, platform::NewFileAccess::OwnerOnly) ==
            platform::NewFileStatus::Failed)
            return refuse("cannot be created (" + why.substr(why.rfind(": ") + 2) + ")");
        exists = true;
    }
    if (exists) {
        if (!platform::IsRegularFile(path)) return refuse("is not a file");
        switch (ReadHeader(path)) {
        case Header::Unreadable:
            return refuse("cannot be read");
        case Header::Foreign:
            return refuse("is not a records database (not an SQLite file)");
        case Header::Empty:
        case Header::Sqlite:
            break;
        }
    }

    // Looked at before this process opens it, whose reads would make a log of their own.
    const bool checkWhole = !readOnly && (platform::FileSize(path).value_or(UINT64_MAX) <= kWholeCheckBytes ||
                                          platform::Exists(path.WithSuffix("-wal")));

    std::unique_ptr<CRecordStore> store(new CRecordStore);
    store->m_path = path;
    CSqliteDb& db = store->m_db;
    const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    if (!db.Open(path.Utf8(), flags)) return refuse("cannot be opened: " + db.Error());
    if (!readOnly && sqlite3_db_readonly(db.Get(), "main") == 1)
        return refuse("cannot be written (read-only)");
    std::string probe;
    if (readOnly && !SingleText(db, "PRAGMA user_version", probe) &&
        (db.ErrorCode() & 0xFF) == SQLITE_READONLY) {
        // No -shm to share and no right to make one: no writer has the file open (the
        // last one removes them), so it is read as it lies on the disk.
        if (!db.Open(ImmutableUri(path), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX))
            return refuse("cannot be opened: " + db.Error());
    }
    sqlite3_busy_timeout(db.Get(), kBusyTimeoutMs);

    // Nothing is written before the file has shown itself sound and ours. A reader writes
    // nothing: it skips the check, which reads the whole file (seconds for a million
    // attempts), and a damaged page it meets is an error of its query. A writer has
    // every page it reads checked as it reads it, so damage met while writing is an error
    // there and then; the whole file is checked while that is cheap, and a large one when
    // a write-ahead log is left over (a writer cut off, or one at work now).
    std::string check = "ok";
    if (!readOnly && !db.Exec("PRAGMA cell_size_check = ON")) return refuse("cannot be read: " + db.Error());
    if (checkWhole && !SingleText(db, "PRAGMA quick_check", check)) {
        if (db.ErrorCode() == SQLITE_NOTADB) return refuse("is not a records database (not an SQLite file)");
        if (db.ErrorCode() == SQLITE_CORRUPT) return refuse("is damaged (" + db.Error() + ")");
        return refuse("cannot be read: " + db.Error());
    }
    if (check != "ok") {
        for (char& c : check)
            if (c == '\n') c = ' ';
        return refuse("is damaged (" + check + ")");
    }
    std::string version, tables;
    // One snapshot for both: another process may be creating the schema in between.
    if (!db.Exec("BEGIN")) return refuse("cannot be read: " + db.Error());
    const bool read =
        SingleText(db, "PRAGMA user_version", version) &&
        SingleText(db, "SELECT group_concat(name) FROM sqlite_master WHERE type = 'table'", tables);
    db.Exec("COMMIT");
    if (!read) {
        if (db.ErrorCode() == SQLITE_NOTADB) return refuse("is not a records database (not an SQLite file)");
        if (db.ErrorCode() == SQLITE_CORRUPT) return refuse("is damaged (" + db.Error() + ")");
        return refuse("cannot be read: " + db.Error());
    }
    if (std::stoi(version) > kSchemaVersion)
        return refuse("was written by a newer Torvane (records version " + version + ")");
    if (version == "0" ? !tables.empty() : tables.find("attempt") == std::string::npos)
        return refuse("is not a records database (it holds other tables)");
    if (readOnly) {
        store->m_version = std::stoi(version);
        return store;
    }

    std::string mode;
    // Switching a new file to WAL takes the whole file: a process creating it at the same
    // moment is waited for (SQLite does not call the busy handler for this one).
    for (int waited = 0; !SingleText(db, "PRAGMA journal_mode = WAL", mode) &&
                         (db.ErrorCode() & 0xFF) == SQLITE_BUSY && waited < kBusyTimeoutMs;
         waited += 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (mode != "wal") return refuse("cannot keep a write-ahead log: " + (mode.empty() ? db.Error() : mode));
    // A record shown as PASS must survive a power cut of the PC.
    if (!db.Exec("PRAGMA synchronous = FULL")) return refuse("cannot be set up: " + db.Error());
    if (version == "0") {
        // Two processes may create the same new file: the second finds the schema there.
        if (!db.Exec("BEGIN IMMEDIATE")) return refuse("cannot be set up: " + db.Error());
        if (!SingleText(db, "PRAGMA user_version", version)) version.clear();
        if (version == "0" && !db.Exec(CreateSql())) {
            const std::string why = db.Error();
            db.Exec("ROLLBACK");
            return refuse("cannot be set up: " + why);
        }
        if (!db.Exec("COMMIT")) {
            const std::string why = db.Error();
            db.Exec("ROLLBACK");
            return refuse("cannot be set up: " + why);
        }
    } else if (std::stoi(version) < kSchemaVersion) {
        // Another process may be migrating the same file: the version is read again inside.
        if (!db.Exec("BEGIN IMMEDIATE")) return refuse("cannot be migrated: " + db.Error());
        if (!SingleText(db, "PRAGMA user_version", version)) version.clear();
        if (!version.empty() && std::stoi(version) < kSchemaVersion && !db.Exec(MigrateSql(std::stoi(version)))) {
            const std::string why = db.Error();
            db.Exec("ROLLBACK");
            return refuse("cannot be migrated: " + why);
        }
        if (!db.Exec("COMMIT")) {
            const std::string why = db.Error();
            db.Exec("ROLLBACK");
            return refuse("cannot be migrated: " + why);
        }
    }
    return store;
}

bool CRecordStore::Fail(const std::string& what)
{
    m_lastError = m_path.Utf8() + ": " + what + ": " + m_db.Error();
    return false;
}

void CRecordStore::SetBusyTimeout(int milliseconds)
{
    sqlite3_busy_timeout(m_db.Get(), milliseconds);
}

void CRecordStore::StampBegun(CAttempt& attempt)
{
    const int64_t now = records::NowMs();
    if (attempt.id.empty()) attempt.id = NewAttemptId();
    if (attempt.startedUtc.empty()) attempt.startedUtc = records::UtcText(now);
    if (attempt.host.empty()) attempt.host = platform::HostName();
    if (attempt.user.empty()) attempt.user = platform::UserName();
    if (attempt.processId == 0) attempt.processId = platform::ProcessId();
    if (attempt.processStart.empty()) attempt.processStart = platform::ProcessStartStamp(attempt.processId);
    if (attempt.toolVersion.empty()) attempt.toolVersion = TORVANE_VERSION;
    attempt.outcome = outcome::kUnfinished;
    attempt.endedUtc.clear();
}

void CRecordStore::StampEnded(CAttempt& attempt)
{
    const int64_t now = records::NowMs();
    if (attempt.endedUtc.empty()) attempt.endedUtc = records::UtcText(now);
    if (!attempt.durationMs) {
        if (const auto started = records::ParseUtcText(attempt.startedUtc))
            attempt.durationMs = records::ParseUtcText(attempt.endedUtc).value_or(now) - *started;
    }
    if (attempt.outcome == outcome::kUnfinished) attempt.outcome = outcome::kFail;
}

bool CRecordStore::Begin(CAttempt& attempt)
{
    StampBegun(attempt);

    std::string columns, placeholders;
    for (size_t i = 0; i < records::kFields.size(); ++i) {
        columns += (i ? ", " : "") + std::string(records::kFields[i].column);
        placeholders += (i ? ", ?" : "?") + std::to_string(i + 1);
    }
    const int localDay = static_cast<int>(records::kFields.size()) + 1;
    CSqliteStatement insert(m_db, "INSERT INTO attempt (" + columns + ", local_day) VALUES (" + placeholders +
                                      ", ?" + std::to_string(localDay) + ")");
    if (!insert.Valid()) return Fail("cannot record the attempt");
    BindAttempt(insert, attempt);
    insert.BindText(localDay, LocalDayOf(attempt.startedUtc));
    if (!insert.Done()) return Fail("cannot record the attempt");
    attempt.revision = 1;
    return true;
}

bool CRecordStore::Complete(CAttempt& attempt)
{
    StampEnded(attempt);

    // Every column but the id is rewritten: the row is the attempt as the caller holds it.
    std::string assignments;
    for (size_t i = 1; i < records::kFields.size(); ++i)
        assignments += (i > 1 ? ", " : "") + std::string(records::kFields[i].column) + " = ?" + std::to_string(i + 1);
    const int localDay = static_cast<int>(records::kFields.size()) + 1;
    CSqliteStatement update(m_db, "UPDATE attempt SET " + assignments + ", local_day = ?" +
                                      std::to_string(localDay) +
                                      ", revision = revision + 1, set_aside = NULL WHERE id = ?1"
                                      " RETURNING revision");
    if (!update.Valid()) return Fail("cannot complete the record");
    BindAttempt(update, attempt);
    update.BindText(localDay, LocalDayOf(attempt.startedUtc));
    const int step = update.Step();
    if (step == SQLITE_DONE) {
        m_lastError = m_path.Utf8() + ": the record of attempt " + attempt.id + " is missing";
        return false;
    }
    if (step != SQLITE_ROW) return Fail("cannot complete the record");
    attempt.revision = update.Int(0).value_or(0);
    if (!update.Done()) return Fail("cannot complete the record");
    return true;
}

bool CRecordStore::Query(const CRecordFilter& filter, std::vector<CAttempt>& attempts)
{
    attempts.clear();
    return ForEach(filter, [&](const CAttempt& a) {
        attempts.push_back(a);
        return true;
    });
}

bool CRecordStore::ForEach(const CRecordFilter& filter, const std::function<bool(const CAttempt&)>& onAttempt)
{
    if (m_version == 0) return true;
    CSqliteStatement select(m_db, "SELECT " + SelectList(m_version) + " FROM attempt" + FilterSql(filter) +
                                      " ORDER BY started_utc, rowid");
    if (!select.Valid()) return Fail("cannot read the records");
    BindFilter(select, filter);
    int step;
    CAttempt attempt;
    while ((step = select.Step()) == SQLITE_ROW) {
        ReadAttempt(select, attempt);
        if (!onAttempt(attempt)) return true;
    }
    if (step != SQLITE_DONE) return Fail("cannot read the records");
    return true;
}

bool CRecordStore::Stats(const CRecordFilter& filter, std::vector<StatsRow>& rows)
{
    rows.clear();
    if (m_version == 0) return true;
    // SQL counts the attempts per day, port and what decides their yield (a few thousand
    // groups for a million attempts); records::YieldOf then tells each group's yield, so
    // what counts as what is said in one place only.
    const std::string day =
        m_version >= 4 ? "local_day" : "coalesce(date(started_utc, 'localtime'), substr(started_utc, 1, 10))";
    CSqliteStatement select(m_db, "SELECT " + day +
                                      ", port, outcome, erase_result, program_result, command,"
                                      " count(*) FROM attempt" +
                                      FilterSql(filter) + " GROUP BY 1, 2, 3, 4, 5, 6");
    if (!select.Valid()) return Fail("cannot read the records");
    BindFilter(select, filter);
    records::CYieldCounts counts;
    int step;
    while ((step = select.Step()) == SQLITE_ROW) {
        CAttempt group;
        group.outcome = select.Text(2);
        group.eraseResult = select.Text(3);
        group.programResult = select.Text(4);
        group.command = select.Text(5);
        counts.Add(select.Text(0), select.Text(1), records::YieldOf(group), select.Int(6).value_or(0));
    }
    if (step != SQLITE_DONE) return Fail("cannot read the records");
    rows = counts.Rows();
    return true;
}

bool CRecordStore::ListUnsent(std::vector<Unsent>& rows)
{
    CSqliteStatement select(m_db, "SELECT id, outcome, host, process_id, process_start FROM attempt"
                                  " WHERE sent_revision < revision AND set_aside IS NULL"
                                  " ORDER BY started_utc, rowid");
    if (!select.Valid()) return Fail("cannot read the records");
    rows.clear();
    int step;
    while ((step = select.Step()) == SQLITE_ROW)
        rows.push_back({select.Text(0), select.Text(1), select.Text(2), select.Text(4),
                        static_cast<uint32_t>(select.Int(3).value_or(0))});
    if (step != SQLITE_DONE) return Fail("cannot read the records");
    return true;
}

bool CRecordStore::Read(const std::string& id, CAttempt& attempt)
{
    CSqliteStatement select(m_db, "SELECT " + SelectList(m_version) + " FROM attempt WHERE id = ?1");
    if (!select.Valid()) return Fail("cannot read the records");
    select.BindText(1, id);
    const int step = select.Step();
    if (step == SQLITE_ROW) {
        attempt = CAttempt();
        ReadAttempt(select, attempt);
        return true;
    }
    if (step == SQLITE_DONE)
        m_lastError.clear();
    else
        Fail("cannot read the records");
    return false;
}

bool CRecordStore::LastOnPort(const std::string& port, CAttempt& attempt)
{
    m_lastError.clear();
    if (m_version == 0) return false;
    CSqliteStatement select(m_db, "SELECT " + SelectList(m_version) +
                                      " FROM attempt WHERE port = ?1 AND host = ?2"
                                      " ORDER BY started_utc DESC, rowid DESC LIMIT 1");
    if (!select.Valid()) return Fail("cannot read the records");
    select.BindText(1, port);
    select.BindText(2, platform::HostName());
    const int step = select.Step();
    if (step == SQLITE_ROW) {
        attempt = CAttempt();
        ReadAttempt(select, attempt);
        return true;
    }
    if (step != SQLITE_DONE) Fail("cannot read the records");
    return false;
}

bool CRecordStore::MarkSent(const std::vector<std::pair<std::string, int64_t>>& delivered)
{
    if (!m_db.Exec("BEGIN IMMEDIATE")) return Fail("cannot mark records sent");
    {
        CSqliteStatement update(m_db,
                                "UPDATE attempt SET sent_revision = ?2 WHERE id = ?1 AND sent_revision < ?2");
        bool written = update.Valid();
        for (const auto& [id, revision] : delivered) {
            if (!written) break;
            update.BindText(1, id);
            update.BindInt(2, revision);
            written = update.Done() && update.Reset();
        }
        if (!written) {
            Fail("cannot mark records sent");
            m_db.Exec("ROLLBACK");
            return false;
        }
    }
    if (!m_db.Exec("COMMIT")) {
        Fail("cannot mark records sent");
        m_db.Exec("ROLLBACK");
        return false;
    }
    return true;
}

bool CRecordStore::CountUnsent(int64_t& count)
{
    CSqliteStatement select(
        m_db, "SELECT count(*) FROM attempt WHERE sent_revision < revision AND set_aside IS NULL");
    if (!select.Valid() || select.Step() != SQLITE_ROW) return Fail("cannot read the records");
    count = select.Int(0).value_or(0);
    return true;
}

bool CRecordStore::SetAside(const std::string& id, int64_t revision, const std::string& reason)
{
    CSqliteStatement update(m_db, "UPDATE attempt SET set_aside = ?3 WHERE id = ?1 AND revision = ?2");
    if (!update.Valid()) return Fail("cannot set a record aside");
    update.BindText(1, id);
    update.BindInt(2, revision);
    update.BindText(3, platform::ValidUtf8(reason.empty() ? "refused by the server" : reason));
    return update.Done() || Fail("cannot set a record aside");
}

bool CRecordStore::ListSetAside(std::vector<SetAsideRow>& rows)
{
    CSqliteStatement select(m_db, "SELECT id, set_aside FROM attempt WHERE set_aside IS NOT NULL"
                                  " AND sent_revision < revision ORDER BY started_utc, rowid");
    if (!select.Valid()) return Fail("cannot read the records");
    rows.clear();
    int step;
    while ((step = select.Step()) == SQLITE_ROW)
        rows.push_back({select.Text(0), select.Text(1)});
    if (step != SQLITE_DONE) return Fail("cannot read the records");
    return true;
}

bool CRecordStore::RetrySetAside()
{
    return m_db.Exec("UPDATE attempt SET set_aside = NULL WHERE set_aside IS NOT NULL") ||
           Fail("cannot retry the records set aside");
}
