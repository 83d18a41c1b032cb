#pragma once
// Everything torvane-cli tells its user: the message boxes as lines on standard
// error, progress as a bar redrawn in place on a terminal or a line every 10 %
// otherwise, and the result; with --json one object per event on standard output.
#include <cstdint>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/ExitCode.h"

enum class OutputMode { Text, Json, Quiet };

// Progress of one long operation in pages, with its rate and the time left.
struct ProgressFigures
{
    std::string title;
    uint32_t pagesDone = 0, pagesTotal = 0;
    double seconds = 0; // since the operation started
    double bytesPerSecond = 0;
    double secondsLeft = 0;

    static ProgressFigures FromPages(const std::string& title, uint32_t done, uint32_t total, double seconds);
    nlohmann::json ToJson() const;
    // "Program  [######......]  120/256 pages  3.1 KiB/s  0:44 left", cut to width.
    std::string BarLine(int width) const;
};

class CReporter
{
public:
    CReporter(OutputMode mode, std::ostream& out, std::ostream& err, bool terminal, int width);

    void Start(const std::string& command, const std::string& port);
    void ProgressStart(const std::string& title);
    void Progress(const std::string& title, uint32_t pagesDone, uint32_t pagesTotal);
    void ProgressEnd();
    // A step that waits for the panel with no pages to count (the erase): "erasing, up to
    // 0:40" counted down in place on a terminal, and an event a second with --json. Ended
    // by WaitEnd; the next line for the user takes its place.
    void WaitStart(const std::string& title, const std::string& doing, uint32_t longestMs);
    void WaitGoesOn();
    void WaitEnd();
    // A step of the road begins ("erasing, up to 0:40"): a line of its own into a file or
    // a pipe, which has no bar to watch, and an event with --json. On a terminal the bar
    // and the countdown tell it already.
    void StepBegins(const std::string& step, const std::string& text);
    // A line for the user (a message box's text, a warning), on one line.
    void Message(const std::string& text);
    // A figure the command reads from the device (status bits, version text).
    void Value(const std::string& name, const std::string& value);
    // A port that did not open: the line, and the reason in the JSON events.
    void PortNotOpened(const std::string& line, const std::string& reason);
    void Result(ExitCode code, const nlohmann::json& figures);

    static std::string OneLine(std::string text);
    static std::string ResultLine(const std::string& command, const std::string& port, ExitCode code,
                                  const nlohmann::json& figures);

private:
    void Emit(const nlohmann::json& event);
    void ClearBar();

    OutputMode m_mode;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_terminal;
    int m_width;
    std::string m_command, m_port;
    uint32_t m_startTick = 0;    // of the session
    uint32_t m_progressTick = 0; // of the running operation
    int m_lastDecile = -1;
    bool m_barShown = false;
    std::string m_waitTitle, m_waitDoing; // of the wait under way, if one is
    uint32_t m_waitLongest = 0;
    int64_t m_waitShown = -1;  // the seconds last shown
    std::string m_openFailure; // the reason, for the JSON result
};
