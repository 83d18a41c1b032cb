#include "records/AttemptFormats.h"

#include <cstdio>

#include "records/Fields.h"
#include "records/RecordTime.h"
#include "platform/Path.h"
#include "platform/ShownText.h"

namespace records {

namespace {

std::string Local(const std::string& utc)
{
    if (utc.empty()) return {};
    const auto ms = ParseUtcText(utc);
    return ms ? LocalText(*ms) : utc;
}

std::string Seconds(const std::optional<int64_t>& ms)
{
    if (!ms) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(*ms) / 1000.0);
    return text;
}

// The cell of CSV and of the table view, before quoting or escaping.
std::string Cell(const CField& field, const CAttempt& a)
{
    switch (field.type) {
    case FieldType::UtcTime:
        return Local(FieldText(field, a).value_or(std::string()));
    case FieldType::Milliseconds:
        return Seconds(FieldNumber(field, a));
    default:
        return FieldText(field, a).value_or(std::string());
    }
}

} // namespace

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

void WriteCsvHeader(std::ostream& out)
{
    std::string line;
    for (const CField& field : kFields)
        if (field.csvKey) line += (line.empty() ? "" : ",") + CsvField(field.csvKey);
    out << line << "\r\n";
}

void WriteCsvRow(std::ostream& out, const CAttempt& a)
{
    std::string line;
    bool first = true;
    for (const CField& field : kFields) {
        if (!field.csvKey) continue;
        if (!first) line += ',';
        first = false;
        line += CsvField(platform::SpreadsheetText(Cell(field, a)));
    }
    line += "\r\n";
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
}

std::vector<std::string> TableHeader()
{
    std::vector<std::string> header;
    for (const CField* field : TableFields())
        header.push_back(field->tableHeader);
    return header;
}

std::vector<std::string> TableRow(const CAttempt& a)
{
    std::vector<std::string> row;
    for (const CField* field : TableFields()) {
        switch (field->shown) {
        case Shown::FileName:
            row.push_back(platform::CPath::FromUtf8(Cell(*field, a)).FileName());
            break;
        case Shown::Digest:
            row.push_back(Cell(*field, a).substr(0, 12));
            break;
        case Shown::SerialOrHex:
            row.push_back(!a.serialText.empty() ? a.serialText : a.serialHex);
            break;
        case Shown::AsIs:
            row.push_back(Cell(*field, a));
            break;
        }
    }
    return row;
}

bool AttemptFromJson(const nlohmann::json& o, CAttempt& a)
{
    if (!o.is_object()) return false;
    for (const CField& field : kFields) {
        const auto found = o.find(field.jsonKey);
        if (found == o.end()) continue; // written by an older version: stays empty
        if (field.type == FieldType::Lines) {
            std::vector<std::string> lines;
            if (found->is_array())
                for (const auto& line : *found)
                    if (line.is_string()) lines.push_back(line.get<std::string>());
            SetField(field, a, lines.empty() ? std::nullopt : std::optional<std::string>(JoinMessages(lines)));
        } else if (IsNumber(field)) {
            SetField(field, a, found->is_number_integer() ? std::optional<int64_t>(found->get<int64_t>())
                                                           : std::nullopt);
        } else {
            SetField(field, a,
                     found->is_string() ? std::optional<std::string>(found->get<std::string>()) : std::nullopt);
        }
    }
    // The file's revision is never taken: the server keeps its own.
    return !a.id.empty() && !a.startedUtc.empty() && !a.outcome.empty() && !a.command.empty();
}

void WriteJsonLine(std::ostream& out, const CAttempt& a)
{
    out << AttemptJson(a).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

} // namespace records

nlohmann::ordered_json AttemptJson(const CAttempt& a)
{
    using namespace records;
    nlohmann::ordered_json o = nlohmann::ordered_json::object();
    for (const CField& field : kFields) {
        if (field.type == FieldType::Lines) {
            o[field.jsonKey] = a.*std::get<std::vector<std::string> CAttempt::*>(field.member);
        } else if (IsNumber(field)) {
            const auto number = FieldNumber(field, a);
            o[field.jsonKey] = number ? nlohmann::ordered_json(*number) : nlohmann::ordered_json();
        } else {
            const auto text = FieldText(field, a);
            o[field.jsonKey] = text           ? nlohmann::ordered_json(*text)
                               : field.required ? nlohmann::ordered_json("")
                                                : nlohmann::ordered_json();
        }
    }
    o["revision"] = a.revision;
    return o;
}
