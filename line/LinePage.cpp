#include "line/LinePage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

// Each function here has its twin in page/line.js: the script makes the same markup when
// the line changes, and the browser test holds the two to the same result.
namespace line {

namespace {

using nlohmann::json;

constexpr char kNotRecorded[] = "(not recorded)";
constexpr char kNotInRun[] = "not in this station's run";
const std::vector<std::pair<const char*, const char*>> kFigures = {
    {"attempt_yield", "Attempt yield"},
    {"first_pass_yield", "First-pass yield"},
    {"final_yield", "Final yield"},
    {"attempts", "Attempts"},
    {"passed", "Passed"},
    {"failed", "Failed"},
    {"retests", "Retests"},
    {"stopped_part_way", "Stopped part-way"},
    {"serials", "Panels with a serial"},
};

std::string Escape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        case '\r': // the parser would make it a line feed
            out += "&#13;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// What the script's String() makes of a cell, "null" for none as its + does.
std::string Text(const json& v)
{
    if (v.is_null()) return "null";
    if (v.is_string()) return v.get<std::string>();
    if (v.is_boolean()) return v.get<bool>() ? "true" : "false";
    if (v.is_number_integer()) return v.dump();
    const double x = v.get<double>();
    if (std::isfinite(x) && x == std::floor(x) && std::fabs(x) < 1e21)
        return json(static_cast<int64_t>(x)).dump();
    return v.dump();
}

bool Truthy(const json& v)
{
    if (v.is_null()) return false;
    if (v.is_string()) return !v.get_ref<const std::string&>().empty();
    if (v.is_boolean()) return v.get<bool>();
    if (v.is_number()) return v.get<double>() != 0;
    return true;
}

int64_t Whole(const json& v)
{
    return v.is_number() ? static_cast<int64_t>(std::floor(v.get<double>())) : 0;
}

// <tag class="...">text</tag>; no class when it is empty, no text when there is none.
std::string Element(const char* tag, const std::string& className, const std::optional<std::string>& text)
{
    std::string html = std::string("<") + tag;
    if (!className.empty()) html += " class=\"" + Escape(className) + "\"";
    html += ">";
    if (text) html += Escape(*text);
    return html + "</" + tag + ">";
}

// A row's cell by its column's name; none when the table lacks the column.
json Cell(const json& row, const char* column)
{
    const auto cell = row.find(column);
    return cell == row.end() ? json() : *cell;
}

// A row as an object of its columns.
json Row(const json& table, size_t row)
{
    json o = json::object();
    const json& cells = table.at("rows")[row];
    for (size_t i = 0; i < table.at("columns").size(); ++i)
        o[table.at("columns")[i].get<std::string>()] = i < cells.size() ? cells[i] : json();
    return o;
}

std::string Ago(int64_t seconds)
{
    if (seconds < 60) return std::to_string(seconds) + " s ago";
    if (seconds < 3600) return std::to_string(seconds / 60) + " min ago";
    if (seconds < 86400) return std::to_string(seconds / 3600) + " h ago";
    return std::to_string(seconds / 86400) + " d ago";
}

std::string MinutesSeconds(int64_t seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

bool LeftRun(const json& f)
{
    return Cell(f, "in_run") == 0;
}

std::optional<std::string> StateText(const json& f)
{
    if (LeftRun(f)) return std::string(kNotInRun);
    const json state = Cell(f, "state");
    if (state.is_null()) return std::nullopt;
    const std::string s = Text(state);
    if (s == "no port") return "adapter missing";
    if (s == "pass") return "PASS";
    if (s == "passed earlier") return "PASS (earlier run)";
    if (s == "fail")
        return "FAIL" + (Truthy(Cell(f, "fail_reason")) ? ": " + Text(Cell(f, "fail_reason"))
                         : Truthy(Cell(f, "step"))      ? ": " + Text(Cell(f, "step"))
                                                        : "");
    if (Truthy(Cell(f, "state_text"))) return Text(Cell(f, "state_text"));
    const bool left = Truthy(Cell(f, "seconds_left"));
    if (s == "erasing")
        return "erasing" + (left ? ", " + MinutesSeconds(Whole(Cell(f, "seconds_left"))) + " left" : "");
    const bool pages = Truthy(Cell(f, "pages_total"));
    return s + (pages ? " " + Text(Cell(f, "pages_done")) + "/" + Text(Cell(f, "pages_total")) : "") +
           (left && !pages ? ", " + MinutesSeconds(Whole(Cell(f, "seconds_left"))) + " left" : "");
}

std::string Fixtures(const json& table)
{
    std::string html;
    for (size_t r = 0; r < table.at("rows").size(); ++r) {
        const json f = Row(table, r);
        const bool silent = Cell(f, "station_silent") == 1;
        std::string kind = LeftRun(f)                        ? "left"
                           : silent                          ? "silent"
                           : Truthy(Cell(f, "state"))        ? Text(Cell(f, "state"))
                           : Truthy(Cell(f, "last_outcome")) ? Text(Cell(f, "last_outcome"))
                                                             : "";
        if (!LeftRun(f) && !silent && Truthy(Cell(f, "state")))
            for (char& c : kind)
                if (c == ' ') c = '-';
        html += "<div class=\"tile " + Escape(kind) + "\">";
        html += "<div class=\"name\" elementtiming=\"tile\">" +
                Escape(Text(Cell(f, "host")) + " " + Text(Cell(f, "port"))) + "</div>";
        const std::optional<std::string> now =
            silent && !LeftRun(f) ? std::optional<std::string>("station silent") : StateText(f);
        if (now && !now->empty()) html += Element("div", "state", now);
        const std::string ago = Ago(Whole(Cell(f, "seconds_ago")));
        if (Truthy(Cell(f, "last_outcome")) && !silent && Cell(f, "state") == Cell(f, "last_outcome")) {
            const std::string serial =
                Cell(f, "last_serial").is_null() ? "without serial" : Text(Cell(f, "last_serial"));
            html += Element("div", "", "last panel " + serial + ", " + ago);
        } else if (Truthy(Cell(f, "last_outcome"))) {
            const std::string serial =
                Cell(f, "last_serial").is_null() ? "no serial" : Text(Cell(f, "last_serial"));
            html += "<div>last " + Element("span", "outcome", Text(Cell(f, "last_outcome"))) +
                    Escape(" " + serial + ", " + ago) + "</div>";
        } else {
            html += Element("div", "", "no panel in the last 30 days");
        }
        html += Element("div", "",
                        "today " + Text(Cell(f, "passed_today")) + " passed, " +
                            Text(Cell(f, "failed_today")) + " failed");
        html += Element("div", "muted",
                        Text(Cell(f, "panels_last_hour")) +
                            (Cell(f, "panels_last_hour") == 1 ? " panel" : " panels") + " in the last hour");
        html += "</div>";
    }
    return html.empty() ? Element("p", "muted", "no fixture has recorded in the last 30 days") : html;
}

std::string Alarms(const json& table)
{
    if (table.at("rows").empty()) return Element("p", "muted", "none");
    std::string html;
    for (size_t r = 0; r < table.at("rows").size(); ++r) {
        const json a = Row(table, r);
        html += "<p class=\"alarm\">" + Element("strong", "", Text(Cell(a, "alarm"))) +
                Escape(": " + Text(Cell(a, "subject")) +
                       (Truthy(Cell(a, "detail")) ? " (" + Text(Cell(a, "detail")) + ")" : "")) +
                "</p>";
    }
    return html;
}

std::string Yields(const json& table)
{
    const json y = Row(table, 0);
    std::string html;
    for (const auto& [key, caption] : kFigures) {
        const json value = Cell(y, key);
        html += "<div class=\"figure\">" +
                Element("div", "value", value.is_null() ? std::nullopt : std::optional(Text(value))) +
                Element("div", "muted", std::string(caption)) + "</div>";
    }
    return html;
}

// Tenths of a second, halves up (as the script's Math.round).
std::string Tenths(double seconds)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", std::floor(seconds * 10 + 0.5) / 10);
    return text;
}

std::string Table(const json& table, bool recordedColumns)
{
    if (table.at("rows").empty()) return Element("p", "muted", "none");
    const json& columns = table.at("columns");
    std::string html = "<table><tbody><tr>";
    for (const json& c : columns) {
        std::string name = c.get<std::string>();
        for (char& ch : name)
            if (ch == '_') ch = ' ';
        html += Element("th", "", name);
    }
    html += "</tr>";
    for (const json& row : table.at("rows")) {
        html += "<tr>";
        for (size_t i = 0; i < row.size() && i < columns.size(); ++i) {
            const json& cell = row[i];
            const std::string column = columns[i].get<std::string>();
            const bool recorded = recordedColumns && (column == "step" || column == "reason");
            const bool seconds =
                cell.is_number() && column.size() >= 2 && column.compare(column.size() - 2, 2, "_s") == 0;
            const bool blank = recorded && (cell.is_null() || cell == "");
            const std::string className = cell.is_number() ? "number" : blank ? "muted" : "";
            const std::optional<std::string> text = seconds          ? Tenths(cell.get<double>())
                                                    : blank          ? std::string(kNotRecorded)
                                                    : cell.is_null() ? std::string()
                                                                     : Text(cell);
            html += Element("td", className, text);
        }
        html += "</tr>";
    }
    return html + "</tbody></table>";
}

} // namespace

std::string FillPage(std::string_view page, const CFirstAnswers& answers)
{
    std::string html(page);
    if (!answers.fixtures || !answers.alarms || !answers.yields || !answers.cycleTimes || !answers.pareto ||
        answers.yields->rows.empty())
        return html;
    // The tables through their JSON, as the script reads them (numbers as numbers, bytes
    // that are no UTF-8 replaced).
    const auto parsed = [](const CLineTable& table) { return json::parse(table.Json()); };
    const std::vector<std::pair<std::string, std::string>> fills = {
        {"fixtures", Fixtures(parsed(*answers.fixtures))},
        {"alarms", Alarms(parsed(*answers.alarms))},
        {"yields", Yields(parsed(*answers.yields))},
        {"cycle-times", Table(parsed(*answers.cycleTimes), false)},
        {"pareto", Table(parsed(*answers.pareto), true)},
    };
    // Where each goes, found in the page's own text before any fill is put in.
    std::vector<std::pair<size_t, const std::string*>> places;
    for (const auto& [id, fill] : fills) {
        const size_t at = html.find("id=\"" + id + "\"");
        const size_t open = at == std::string::npos ? at : html.find('>', at);
        if (open == std::string::npos) return std::string(page);
        places.emplace_back(open + 1, &fill);
    }
    const size_t main = html.find("<main>");
    if (main == std::string::npos) return std::string(page);
    places.emplace_back(main + 5, nullptr);
    std::sort(places.begin(), places.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [at, fill] : places)
        html.insert(at, fill ? *fill : std::string(" data-filled"));
    return html;
}

} // namespace line
