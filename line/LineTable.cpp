#include "line/LineTable.h"

#include <cstdlib>
#include <nlohmann/json.hpp>

namespace line {

namespace {

std::string CsvCell(std::string text, bool numeric)
{
    if (!numeric && !text.empty() && std::string("=+-@\t\r").find(text.front()) != std::string::npos)
        text.insert(0, "'");
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

} // namespace

std::string CLineTable::Json() const
{
    nlohmann::json names = nlohmann::json::array();
    for (const Column& column : columns)
        names.push_back(column.name);
    nlohmann::json all = nlohmann::json::array();
    for (const auto& row : rows) {
        nlohmann::json cells = nlohmann::json::array();
        for (size_t i = 0; i < row.size(); ++i) {
            if (!row[i]) {
                cells.push_back(nullptr);
            } else if (i < columns.size() && columns[i].numeric) {
                const char* text = row[i]->c_str();
                char* end = nullptr;
                const long long whole = std::strtoll(text, &end, 10);
                if (!row[i]->empty() && *end == '\0') {
                    cells.push_back(whole);
                    continue;
                }
                const double number = std::strtod(text, &end);
                if (!row[i]->empty() && *end == '\0')
                    cells.push_back(number);
                else
                    cells.push_back(*row[i]);
            } else {
                cells.push_back(*row[i]);
            }
        }
        all.push_back(std::move(cells));
    }
    // Text from panels and files may hold any bytes: replaced, never refused.
    return nlohmann::json{{"columns", names}, {"rows", all}}.dump(-1, ' ', false,
                                                                  nlohmann::json::error_handler_t::replace);
}

std::string CLineTable::Csv() const
{
    std::string csv;
    for (size_t i = 0; i < columns.size(); ++i)
        csv += (i ? "," : "") + CsvCell(columns[i].name, false);
    csv += "\r\n";
    for (const auto& row : rows) {
        for (size_t i = 0; i < row.size(); ++i)
            csv += (i ? "," : "") + CsvCell(row[i].value_or(""), i < columns.size() && columns[i].numeric);
        csv += "\r\n";
    }
    return csv;
}

} // namespace line
