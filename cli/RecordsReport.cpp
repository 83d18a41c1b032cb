#include "cli/RecordsReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "platform/ShownText.h"

namespace {

std::string Yield(int64_t passed, int64_t failed)
{
    if (passed + failed == 0) return {};
    char text[16];
    std::snprintf(text, sizeof text, "%.1f %%", 100.0 * static_cast<double>(passed) / static_cast<double>(passed + failed));
    return text;
}

} // namespace

CRecordsReport::CRecordsReport(RecordsFormat format, std::ostream& out)
    : m_format(format), m_out(out), m_csv(out), m_json(out)
{
}

void CRecordsReport::Begin()
{
    if (m_format == RecordsFormat::Csv) m_csv.Header();
}

void CRecordsReport::Attempt(const CAttempt& a)
{
    switch (m_format) {
    case RecordsFormat::Json:
        m_json.Write(a);
        break;
    case RecordsFormat::Csv:
        m_csv.Write(a);
        break;
    case RecordsFormat::Table:
        m_rows.push_back(records::TableRow(a));
        break;
    }
}

void CRecordsReport::End()
{
    if (m_format == RecordsFormat::Table) Table(records::TableHeader(), m_rows);
    m_rows.clear();
}

void CRecordsReport::Table(const Row& header, const std::vector<Row>& rows)
{
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

void CRecordsReport::Stats(const std::vector<CRecordStore::StatsRow>& rows)
{
    if (m_format == RecordsFormat::Json) {
        for (const CRecordStore::StatsRow& r : rows) {
            nlohmann::json line{{r.per, r.key},
                                {"passed", r.passed},
                                {"failed", r.failed},
                                {"stopped_part_way", r.stoppedPartWay}};
            if (r.passed + r.failed > 0) {
                const double yield = static_cast<double>(r.passed) / static_cast<double>(r.passed + r.failed);
                line["yield"] = std::round(yield * 10000) / 10000;
            } else {
                line["yield"] = nullptr;
            }
            m_out << line.dump() << '\n';
        }
        return;
    }
    const Row header = {"per", "day or port", "passed", "failed", "stopped part-way", "yield"};
    std::vector<Row> table;
    for (const CRecordStore::StatsRow& r : rows)
        table.push_back({r.per, r.key, std::to_string(r.passed), std::to_string(r.failed),
                         std::to_string(r.stoppedPartWay), Yield(r.passed, r.failed)});
    if (m_format == RecordsFormat::Csv) {
        for (const Row& row : {header})
            for (size_t i = 0; i < row.size(); ++i)
                m_out << (i ? "," : "") << records::CsvField(row[i]) << (i + 1 == row.size() ? "\r\n" : "");
        for (const Row& row : table)
            for (size_t i = 0; i < row.size(); ++i)
                m_out << (i ? "," : "") << records::CsvField(platform::SpreadsheetText(row[i]))
                      << (i + 1 == row.size() ? "\r\n" : "");
        return;
    }
    Table(header, table);
}
