#include "cli/RecordsReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include <nlohmann/json.hpp>

#include "cli/records/RecordTime.h"
#include "platform/Paths.h"
#include "platform/ShownText.h"

namespace {

std::string Local(const std::string& utc)
{
    if (utc.empty()) return {};
    const auto ms = records::ParseUtcText(utc);
    return ms ? records::LocalText(*ms) : utc;
}

std::string Number(const std::optional<int64_t>& value)
{
    return value ? std::to_string(*value) : std::string();
}

std::string Seconds(const std::optional<int64_t>& ms)
{
    if (!ms) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(*ms) / 1000.0);
    return text;
}

std::string Joined(const std::vector<std::string>& lines, const char* separator)
{
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : separator) + line;
    return text;
}

nlohmann::json OrNull(const std::string& text)
{
    return text.empty() ? nlohmann::json() : nlohmann::json(text);
}

nlohmann::json OrNull(const std::optional<int64_t>& value)
{
    return value ? nlohmann::json(*value) : nlohmann::json();
}

struct Tally
{
    int passed = 0, failed = 0;
};

std::string Yield(const Tally& t)
{
    if (t.passed + t.failed == 0) return {};
    char text[16];
    std::snprintf(text, sizeof text, "%.1f %%", 100.0 * t.passed / (t.passed + t.failed));
    return text;
}

} // namespace

CRecordsReport::CRecordsReport(RecordsFormat format, std::ostream& out) : m_format(format), m_out(out) {}

std::string CRecordsReport::CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

nlohmann::ordered_json AttemptJson(const CAttempt& a)
{
    return nlohmann::ordered_json{{"id", a.id},
                                  {"started_utc", a.startedUtc},
                                  {"ended_utc", OrNull(a.endedUtc)},
                                  {"host", a.host},
                                  {"user", a.user},
                                  {"process_id", a.processId},
                                  {"process_start", OrNull(a.processStart)},
                                  {"tool_version", a.toolVersion},
                                  {"port", OrNull(a.port)},
                                  {"device", OrNull(a.device)},
                                  {"command", a.command},
                                  {"file_name", OrNull(a.fileName)},
                                  {"file_size", OrNull(a.fileSize)},
                                  {"file_sha256", OrNull(a.fileSha256)},
                                  {"pages_sent", OrNull(a.pagesSent)},
                                  {"baud_rate", OrNull(a.baudRate)},
                                  {"page_pause_ms", OrNull(a.pagePauseMs)},
                                  {"loader_version", OrNull(a.loaderVersion)},
                                  {"serial_hex", OrNull(a.serialHex)},
                                  {"serial_text", OrNull(a.serialText)},
                                  {"id_check", OrNull(a.idCheck)},
                                  {"erase", OrNull(a.eraseResult)},
                                  {"program", OrNull(a.programResult)},
                                  {"verify", OrNull(a.verifyResult)},
                                  {"backup_file", OrNull(a.backupFile)},
                                  {"outcome", a.outcome},
                                  {"exit_code", OrNull(a.exitCode)},
                                  {"messages", a.messages},
                                  {"duration_ms", OrNull(a.durationMs)},
                                  {"tag", OrNull(a.tag)},
                                  {"station_run", OrNull(a.stationRun)},
                                  {"signer", OrNull(a.signer)},
                                  {"revision", a.revision}};
}

void CRecordsReport::Rows(const Row& header, const std::vector<Row>& rows)
{
    if (m_format == RecordsFormat::Csv) {
        for (const Row* row : {&header})
            for (size_t i = 0; i < row->size(); ++i)
                m_out << (i ? "," : "") << CsvField((*row)[i]) << (i + 1 == row->size() ? "\r\n" : "");
        for (const Row& row : rows)
            for (size_t i = 0; i < row.size(); ++i)
                m_out << (i ? "," : "") << CsvField(platform::SpreadsheetText(row[i]))
                      << (i + 1 == row.size() ? "\r\n" : "");
        return;
    }
    // A serial, tag or file name may hold anything: the terminal gets it escaped.
    std::vector<Row> shown = rows;
    for (Row& row : shown)
        for (std::string& cell : row)
            cell = platform::ShownText(cell);
    std::vector<size_t> widths(header.size());
    for (size_t i = 0; i < header.size(); ++i)
        widths[i] = header[i].size();
    for (const Row& row : shown)
        for (size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    auto line = [&](const Row& row) {
        std::string text;
        for (size_t i = 0; i < row.size(); ++i) {
            text += row[i];
            if (i + 1 < row.size()) text += std::string(widths[i] - row[i].size() + 2, ' ');
        }
        m_out << text << '\n';
    };
    line(header);
    for (const Row& row : shown)
        line(row);
}

void CRecordsReport::Attempts(const std::vector<CAttempt>& attempts)
{
    if (m_format == RecordsFormat::Json) {
        for (const CAttempt& a : attempts) {
            const nlohmann::ordered_json object = AttemptJson(a);
            m_out << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        }
        return;
    }
    std::vector<Row> rows;
    if (m_format == RecordsFormat::Csv) {
        for (const CAttempt& a : attempts)
            rows.push_back({a.id,
                            Local(a.startedUtc),
                            Local(a.endedUtc),
                            a.host,
                            a.user,
                            std::to_string(a.processId),
                            a.port,
                            a.device,
                            a.command,
                            a.fileName,
                            Number(a.fileSize),
                            a.fileSha256,
                            Number(a.pagesSent),
                            Number(a.baudRate),
                            Number(a.pagePauseMs),
                            a.loaderVersion,
                            a.serialHex,
                            a.serialText,
                            a.idCheck,
                            a.eraseResult,
                            a.programResult,
                            a.verifyResult,
                            a.backupFile,
                            a.outcome,
                            Number(a.exitCode),
                            Joined(a.messages, "\n"),
                            Seconds(a.durationMs),
                            a.toolVersion,
                            a.tag,
                            a.stationRun,
                            a.signer});
        Rows({"id",         "started",   "ended",         "host",           "user",        "process_id",
              "port",       "device",    "command",       "file",           "file_size",   "file_sha256",
              "pages_sent", "baud_rate", "page_pause_ms", "loader_version", "serial_hex",  "serial_text",
              "id_check",   "erase",     "program",       "verify",         "backup_file", "outcome",
              "exit_code",  "messages",  "seconds",       "tool_version",   "tag",         "station_run",
              "signer"},
             rows);
        return;
    }
    for (const CAttempt& a : attempts) {
        const std::string serial = !a.serialText.empty() ? a.serialText : a.serialHex;
        const std::string file = platform::CPath::FromUtf8(a.fileName).FileName();
        rows.push_back({Local(a.startedUtc), a.port, a.command, a.outcome, Number(a.exitCode), serial, file,
                        a.fileSha256.substr(0, 12), a.tag, Seconds(a.durationMs)});
    }
    Rows({"started", "port", "command", "outcome", "exit", "serial", "file", "sha256", "tag", "seconds"},
         rows);
}

void CRecordsReport::Stats(const std::vector<CAttempt>& attempts)
{
    std::map<std::string, Tally> days, ports;
    for (const CAttempt& a : attempts) {
        const bool passed = a.outcome == outcome::kPass || a.outcome == outcome::kUnchanged;
        const bool failed = a.outcome == outcome::kFail;
        if (!passed && !failed) continue;
        const auto ms = records::ParseUtcText(a.startedUtc);
        for (Tally* t : {&days[ms ? records::LocalDay(*ms) : a.startedUtc.substr(0, 10)], &ports[a.port]})
            (passed ? t->passed : t->failed)++;
    }
    if (m_format == RecordsFormat::Json) {
        for (const auto& [group, tallies] : {std::pair{"day", &days}, std::pair{"port", &ports}})
            for (const auto& [key, t] : *tallies) {
                const double yield = double(t.passed) / (t.passed + t.failed);
                m_out << nlohmann::json{{group, key},
                                        {"passed", t.passed},
                                        {"failed", t.failed},
                                        {"yield", std::round(yield * 10000) / 10000}}
                             .dump()
                      << '\n';
            }
        return;
    }
    std::vector<Row> rows;
    for (const auto& [group, tallies] : {std::pair{"day", &days}, std::pair{"port", &ports}})
        for (const auto& [key, t] : *tallies)
            rows.push_back({group, key, std::to_string(t.passed), std::to_string(t.failed), Yield(t)});
    Rows({"per", "day or port", "passed", "failed", "yield"}, rows);
}
