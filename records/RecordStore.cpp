#include "cli/records/RecordStore.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#include <sqlite3.h>

#include "cli/records/RecordTime.h"
#include "platform/NetworkShare.h"
#include "platform/OutputFile.h"
#include "platform/Paths.h"
#include "platform/ShownText.h"
#include "platform/TextFile.h"
#include "platform/ThisProcess.h"

namespace {

// Long enough for the other ports' short transactions, short enough that a stuck
// writer is reported instead of hanging a station.
constexpr int kBusyTimeoutMs = 15000;

constexpr char kSchema[] = R"(
CREATE TABLE attempt (
    id TEXT PRIMARY KEY NOT NULL,
    started_utc TEXT NOT NULL,
    ended_utc TEXT,
    host TEXT NOT NULL,
    user TEXT NOT NULL,
    process_id INTEGER NOT NULL,
    process_start TEXT,
    tool_version TEXT NOT NULL,
    port TEXT,
    device TEXT,
    command TEXT NOT NULL,
    file_name TEXT,
    file_size INTEGER,
    file_sha256 TEXT,
    pages_sent INTEGER,
    baud_rate INTEGER,
    page_pause_ms INTEGER,
    loader_version TEXT,
    serial_hex TEXT,
    serial_text TEXT,
    id_check TEXT,
    erase_result TEXT,
    program_result TEXT,
    verify_result TEXT,
    backup_file TEXT,
    outcome TEXT NOT NULL CHECK (outcome IN ('pass', 'fail', 'stopped', 'unchanged', 'unfinished')),
    exit_code INTEGER,
    messages TEXT,
    duration_ms INTEGER,
    tag TEXT,
    station_run TEXT,
    revision INTEGER NOT NULL DEFAULT 1,
    sent_revision INTEGER NOT NULL DEFAULT 0,
    set_aside TEXT,
    signer TEXT
);
CREATE INDEX attempt_started ON attempt (started_utc);
CREATE INDEX attempt_port ON attempt (port, started_utc);
CREATE INDEX attempt_unsent ON attempt (started_utc) WHERE sent_revision < revision;
PRAGMA user_version = 3;
)";

// Version 1 to 2: the server's reason for a row it refused.
constexpr char kMigrateTo2[] = R"(
ALTER TABLE attempt ADD COLUMN set_aside TEXT;
PRAGMA user_version = 2;
)";

// Version 2 to 3: the trusted key that signed the upgrade.
constexpr char kMigrateTo3[] = R"(
ALTER TABLE attempt ADD COLUMN signer TEXT;
PRAGMA user_version = 3;
)";

// The columns a front end writes, in the order of the parameters below.
constexpr std::array kColumns = {
    "id",          "started_utc",   "ended_utc",      "host",          "user",
    "process_id",  "process_start", "tool_version",   "port",          "device",
    "command",     "file_name",     "file_size",      "file_sha256",   "pages_sent",
    "baud_rate",   "page_pause_ms", "loader_version", "serial_hex",    "serial_text",
    "id_check",    "erase_result",  "program_result", "verify_result", "backup_file",
    "outcome",     "exit_code",     "messages",       "duration_ms",   "tag",
    "station_run", "signer",        "revision",       "sent_revision"};
constexpr int kWrittenColumns = static_cast<int>(kColumns.size()) - 2;

// A file of an older version opened read-only has no signer column: it reads as none.
std::string ColumnList(int count, bool hasSigner = true)
{
    std::string list;
    for (int i = 0; i < count; ++i) {
        const std::string column = kColumns[static_cast<size_t>(i)];
        list += (i ? ", " : "") + (column == "signer" && !hasSigner ? std::string("NULL") : column);
    }
    return list;
}

// Every text is made valid UTF-8 before it is stored: a panel's reply or a scanned
// serial may hold any bytes, and the server refuses a row that is not.
class CTextBinder
{
public:
    explicit CTextBinder(CSqliteStatement& s) : m_s(s) {}
    void BindText(int i, const std::string& text) { m_s.BindText(i, platform::ValidUtf8(text)); }
    template <typename T> void BindInt(int i, const T& value) { m_s.BindInt(i, value); }

private:
    CSqliteStatement& m_s;
};

void BindAttempt(CSqliteStatement& statement, const CAttempt& a)
{
    CTextBinder s(statement);
    int i = 1;
    s.BindText(i++, a.id);
    s.BindText(i++, a.startedUtc);
    s.BindText(i++, a.endedUtc);
    s.BindText(i++, a.host);
    s.BindText(i++, a.user);
    s.BindInt(i++, a.processId);
    s.BindText(i++, a.processStart);
    s.BindText(i++, a.toolVersion);
    s.BindText(i++, a.port);
    s.BindText(i++, a.device);
    s.BindText(i++, a.command);
    s.BindText(i++, a.fileName);
    s.BindInt(i++, a.fileSize);
    s.BindText(i++, a.fileSha256);
    s.BindInt(i++, a.pagesSent);
    s.BindInt(i++, a.baudRate);
    s.BindInt(i++, a.pagePauseMs);
    s.BindText(i++, a.loaderVersion);
    s.BindText(i++, a.serialHex);
    s.BindText(i++, a.serialText);
    s.BindText(i++, a.idCheck);
    s.BindText(i++, a.eraseResult);
    s.BindText(i++, a.programResult);
    s.BindText(i++, a.verifyResult);
    s.BindText(i++, a.backupFile);
    s.BindText(i++, a.outcome);
    s.BindInt(i++, a.exitCode);
    s.BindText(i++, JoinMessages(a.messages));
    s.BindInt(i++, a.durationMs);
    s.BindText(i++, a.tag);
    s.BindText(i++, a.stationRun);
    s.BindText(i++, a.signer);
}

CAttempt ReadAttempt(const CSqliteStatement& s)
{
    CAttempt a;
    int i = 0;
    a.id = s.Text(i++);
    a.startedUtc = s.Text(i++);
    a.endedUtc = s.Text(i++);
    a.host = s.Text(i++);
    a.user = s.Text(i++);
    a.processId = static_cast<uint32_t>(s.Int(i++).value_or(0));
    a.processStart = s.Text(i++);
    a.toolVersion = s.Text(i++);
    a.port = s.Text(i++);
    a.device = s.Text(i++);
    a.command = s.Text(i++);
    a.fileName = s.Text(i++);
    a.fileSize = s.Int(i++);
    a.fileSha256 = s.Text(i++);
    a.pagesSent = s.Int(i++);
    a.baudRate = s.Int(i++);
    a.pagePauseMs = s.Int(i++);
    a.loaderVersion = s.Text(i++);
    a.serialHex = s.Text(i++);
    a.serialText = s.Text(i++);
    a.idCheck = s.Text(i++);
    a.eraseResult = s.Text(i++);
    a.programResult = s.Text(i++);
    a.verifyResult = s.Text(i++);
    a.backupFile = s.Text(i++);
    a.outcome = s.Text(i++);
    a.exitCode = s.Int(i++);
    a.messages = SplitMessages(s.Text(i++));
    a.durationMs = s.Int(i++);
    a.tag = s.Text(i++);
    a.stationRun = s.Text(i++);
    a.signer = s.Text(i++);
    a.revision = s.Int(i++).value_or(0);
    a.sentRevision = s.Int(i++).value_or(0);
    return a;
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

    // Nothing is written before the file has shown itself sound and ours.
    std::string check;
    if (!SingleText(db, "PRAGMA quick_check", check)) {
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
    if (!read) return refuse("cannot be read: " + db.Error());
    if (std::stoi(version) > kSchemaVersion)
        return refuse("was written by a newer Torvane (records version " + version + ")");
    if (version == "0" ? !tables.empty() : tables.find("attempt") == std::string::npos)
        return refuse("is not a records database (it holds other tables)");
    if (readOnly) {
        store->m_noTable = version == "0";
        store->m_hasSigner = std::stoi(version) >= 3;
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
        if (version == "0" && !db.Exec(kSchema)) {
            const std::string why = db.Error();
            db.Exec("ROLLBACK");
            return refuse("cannot be set up: " + why);
        }
        if (!db.Exec("COMMIT")) {
            const std::string why = db.Error();
            db.Exec("ROLLBACK");
            return refuse("cannot be set up: " + why);
        }
    } else if (version == "1" || version == "2") {
        // Another process may be migrating the same file: the version is read again inside.
        if (!db.Exec("BEGIN IMMEDIATE")) return refuse("cannot be migrated: " + db.Error());
        if (!SingleText(db, "PRAGMA user_version", version)) version.clear();
        if ((version == "1" && !db.Exec(kMigrateTo2)) ||
            ((version == "1" || version == "2") && !db.Exec(kMigrateTo3))) {
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

bool CRecordStore::Begin(CAttempt& attempt)
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

    std::string placeholders;
    for (int i = 1; i <= kWrittenColumns; ++i)
        placeholders += (i > 1 ? ", ?" : "?") + std::to_string(i);
    CSqliteStatement insert(m_db, "INSERT INTO attempt (" + ColumnList(kWrittenColumns) + ") VALUES (" +
                                      placeholders + ")");
    if (!insert.Valid()) return Fail("cannot record the attempt");
    BindAttempt(insert, attempt);
    if (!insert.Done()) return Fail("cannot record the attempt");
    attempt.revision = 1;
    return true;
}

bool CRecordStore::Complete(CAttempt& attempt)
{
    const int64_t now = records::NowMs();
    if (attempt.endedUtc.empty()) attempt.endedUtc = records::UtcText(now);
    if (!attempt.durationMs) {
        if (const auto started = records::ParseUtcText(attempt.startedUtc))
            attempt.durationMs = records::ParseUtcText(attempt.endedUtc).value_or(now) - *started;
    }
    if (attempt.outcome == outcome::kUnfinished) attempt.outcome = outcome::kFail;

    // Every column but the id is rewritten: the row is the attempt as the caller holds it.
    std::string assignments;
    for (int i = 2; i <= kWrittenColumns; ++i)
        assignments += (i > 2 ? ", " : "") + std::string(kColumns[static_cast<size_t>(i - 1)]) + " = ?" +
                       std::to_string(i);
    CSqliteStatement update(m_db, "UPDATE attempt SET " + assignments +
                                      ", revision = revision + 1, set_aside = NULL WHERE id = ?1"
                                      " RETURNING revision");
    if (!update.Valid()) return Fail("cannot complete the record");
    BindAttempt(update, attempt);
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
    CSqliteStatement select(m_db, "SELECT " + ColumnList(static_cast<int>(kColumns.size()), m_hasSigner) +
                                      " FROM attempt"
                                      " WHERE (?1 IS NULL OR started_utc >= ?1)"
                                      " AND (?2 IS NULL OR started_utc < ?2)"
                                      " AND (?3 IS NULL OR port = ?3 OR device = ?3)"
                                      " AND (?4 IS NULL OR outcome = ?4)"
                                      " AND (?5 IS NULL OR tag = ?5)"
                                      " AND (?6 IS NULL OR serial_text = ?6 OR lower(serial_hex) = lower(?6))"
                                      " ORDER BY started_utc, rowid");
    attempts.clear();
    if (m_noTable) return true;
    if (!select.Valid()) return Fail("cannot read the records");
    select.BindText(1, filter.sinceUtc);
    select.BindText(2, filter.untilUtc);
    select.BindText(3, filter.port);
    select.BindText(4, filter.outcome);
    select.BindText(5, filter.tag);
    select.BindText(6, filter.serial);
    attempts.clear();
    int step;
    while ((step = select.Step()) == SQLITE_ROW)
        attempts.push_back(ReadAttempt(select));
    if (step != SQLITE_DONE) return Fail("cannot read the records");
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
    CSqliteStatement select(m_db, "SELECT " + ColumnList(static_cast<int>(kColumns.size()), m_hasSigner) +
                                      " FROM attempt WHERE id = ?1");
    if (!select.Valid()) return Fail("cannot read the records");
    select.BindText(1, id);
    const int step = select.Step();
    if (step == SQLITE_ROW) {
        attempt = ReadAttempt(select);
        return true;
    }
    if (step == SQLITE_DONE)
        m_lastError.clear();
    else
        Fail("cannot read the records");
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
