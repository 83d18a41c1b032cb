#pragma once
// The records as people and programs read them: an aligned table, CSV (RFC 4180) or
// JSON lines, and the yield per local day and per port.
#include <ostream>
#include <string>
#include <vector>

#include "records/AttemptFormats.h"
#include "records/RecordStore.h"

enum class RecordsFormat { Table, Csv, Json };

class CRecordsReport
{
public:
    CRecordsReport(RecordsFormat format, std::ostream& out);

    // CSV and JSON go out row by row as they come; the table view is aligned once its
    // rows are all in (it is for people, who read far fewer rows).
    void Begin();
    void Attempt(const CAttempt& attempt);
    void End();
    // Passed (pass and unchanged), failed and stopped part-way per local day and per port.
    void Stats(const std::vector<CRecordStore::StatsRow>& rows);

private:
    using Row = std::vector<std::string>;
    void Table(const Row& header, const std::vector<Row>& rows);

    RecordsFormat m_format;
    std::ostream& m_out;
    std::vector<Row> m_rows;
    records::CCsvRows m_csv;
    records::CJsonLines m_json;
};
