#pragma once
// The records as people and programs read them: an aligned table, CSV (RFC 4180) or
// JSON lines, and the yield per local day and per port.
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/records/Attempt.h"

enum class RecordsFormat { Table, Csv, Json };

// One attempt as `records --json` writes it (and as an on-result hook receives it).
nlohmann::ordered_json AttemptJson(const CAttempt& attempt);

class CRecordsReport
{
public:
    CRecordsReport(RecordsFormat format, std::ostream& out);

    void Attempts(const std::vector<CAttempt>& attempts);
    // Passed (pass and unchanged) and failed per local day and per port; stopped and
    // unfinished attempts count for neither.
    void Stats(const std::vector<CAttempt>& attempts);

    static std::string CsvField(const std::string& text);

private:
    using Row = std::vector<std::string>;
    void Rows(const Row& header, const std::vector<Row>& rows);

    RecordsFormat m_format;
    std::ostream& m_out;
};
