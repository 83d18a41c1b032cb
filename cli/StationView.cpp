#include "cli/StationView.h"

#include <algorithm>
#include <set>
#include <string_view>

#include <nlohmann/json.hpp>

#include "cli/ExitCode.h"
#include "records/RecordTime.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/ShownText.h"

namespace {

std::string ClockNow()
{
    const std::string local = records::LocalText(records::NowMs());
    return local.size() >= 19 ? local.substr(11, 8) : local;
}

std::string Dump(const nlohmann::json& event)
{
    return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Columns a UTF-8 text takes: one per character ("—" and "…" are one).
size_t Columns(std::string_view text)
{
    return static_cast<size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The byte where the text's column `n` begins (its size when it is shorter).
size_t ByteOfColumn(std::string_view text, size_t n)
{
    size_t column = 0;
    for (size_t i = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && column++ == n) return i;
    return text.size();
}

std::string Padded(std::string text, size_t columns)
{
    const size_t has = Columns(text);
    if (has < columns) text.append(columns - has, ' ');
    return text;
}

// "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0" in 12 columns: "…2:1.0-port0".
std::string FromTheLeft(const std::string& name, size_t columns)
{
    const size_t has = Columns(name);
    if (has <= columns) return name;
    return "…" + name.substr(ByteOfColumn(name, has - columns + 1));
}

// The fewest columns, cut from the left, that keep every name told apart: fixtures on one
// hub differ only near the end of their by-path names.
size_t DistinctColumns(const std::vector<std::string>& names, size_t least)
{
    size_t longest = 0;
    for (const std::string& name : names)
        longest = std::max(longest, Columns(name));
    for (size_t columns = least; columns < longest; ++columns) {
        std::set<std::string> seen;
        for (const std::string& name : names)
            seen.insert(FromTheLeft(name, columns));
        if (seen.size() == names.size()) return columns;
    }
    return std::max(longest, least);
}

// Words to lines of at most `columns`; a word longer than that (an id) is broken.
std::vector<std::string> Wrapped(const std::string& text, size_t columns)
{
    std::vector<std::string> lines{""};
    size_t at = 0;
    while (at < text.size()) {
        const size_t space = text.find(' ', at);
        std::string word = text.substr(at, space == std::string::npos ? std::string::npos : space - at);
        at = space == std::string::npos ? text.size() : space + 1;
        while (!word.empty()) {
            std::string& line = lines.back();
            const size_t used = Columns(line) + (line.empty() ? 0 : 1);
            const size_t room = used < columns ? columns - used : 0;
            const size_t need = Columns(word);
            if (line.empty() || need <= room) {
                const size_t take = std::min(need, line.empty() ? columns : room);
                line += (line.empty() ? "" : " ") + word.substr(0, ByteOfColumn(word, take));
                word.erase(0, ByteOfColumn(word, take));
            }
            if (!word.empty()) lines.emplace_back();
        }
    }
    return lines;
}

const char* ToneColour(station::ActionTone tone)
{
    switch (tone) {
    case station::ActionTone::Good:
        return "\x1b[32m";
    case station::ActionTone::Bad:
        return "\x1b[1;31m";
    case station::ActionTone::Warn:
        return "\x1b[33m";
    default:
        return nullptr;
    }
}

// Beside the action: the counts, and where the terminal is wide enough, the clock time of
// the last attempt that ended.
constexpr size_t kCountLeast = 4, kLastColumns = 8;
// The longest action told in fixed words ("STOPPED PART-WAY — ..."): the port names are
// shown whole, and the clock time, when it fits beside them; an action column is never
// narrower than kActionLeast.
constexpr size_t kActionWanted = 56, kActionLeast = 16, kPortLeast = 12;
// A summary's line after its port: "  1 passed, 0 failed, 1 stopped part-way, not every attempt recorded".
constexpr size_t kSummaryColumns = 70;

std::string RightAligned(const std::string& text, size_t columns)
{
    const size_t has = Columns(text);
    return has < columns ? std::string(columns - has, ' ') + text : text;
}

} // namespace

std::string RateText(const station::PanelRateFigure& rate)
{
    if (!rate.meaningful)
        return "panels/h: after " + std::to_string(station::CPanelRate::kLeastPanels) + " panels or " +
               std::to_string(station::CPanelRate::kWindowMs / 60000) + " min";
    return std::to_string(rate.perHour) + " panels/h over the last " + std::to_string(rate.minutes) + " min";
}

std::vector<std::string> StationTable(const station::CStationBoard& board,
                                      const std::vector<std::string>& ports, const std::string& rate,
                                      const std::string& backlog, size_t width, bool colour)
{
    const size_t usable = std::max<size_t>(width, 40) - 1;
    std::vector<std::string> names;
    size_t longest = Columns("total");
    for (const std::string& port : ports) {
        names.push_back(platform::ShownText(port));
        longest = std::max(longest, Columns(names.back()));
    }
    const size_t countColumns =
        std::max(kCountLeast, std::to_string(std::max(board.Passed(), board.Failed())).size());
    const size_t countsBeside = 2 + countColumns + 2 + countColumns, lastBeside = 2 + kLastColumns;
    size_t portColumns = longest;
    if (longest + 2 + kActionWanted + countsBeside > usable) {
        const size_t room =
            usable > 2 + kActionLeast + countsBeside ? usable - 2 - kActionLeast - countsBeside : 5;
        portColumns = std::clamp(DistinctColumns(names, kPortLeast), std::min<size_t>(kPortLeast, longest),
                                 std::max<size_t>(room, 5));
        portColumns = std::max(std::min(portColumns, longest), Columns("total"));
    }
    const bool withLast = portColumns + 2 + kActionWanted + countsBeside + lastBeside <= usable;
    const size_t beside = countsBeside + (withLast ? lastBeside : 0);
    const size_t actionColumns = std::max<size_t>(usable - std::min(usable, portColumns + 2 + beside), 10);

    std::vector<std::string> lines;
    auto row = [&](const std::string& name, const std::string& action, station::ActionTone tone,
                   const std::string& counted) {
        const std::vector<std::string> parts = Wrapped(platform::ShownText(action), actionColumns);
        const char* paint = colour ? ToneColour(tone) : nullptr;
        for (size_t k = 0; k < parts.size(); ++k) {
            std::string cell = k == 0 ? Padded(parts[k], actionColumns) : parts[k];
            if (paint) cell = paint + cell + "\x1b[0m";
            lines.push_back(Padded(k == 0 ? FromTheLeft(name, portColumns) : "", portColumns) + "  " + cell +
                            (k == 0 ? counted : ""));
        }
    };
    auto counts = [&](const std::string& passed, const std::string& failed, const std::string& last) {
        std::string text =
            "  " + RightAligned(passed, countColumns) + "  " + RightAligned(failed, countColumns);
        if (!withLast) return text;
        const std::string shown = platform::ShownText(last);
        return text + "  " + shown.substr(0, ByteOfColumn(shown, kLastColumns));
    };

    lines.push_back(Padded("PORT", portColumns) + "  " + Padded("ACTION", actionColumns) +
                    counts("PASS", "FAIL", "LAST"));
    for (size_t i = 0; i < board.Size() && i < names.size(); ++i) {
        const station::BoardRow& r = board.Row(i);
        row(names[i], station::ActionText(r), station::ToneOf(r),
            counts(std::to_string(r.passed), std::to_string(r.failed), r.last));
    }
    std::string total = rate;
    if (board.StoppedPartWay()) total += ", " + std::to_string(board.StoppedPartWay()) + " stopped part-way";
    row("total", total, station::ActionTone::Plain,
        counts(std::to_string(board.Passed()), std::to_string(board.Failed()), ""));
    // The records' line names the rows set aside by their ids: whole, on as many lines as it takes.
    if (!backlog.empty())
        for (const std::string& part : Wrapped(platform::ShownText(backlog), usable))
            lines.push_back(part);
    return lines;
}

CStationView::CStationView(const std::vector<std::string>& ports, OutputMode mode, bool terminal, bool colour,
                           std::ostream& out)
    : m_ports(ports), m_board(ports.size()), m_mode(mode), m_terminal(terminal), m_colour(colour), m_out(out),
      m_rate(GetTickCount())
{
    if (m_terminal) Draw();
}

void CStationView::OnMessage(size_t i, const station::FixtureMessage& message)
{
    const bool changed = m_board.OnMessage(i, message);
    CountEnded();
    if (std::holds_alternative<station::AttemptBegun>(message)) return;
    if (m_terminal)
        Draw();
    else if (changed)
        Tell(i, message);
}

void CStationView::ProcessEnded(size_t i)
{
    m_board.ProcessEnded(i, ClockNow());
    CountEnded();
    const station::BoardRow& row = m_board.Row(i);
    if (m_terminal)
        Draw();
    else
        Tell(i, station::StateChanged{row.state, row.text, 0, 0, {}, {}, row.failStep, row.failReason});
}

// One line or one JSON object for a row whose state changed.
void CStationView::Tell(size_t i, const station::FixtureMessage& message)
{
    const station::BoardRow& row = m_board.Row(i);
    const auto* step = std::get_if<station::StepShown>(&message);
    // A step with pages is told by its name; a wait with its countdown.
    const std::string text = step && step->pagesTotal ? station::StateKey(row.state) : row.text;
    if (m_mode == OutputMode::Json) {
        nlohmann::json event = {{"event", "state"},
                                {"port", m_ports[i]},
                                {"state", station::StateKey(row.state)},
                                {"text", text}};
        if (step && !step->pagesTotal) event["seconds_left"] = step->secondsLeft;
        if (const auto* changed = std::get_if<station::StateChanged>(&message)) {
            event["passed"] = row.passed;
            event["failed"] = row.failed;
            if (!changed->last.empty()) event["last"] = changed->last;
            if (changed->exitCode) event["exit_code"] = *changed->exitCode;
            if (row.failStep) event["fail_step"] = station::StepName(*row.failStep);
            if (!row.failReason.empty()) event["fail_reason"] = row.failReason;
        }
        m_out << Dump(event) << '\n' << std::flush;
        return;
    }
    m_out << ClockNow() << "  " << platform::ShownText(m_ports[i]) << ": " << platform::ShownText(text)
          << '\n'
          << std::flush;
}

void CStationView::SetBacklog(const std::string& text)
{
    if (text == m_backlog) return;
    m_backlog = text;
    if (m_terminal)
        Draw();
    else if (m_mode == OutputMode::Json)
        m_out << Dump({{"event", "records"}, {"backlog", text}}) << '\n' << std::flush;
    else if (!text.empty())
        m_out << ClockNow() << "  " << platform::ShownText(text) << '\n' << std::flush;
}

void CStationView::Summary(const std::vector<int>& codes, const std::string& run)
{
    if (m_terminal) Draw();
    const bool recorded = std::all_of(codes.begin(), codes.end(), [](int code) {
        return code == 0 || code == static_cast<int>(ExitCode::PortInUse);
    });
    if (m_mode == OutputMode::Json) {
        nlohmann::json ports = nlohmann::json::array();
        for (size_t i = 0; i < m_board.Size(); ++i)
            ports.push_back({{"port", m_ports[i]},
                             {"passed", m_board.Row(i).passed},
                             {"failed", m_board.Row(i).failed},
                             {"stopped_part_way", m_board.Row(i).stoppedPartWay},
                             {"all_recorded", i < codes.size() && codes[i] == 0},
                             {"exit_code", i < codes.size() ? codes[i] : -1}});
        m_out << Dump({{"event", "summary"},
                       {"station_run", run},
                       {"passed", m_board.Passed()},
                       {"failed", m_board.Failed()},
                       {"stopped_part_way", m_board.StoppedPartWay()},
                       {"panels_per_hour", m_rate.WholeRun(GetTickCount()).perHour},
                       {"ports", ports},
                       {"all_recorded", recorded}})
              << '\n';
    } else {
        m_out << "station stopped (run " << run << ")\n";
        // Under the table, the names as the table cut them (whole in a file or a pipe).
        std::vector<std::string> names;
        for (const std::string& port : m_ports)
            names.push_back(platform::ShownText(port));
        const size_t width = static_cast<size_t>(platform::TerminalWidth(platform::ConsoleStream::Output));
        size_t labelColumns = Columns("total");
        for (const std::string& name : names)
            labelColumns = std::max(labelColumns, Columns(name));
        if (m_terminal && labelColumns + kSummaryColumns > width) {
            const size_t cut = DistinctColumns(names, kPortLeast);
            for (std::string& name : names)
                name = FromTheLeft(name, cut);
            labelColumns = std::max(Columns("total"), std::min(labelColumns, cut));
        }
        auto label = [&](const std::string& name) { return Padded(name, labelColumns) + "  "; };
        // A panel stopped part-way is unusable until flashed again: said apart, never hidden in a count.
        auto stopped = [](int count) {
            return count ? ", " + std::to_string(count) + " stopped part-way" : std::string();
        };
        for (size_t i = 0; i < m_board.Size(); ++i)
            m_out << "  " << label(names[i]) << m_board.Row(i).passed << " passed, " << m_board.Row(i).failed
                  << " failed" << stopped(m_board.Row(i).stoppedPartWay)
                  << (i >= codes.size() || codes[i] == 0                    ? ""
                      : codes[i] == static_cast<int>(ExitCode::PortInUse)   ? ", port in use"
                      : codes[i] == static_cast<int>(ExitCode::FileRefused) ? ", file refused"
                                                                            : ", not every attempt recorded")
                  << '\n';
        // The run's own average, where it has enough panels or time to be one.
        const station::PanelRateFigure whole = m_rate.WholeRun(GetTickCount());
        m_out << "  " << label("total") << m_board.Passed() << " passed, " << m_board.Failed() << " failed"
              << stopped(m_board.StoppedPartWay())
              << (whole.meaningful ? ", " + std::to_string(whole.perHour) + " panels per hour over " +
                                         std::to_string(whole.minutes) + " min"
                                   : std::string())
              << '\n';
    }
    m_out.flush();
}

void CStationView::CountEnded()
{
    const int counted = m_board.Passed() + m_board.Failed();
    if (counted > m_counted) m_rate.Ended(GetTickCount(), counted - m_counted);
    m_counted = counted;
}

void CStationView::Draw()
{
    const size_t width =
        static_cast<size_t>(std::max(platform::TerminalWidth(platform::ConsoleStream::Output), 20));
    const std::vector<std::string> lines =
        StationTable(m_board, m_ports, RateText(m_rate.Recent(GetTickCount())), m_backlog, width, m_colour);
    if (m_drawnLines) m_out << "\x1b[" << m_drawnLines << "A";
    for (const std::string& line : lines)
        m_out << '\r' << line << "\x1b[K\n";
    // A table grown shorter (an action back on one line) leaves nothing below it.
    m_out << "\x1b[J";
    m_out.flush();
    m_drawnLines = lines.size();
}
