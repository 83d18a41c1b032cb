#include "cli/StationView.h"

#include <algorithm>
#include <cstdio>

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

} // namespace

CStationView::CStationView(const std::vector<std::string>& ports, OutputMode mode, bool terminal, bool colour,
                           std::ostream& out)
    : m_ports(ports), m_board(ports.size()), m_mode(mode), m_terminal(terminal), m_colour(colour), m_out(out),
      m_started(GetTickCount())
{
    for (const std::string& port : ports)
        m_labelWidth = std::max(m_labelWidth, port.size());
    if (m_terminal) Draw();
}

void CStationView::OnMessage(size_t i, const station::FixtureMessage& message)
{
    const bool changed = m_board.OnMessage(i, message);
    if (std::holds_alternative<station::AttemptBegun>(message)) return;
    if (m_terminal)
        Draw();
    else if (changed)
        Tell(i, message);
}

void CStationView::ProcessEnded(size_t i)
{
    m_board.ProcessEnded(i, ClockNow());
    const station::BoardRow& row = m_board.Row(i);
    if (m_terminal)
        Draw();
    else
        Tell(i, station::StateChanged{row.state, row.text, 0, 0, {}, {}});
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
                             {"all_recorded", i < codes.size() && codes[i] == 0},
                             {"exit_code", i < codes.size() ? codes[i] : -1}});
        m_out << Dump({{"event", "summary"},
                       {"station_run", run},
                       {"passed", m_board.Passed()},
                       {"failed", m_board.Failed()},
                       {"panels_per_hour", Rate()},
                       {"ports", ports},
                       {"all_recorded", recorded}})
              << '\n';
    } else {
        m_out << "station stopped (run " << run << ")\n";
        for (size_t i = 0; i < m_board.Size(); ++i)
            m_out << "  " << Label(platform::ShownText(m_ports[i])) << m_board.Row(i).passed << " passed, "
                  << m_board.Row(i).failed << " failed"
                  << (i >= codes.size() || codes[i] == 0                    ? ""
                      : codes[i] == static_cast<int>(ExitCode::PortInUse)   ? ", port in use"
                      : codes[i] == static_cast<int>(ExitCode::FileRefused) ? ", file refused"
                                                                            : ", not every attempt recorded")
                  << '\n';
        m_out << "  " << Label("total") << m_board.Passed() << " passed, " << m_board.Failed() << " failed, "
              << Rate() << " panels per hour\n";
    }
    m_out.flush();
}

int CStationView::Rate() const
{
    return m_board.PanelsPerHour(GetTickCount() - m_started);
}

std::string CStationView::Label(const std::string& text) const
{
    std::string label = text;
    label.resize(std::max(m_labelWidth, text.size()), ' ');
    return label + "  ";
}

std::string CStationView::Line(const std::string& label, std::string state, station::FixtureState kind,
                               int passed, int failed, const std::string& last) const
{
    const size_t stateWidth = 40;
    state = platform::ShownText(state);
    if (state.size() > stateWidth) state = state.substr(0, stateWidth - 3) + "...";
    std::string padded = state;
    padded.resize(stateWidth, ' ');
    if (m_colour && kind == station::FixtureState::Pass) padded = "\x1b[32m" + padded + "\x1b[0m";
    if (m_colour && kind == station::FixtureState::Fail) padded = "\x1b[31m" + padded + "\x1b[0m";
    char counts[64];
    std::snprintf(counts, sizeof counts, "%6d  %6d  ", passed, failed);
    return Label(platform::ShownText(label)) + padded + counts + platform::ShownText(last);
}

void CStationView::Draw()
{
    if (m_drawn) m_out << "\x1b[" << (m_board.Size() + 3) << "A";
    m_out << '\r' << Label("PORT") << "STATE                                   PASSED  FAILED  LAST"
          << "\x1b[K\n";
    for (size_t i = 0; i < m_board.Size(); ++i) {
        const station::BoardRow& row = m_board.Row(i);
        m_out << '\r' << Line(m_ports[i], row.text, row.state, row.passed, row.failed, row.last)
              << "\x1b[K\n";
    }
    m_out << '\r'
          << Line("total", "", station::FixtureState::Starting, m_board.Passed(), m_board.Failed(),
                  std::to_string(Rate()) + " panels/h")
          << "\x1b[K\n";
    // The records' line below the table, whole up to the terminal's width: it names the
    // rows set aside by their ids.
    std::string backlog = platform::ShownText(m_backlog);
    const size_t width =
        static_cast<size_t>(std::max(platform::TerminalWidth(platform::ConsoleStream::Output), 20));
    if (backlog.size() > width - 1) backlog = backlog.substr(0, width - 4) + "...";
    m_out << '\r' << backlog << "\x1b[K\n";
    m_out.flush();
    m_drawn = true;
}
