#pragma once
// The fields of an attempt, once: every place a record is stored, sent, exported,
// imported or shown (the journal, the server's table and its upsert, CSV, JSON and the
// table view) walks this table. A new field is one line here and a schema version on
// each side that keeps it (its `journalSince`, its `serverSince`).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "records/Attempt.h"

namespace records {

// What a field holds and so how each format writes it.
enum class FieldType {
    Text,
    Integer,
    Id,           // the attempt's UUID (uuid on the server)
    UtcTime,      // "2026-12-09T12:06:01.123Z"; local time in CSV and the table view
    Milliseconds, // CSV and the table view show seconds with one decimal
    Lines,        // one line each; a line break between them in the journal and in CSV
};

// How the table view shows a field; the view's columns come in the order of `tableRank`.
enum class Shown { AsIs, FileName, Digest, SerialOrHex };

using FieldMember = std::variant<std::string CAttempt::*, std::optional<int64_t> CAttempt::*,
                                 uint32_t CAttempt::*, std::vector<std::string> CAttempt::*>;

struct CField
{
    const char* column;  // the journal's and the server's column
    const char* jsonKey; // records --json and --import
    const char* csvKey;  // records --csv; nullptr: not in CSV
    FieldType type;
    FieldMember member;
    bool required = false; // NOT NULL: every row has it
    int journalSince = 1;  // the journal's schema version that added the column
    int serverSince = 1;   // the server's schema version that added the column
    int tableRank = 0;     // the table view's column (1 first); 0: not shown there
    const char* tableHeader = nullptr;
    Shown shown = Shown::AsIs;
};

// In the order of the CSV's columns (kept as they were, for the spreadsheets that read
// them by position); JSON writes its keys in the same order.
inline constexpr auto kFields = std::to_array<CField>({
    {"id", "id", "id", FieldType::Id, &CAttempt::id, true},
    {"started_utc", "started_utc", "started", FieldType::UtcTime, &CAttempt::startedUtc, true, 1, 1, 1,
     "started"},
    {"ended_utc", "ended_utc", "ended", FieldType::UtcTime, &CAttempt::endedUtc},
    {"host", "host", "host", FieldType::Text, &CAttempt::host, true},
    {"user", "user", "user", FieldType::Text, &CAttempt::user, true},
    {"process_id", "process_id", "process_id", FieldType::Integer, &CAttempt::processId, true},
    {"process_start", "process_start", nullptr, FieldType::Text, &CAttempt::processStart},
    {"port", "port", "port", FieldType::Text, &CAttempt::port, false, 1, 1, 2, "port"},
    {"device", "device", "device", FieldType::Text, &CAttempt::device},
    {"command", "command", "command", FieldType::Text, &CAttempt::command, true, 1, 1, 3, "command"},
    {"file_name", "file_name", "file", FieldType::Text, &CAttempt::fileName, false, 1, 1, 7, "file",
     Shown::FileName},
    {"file_size", "file_size", "file_size", FieldType::Integer, &CAttempt::fileSize},
    {"file_sha256", "file_sha256", "file_sha256", FieldType::Text, &CAttempt::fileSha256, false, 1, 1, 8,
     "sha256", Shown::Digest},
    {"pages_sent", "pages_sent", "pages_sent", FieldType::Integer, &CAttempt::pagesSent},
    {"baud_rate", "baud_rate", "baud_rate", FieldType::Integer, &CAttempt::baudRate},
    {"page_pause_ms", "page_pause_ms", "page_pause_ms", FieldType::Integer, &CAttempt::pagePauseMs},
    {"loader_version", "loader_version", "loader_version", FieldType::Text, &CAttempt::loaderVersion},
    {"serial_hex", "serial_hex", "serial_hex", FieldType::Text, &CAttempt::serialHex},
    {"serial_text", "serial_text", "serial_text", FieldType::Text, &CAttempt::serialText, false, 1, 1, 6,
     "serial", Shown::SerialOrHex},
    {"id_check", "id_check", "id_check", FieldType::Text, &CAttempt::idCheck},
    {"erase_result", "erase", "erase", FieldType::Text, &CAttempt::eraseResult},
    {"program_result", "program", "program", FieldType::Text, &CAttempt::programResult},
    {"verify_result", "verify", "verify", FieldType::Text, &CAttempt::verifyResult},
    {"backup_file", "backup_file", "backup_file", FieldType::Text, &CAttempt::backupFile},
    {"outcome", "outcome", "outcome", FieldType::Text, &CAttempt::outcome, true, 1, 1, 4, "outcome"},
    {"exit_code", "exit_code", "exit_code", FieldType::Integer, &CAttempt::exitCode, false, 1, 1, 5, "exit"},
    {"messages", "messages", "messages", FieldType::Lines, &CAttempt::messages},
    {"duration_ms", "duration_ms", "seconds", FieldType::Milliseconds, &CAttempt::durationMs, false, 1, 1, 10,
     "seconds"},
    {"tool_version", "tool_version", "tool_version", FieldType::Text, &CAttempt::toolVersion, true},
    {"tag", "tag", "tag", FieldType::Text, &CAttempt::tag, false, 1, 1, 9, "tag"},
    {"station_run", "station_run", "station_run", FieldType::Text, &CAttempt::stationRun},
    {"signer", "signer", "signer", FieldType::Text, &CAttempt::signer, false, 3, 2},
    {"fail_reason", "fail_reason", "fail_reason", FieldType::Text, &CAttempt::failReason, false, 5, 3, 11,
     "reason"},
    {"fail_step", "fail_step", "fail_step", FieldType::Text, &CAttempt::failStep, false, 7, 4},
    {"fail_kind", "fail_kind", "fail_kind", FieldType::Text, &CAttempt::failKind, false, 8, 7},
});

// A field's value as text (numbers in decimal, lines joined by line breaks); nothing
// when it is empty or absent.
std::optional<std::string> FieldText(const CField& field, const CAttempt& attempt);
std::optional<int64_t> FieldNumber(const CField& field, const CAttempt& attempt);
// Sets a field from text as FieldText gives it (nothing: empty or absent). A number that
// is no number leaves the field absent.
void SetField(const CField& field, CAttempt& attempt, const std::optional<std::string>& text);
void SetField(const CField& field, CAttempt& attempt, std::optional<int64_t> number);
bool IsNumber(const CField& field);

// The table view's fields, in its order.
std::vector<const CField*> TableFields();

} // namespace records
