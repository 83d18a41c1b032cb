#include "cli/ParallelRun.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "cli/ExitCode.h"
#include "cli/Reporter.h"
#include "platform/ChildProcesses.h"
#include "platform/Console.h"
#include "platform/ShownText.h"

namespace {

struct PortState
{
    std::string line = "starting";
    nlohmann::json result;
    int lastDecile = -1;
};

} // namespace

int RunParallel(const CliOptions& options, const std::vector<std::string>& childArguments, std::ostream& out,
                std::ostream& err)
{
    const std::string self = platform::SelfExecutablePath();
    std::vector<std::vector<std::string>> commands;
    for (const std::string& port : options.ports) {
        std::vector<std::string> command{self};
        command.insert(command.end(), childArguments.begin(), childArguments.end());
        command.insert(command.end(), {"--port", port, "--json"});
        commands.push_back(command);
    }
    const bool terminal =
        options.mode == OutputMode::Text && platform::IsTerminal(platform::ConsoleStream::Error);
    const int width = platform::TerminalWidth(platform::ConsoleStream::Error);
    std::vector<PortState> states(options.ports.size());
    size_t labelWidth = 0;
    for (const std::string& port : options.ports)
        labelWidth = std::max(labelWidth, port.size());
    auto label = [&](size_t i) {
        std::string text = options.ports[i];
        text.resize(labelWidth, ' ');
        return text + "  ";
    };
    bool drawn = false;
    auto redraw = [&] {
        if (drawn) err << "\x1b[" << states.size() << "A";
        for (size_t i = 0; i < states.size(); ++i)
            err << "\r" << label(i) << states[i].line.substr(0, std::max<size_t>(1, width - labelWidth - 3))
                << "\x1b[K\n";
        err.flush();
        drawn = true;
    };
    // Messages go above the bars: clear them, print, draw them again.
    auto above = [&](const std::string& text) {
        if (drawn) err << "\x1b[" << states.size() << "A\r\x1b[J";
        drawn = false;
        err << text << "\n";
        redraw();
    };
    if (terminal) redraw();
    // A child's JSON event as the parent passes it on: with the port it came from.
    auto emitTagged = [&](const nlohmann::json& event, size_t i) {
        nlohmann::json tagged = event;
        tagged["port"] = options.ports[i];
        out << tagged.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n" << std::flush;
    };

    const std::vector<int> codes = platform::RunChildren(commands, [&](size_t i, const std::string& text) {
        const nlohmann::json event = nlohmann::json::parse(text, nullptr, false);
        if (event.is_discarded() || !event.contains("event")) return;
        const std::string kind = event["event"];
        PortState& state = states[i];
        if (kind == "progress") {
            ProgressFigures f;
            f.title = event.value("operation", "");
            f.pagesDone = event.value("pages_done", 0u);
            f.pagesTotal = event.value("pages_total", 0u);
            f.bytesPerSecond = event.value("bytes_per_second", 0.0);
            f.secondsLeft = event.value("seconds_left", 0.0);
            state.line = f.BarLine(width - static_cast<int>(labelWidth) - 2);
            if (options.mode == OutputMode::Json) {
                emitTagged(event, i);
            } else if (terminal) {
                redraw();
            } else if (options.mode == OutputMode::Text) {
                const int decile = f.pagesTotal ? static_cast<int>(10 * f.pagesDone / f.pagesTotal) : 10;
                if (decile != state.lastDecile) {
                    state.lastDecile = decile;
                    err << options.ports[i] << ": " << f.title << ": " << decile * 10 << " %\n" << std::flush;
                }
            }
        } else if (kind == "wait") {
            // The erase's countdown in the port's line, where its bar will be.
            state.line = event.value("text", "");
            if (options.mode == OutputMode::Json) {
                emitTagged(event, i);
            } else if (terminal) {
                redraw();
            }
        } else if (kind == "step") {
            // Where no bar shows, a port's step is told as it begins.
            if (options.mode == OutputMode::Json)
                emitTagged(event, i);
            else if (options.mode == OutputMode::Text && !terminal)
                err << platform::ShownText(options.ports[i] + ": " + event.value("text", "")) << "\n"
                    << std::flush;
        } else if (kind == "message") {
            const std::string line = platform::ShownText(options.ports[i] + ": " + event.value("text", ""));
            if (options.mode == OutputMode::Json) {
                emitTagged(event, i);
            }
            if (options.mode == OutputMode::Quiet) return;
            if (terminal)
                above(line);
            else
                err << line << "\n" << std::flush;
        } else if (kind == "result") {
            state.result = event;
            state.line = event.value("result", "");
            if (options.mode == OutputMode::Json)
                out << event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n"
                    << std::flush;
            if (terminal) redraw();
        } else if (options.mode == OutputMode::Json) {
            out << event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n" << std::flush;
        }
    });

    int worst = 0;
    for (size_t i = 0; i < codes.size(); ++i) {
        const int code = codes[i] < 0 ? static_cast<int>(ExitCode::Failed) : codes[i];
        worst = std::max(worst, code);
        if (options.mode == OutputMode::Json) continue;
        const nlohmann::json& r = states[i].result;
        nlohmann::json figures = r.is_object() ? r : nlohmann::json::object();
        out << platform::ShownText(CReporter::ResultLine(options.command, options.ports[i],
                                                         static_cast<ExitCode>(code), figures))
            << "\n";
    }
    if (options.mode == OutputMode::Json)
        out << nlohmann::json{{"event", "summary"},
                              {"exit_code", worst},
                              {"result", ExitCodeName(static_cast<ExitCode>(worst))}}
                   .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
            << "\n";
    else if (options.mode == OutputMode::Text)
        out << "summary: " << options.ports.size() << " ports, worst result "
            << ExitCodeName(static_cast<ExitCode>(worst)) << "\n";
    out.flush();
    return worst;
}
