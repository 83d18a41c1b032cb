#include "cli/Reporter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "loader/Protocol.h"
#include "platform/Clock.h"
#include "platform/ShownText.h"

ProgressFigures ProgressFigures::FromPages(const std::string& title, uint32_t done, uint32_t total,
                                           double seconds)
{
    ProgressFigures f;
    f.title = title;
    f.pagesDone = std::min(done, total);
    f.pagesTotal = total;
    f.seconds = seconds;
    const double doneBytes = double(f.pagesDone) * kPageSize;
    f.bytesPerSecond = seconds > 0 ? doneBytes / seconds : 0;
    f.secondsLeft = f.bytesPerSecond > 0 ? double(total - f.pagesDone) * kPageSize / f.bytesPerSecond : 0;
    return f;
}

nlohmann::json ProgressFigures::ToJson() const
{
    return {{"operation", title},
            {"pages_done", pagesDone},
            {"pages_total", pagesTotal},
            {"seconds", std::round(seconds * 1000) / 1000},
            {"bytes_per_second", std::round(bytesPerSecond)},
            {"seconds_left", std::round(secondsLeft * 10) / 10}};
}

std::string ProgressFigures::BarLine(int width) const
{
    char tail[96];
    const int left = static_cast<int>(secondsLeft + 0.5);
    std::snprintf(tail, sizeof tail, " %u/%u pages  %.1f KiB/s  %d:%02d left", pagesDone, pagesTotal,
                  bytesPerSecond / 1024.0, left / 60, left % 60);
    std::string head = title;
    head.resize(std::max<size_t>(head.size(), 8), ' ');
    const int barWidth =
        std::clamp(width - 1 - static_cast<int>(head.size() + std::string(tail).size()) - 3, 0, 40);
    std::string line = head;
    if (barWidth > 0) {
        const int filled = pagesTotal ? static_cast<int>(int64_t(barWidth) * pagesDone / pagesTotal) : 0;
        line += " [" + std::string(filled, '#') + std::string(barWidth - filled, '.') + "]";
    }
    line += tail;
    if (width > 1 && static_cast<int>(line.size()) > width - 1) line.resize(width - 1);
    return line;
}

CReporter::CReporter(OutputMode mode, std::ostream& out, std::ostream& err, bool terminal, int width)
    : m_mode(mode), m_out(out), m_err(err), m_terminal(terminal), m_width(width)
{
}

std::string CReporter::OneLine(std::string text)
{
    std::string line;
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            // "Find not match at address\r0F0123" reads best without a gap.
            if (!line.empty() && line.back() != ' ' && c == '\n') line += ' ';
            continue;
        }
        line += c;
    }
    return line;
}

void CReporter::Emit(const nlohmann::json& event)
{
    // A text that is no UTF-8 must not end the program (nlohmann throws by default).
    m_out << event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    m_out.flush();
}

void CReporter::ClearBar()
{
    if (!m_barShown) return;
    m_err << "\r\x1b[K";
    m_barShown = false;
}

void CReporter::Start(const std::string& command, const std::string& port)
{
    m_command = command;
    m_port = port;
    m_startTick = GetTickCount();
    if (m_mode == OutputMode::Json) Emit({{"event", "start"}, {"command", command}, {"port", port}});
}

void CReporter::ProgressStart(const std::string& title)
{
    m_progressTick = GetTickCount();
    m_lastDecile = -1;
}

void CReporter::Progress(const std::string& title, uint32_t pagesDone, uint32_t pagesTotal)
{
    const double seconds = (GetTickCount() - m_progressTick) / 1000.0;
    const ProgressFigures f = ProgressFigures::FromPages(title, pagesDone, pagesTotal, seconds);
    switch (m_mode) {
    case OutputMode::Quiet:
        return;
    case OutputMode::Json: {
        nlohmann::json event = f.ToJson();
        event["event"] = "progress";
        Emit(event);
        return;
    }
    case OutputMode::Text:
        break;
    }
    if (m_terminal) {
        m_err << '\r' << f.BarLine(m_width) << "\x1b[K";
        m_err.flush();
        m_barShown = true;
        return;
    }
    const int decile = f.pagesTotal ? static_cast<int>(10 * f.pagesDone / f.pagesTotal) : 10;
    if (decile == m_lastDecile) return;
    m_lastDecile = decile;
    m_err << f.title << ": " << decile * 10 << " % (" << f.pagesDone << "/" << f.pagesTotal << " pages)\n";
    m_err.flush();
}

void CReporter::ProgressEnd()
{
    if (m_mode == OutputMode::Text && m_barShown) {
        m_err << '\n';
        m_barShown = false;
    }
}

void CReporter::WaitStart(const std::string& title, const std::string& doing, uint32_t longestMs)
{
    m_waitTitle = title;
    m_waitDoing = doing;
    m_waitLongest = longestMs;
    m_progressTick = GetTickCount();
    m_waitShown = -1;
    WaitGoesOn();
}

void CReporter::WaitGoesOn()
{
    if (m_waitTitle.empty()) return;
    const uint32_t elapsed = GetTickCount() - m_progressTick;
    const uint32_t left = (elapsed >= m_waitLongest ? 0 : m_waitLongest - elapsed + 999) / 1000;
    if (left == m_waitShown) return;
    m_waitShown = left;
    char line[64];
    std::snprintf(line, sizeof line, "%s, up to %u:%02u", m_waitDoing.c_str(), left / 60, left % 60);
    if (m_mode == OutputMode::Json) {
        Emit({{"event", "wait"}, {"operation", m_waitTitle}, {"text", line}, {"seconds_left", left}});
    } else if (m_mode == OutputMode::Text && m_terminal) {
        m_err << '\r' << line << "\x1b[K";
        m_err.flush();
        m_barShown = true;
    }
}

void CReporter::WaitEnd()
{
    m_waitTitle.clear();
}

void CReporter::StepBegins(const std::string& step, const std::string& text)
{
    if (m_mode == OutputMode::Json) {
        Emit({{"event", "step"}, {"step", step}, {"text", text}});
    } else if (m_mode == OutputMode::Text && !m_terminal) {
        m_err << text << '\n';
        m_err.flush();
    }
}

void CReporter::Message(const std::string& text)
{
    const std::string line = OneLine(text);
    if (m_mode == OutputMode::Json) {
        Emit({{"event", "message"}, {"text", platform::ValidUtf8(line)}});
        return;
    }
    if (m_mode == OutputMode::Quiet) return;
    ClearBar();
    m_err << platform::ShownText(line) << '\n';
    m_err.flush();
}

void CReporter::PortNotOpened(const std::string& line, const std::string& reason)
{
    m_openFailure = reason;
    if (m_mode == OutputMode::Json) {
        Emit({{"event", "message"}, {"text", line}, {"reason", reason}});
        return;
    }
    Message(line);
}

void CReporter::Value(const std::string& name, const std::string& value)
{
    if (m_mode == OutputMode::Json) {
        // A panel's reply may hold any bytes: kept as \xNN, as the records keep them.
        Emit({{"event", "value"}, {"name", name}, {"value", platform::ValidUtf8(value)}});
        return;
    }
    if (m_mode == OutputMode::Text) m_out << name << ": " << platform::ShownText(value) << '\n';
}

std::string CReporter::ResultLine(const std::string& command, const std::string& port, ExitCode code,
                                  const nlohmann::json& figures)
{
    std::string line = command + " " + port + ": " + ExitCodeName(code);
    std::string details;
    auto add = [&details](const std::string& part) { details += (details.empty() ? "" : ", ") + part; };
    if (figures.contains("pages")) add(std::to_string(figures["pages"].get<int>()) + " pages");
    if (figures.contains("seconds")) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f s", figures["seconds"].get<double>());
        add(text);
    }
    if (figures.contains("baud")) add(std::to_string(figures["baud"].get<int>()) + " bit/s");
    if (figures.contains("verified") && figures["verified"].get<bool>()) add("verified");
    if (figures.contains("output")) add("written to " + figures["output"].get<std::string>());
    if (figures.contains("record_error")) add("record not written");
    return details.empty() ? line : line + " (" + details + ")";
}

void CReporter::Result(ExitCode code, const nlohmann::json& figures)
{
    nlohmann::json all = figures;
    all["seconds"] = std::round((GetTickCount() - m_startTick) / 10.0) / 100;
    if (m_mode == OutputMode::Json) {
        nlohmann::json event = {{"event", "result"},
                                {"command", m_command},
                                {"port", m_port},
                                {"exit_code", static_cast<int>(code)},
                                {"result", ExitCodeName(code)}};
        event.update(all);
        if (!m_openFailure.empty()) event["reason"] = m_openFailure;
        Emit(event);
        return;
    }
    ClearBar();
    m_out << platform::ShownText(ResultLine(m_command, m_port, code, all)) << '\n';
    m_out.flush();
}
