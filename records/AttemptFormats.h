#pragma once
// An attempt as people and programs read it, from the field table: a CSV row (RFC 4180),
// a JSON line (records --json, read back by records --import) and the table view's cells.
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "records/Attempt.h"

// One attempt as `records --json` writes it (and as an on-result hook receives it):
// every field, times in UTC, and the revision.
nlohmann::ordered_json AttemptJson(const CAttempt& attempt);

namespace records {

// One line of records --json, from this version or an older one (a field it lacks stays
// empty); false when it is no record (no id, start, outcome or command).
bool AttemptFromJson(const nlohmann::json& object, CAttempt& attempt);

// records --json: the lines of AttemptJson, written straight from the attempt (a listing
// writes a million of them).
class CJsonLines
{
public:
    explicit CJsonLines(std::ostream& out);
    void Write(const CAttempt& attempt);

private:
    std::ostream& m_out;
    std::string m_line;
    nlohmann::detail::serializer<nlohmann::json> m_escape;
    nlohmann::json m_scratch = std::string();
};

// A cell quoted when it needs it.
std::string CsvField(const std::string& text);
// records --csv: times local, durations in seconds; cells a spreadsheet would run as
// formulas are made text.
class CCsvRows
{
public:
    explicit CCsvRows(std::ostream& out) : m_out(out) {}
    void Header();
    void Write(const CAttempt& attempt);

private:
    std::ostream& m_out;
    std::string m_line, m_cell;
};

std::vector<std::string> TableHeader();
// The cells as they are; the view escapes them for the terminal.
std::vector<std::string> TableRow(const CAttempt& attempt);

} // namespace records
