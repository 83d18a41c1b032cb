#include "records/AttemptFormats.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "records/Fields.h"
#include "records/RecordTime.h"
#include "platform/Path.h"
#include "platform/ShownText.h"

namespace records {

namespace {

template <class... Ts> struct Overloaded : Ts...
{
    using Ts::operator()...;
};
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

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
    const bool plain = std::none_of(text.begin(), text.end(),
                                    [](char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; });
    if (plain) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

void CCsvRows::Header()
{
    std::string line;
    for (const CField& field : kFields) {
        if (!field.csvKey) continue;
        if (!line.empty()) line += ',';
        line += CsvField(field.csvKey);
    }
    m_out << line << "\r\n";
}

void CCsvRows::Write(const CAttempt& a)
{
    m_line.clear();
    bool first = true;
    for (const CField& field : kFields) {
        if (!field.csvKey) continue;
        if (!first) m_line += ',';
        first = false;
        const auto* text = std::get_if<std::string CAttempt::*>(&field.member);
        const std::string& cell = text && field.type != FieldType::UtcTime ? a.**text : (m_cell = Cell(field, a));
        // Only a cell that begins like a formula can need it.
        const bool formula =
            !cell.empty() && (cell[0] == '=' || cell[0] == '+' || cell[0] == '-' || cell[0] == '@' ||
                              cell[0] == '\t' || cell[0] == '\r');
        const std::string& safe = formula ? (m_cell = platform::SpreadsheetText(cell)) : cell;
        const bool plain = std::none_of(safe.begin(), safe.end(),
                                        [](char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; });
        if (plain)
            m_line += safe;
        else
            m_line += CsvField(safe);
    }
    m_line += "\r\n";
    m_out.write(m_line.data(), static_cast<std::streamsize>(m_line.size()));
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
            a.*std::get<std::vector<std::string> CAttempt::*>(field.member) = std::move(lines);
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

CJsonLines::CJsonLines(std::ostream& out)
    : m_out(out),
      m_escape(nlohmann::detail::output_adapter<char, std::string>(m_line), ' ',
               nlohmann::json::error_handler_t::replace)
{
}

void CJsonLines::Write(const CAttempt& a)
{
    m_line.clear();
    char number[24];
    auto key = [&](const char* name) {
        m_line += m_line.empty() ? "{\"" : ",\"";
        m_line += name;
        m_line += "\":";
    };
    auto integer = [&](int64_t value) {
        const auto end = std::to_chars(number, number + sizeof number, value).ptr;
        m_line.append(number, end);
    };
    auto text = [&](const std::string& value) {
        // Printable ASCII without a quote or backslash is its own JSON text; anything else
        // (control characters, UTF-8, invalid bytes) goes through the library's escaping.
        const bool plain = std::all_of(value.begin(), value.end(), [](char c) {
            return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
        });
        if (plain) {
            m_line += '"';
            m_line += value;
            m_line += '"';
            return;
        }
        m_scratch.get_ref<std::string&>() = value; // reuses the scratch's buffer
        m_escape.dump(m_scratch, false, false, 0);
    };
    for (const CField& field : kFields) {
        key(field.jsonKey);
        std::visit(Overloaded{[&](std::string CAttempt::*m) {
                                  if (!(a.*m).empty() || field.required)
                                      text(a.*m);
                                  else
                                      m_line += "null";
                              },
                              [&](std::optional<int64_t> CAttempt::*m) {
                                  if (a.*m)
                                      integer(*(a.*m));
                                  else
                                      m_line += "null";
                              },
                              [&](uint32_t CAttempt::*m) { integer(a.*m); },
                              [&](const std::vector<std::string> CAttempt::*m) {
                                  m_line += '[';
                                  for (size_t i = 0; i < (a.*m).size(); ++i) {
                                      if (i) m_line += ',';
                                      text((a.*m)[i]);
                                  }
                                  m_line += ']';
                              }},
                   field.member);
    }
    key("revision");
    integer(a.revision);
    m_line += "}\n";
    m_out.write(m_line.data(), static_cast<std::streamsize>(m_line.size()));
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
