#pragma once
// A table the API answers with: its columns and rows, as JSON for the page and as CSV
// for a spreadsheet. Every cell is text from the server (NULL as none); numeric columns
// go to JSON as numbers.
#include <optional>
#include <string>
#include <vector>

namespace line {

struct CLineTable
{
    struct Column
    {
        std::string name;
        bool numeric = false;
    };
    std::vector<Column> columns;
    std::vector<std::vector<std::optional<std::string>>> rows;

    // {"columns": [...], "rows": [[...], ...]}
    std::string Json() const;
    // A header line, then a line per row (RFC 4180 quoting); a cell that a spreadsheet
    // would take for a formula is given a leading apostrophe.
    std::string Csv() const;
};

} // namespace line
