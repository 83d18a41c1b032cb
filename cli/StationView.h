#pragma once
// The station's board as the command line shows it: a table redrawn in place on a
// terminal, a line per change otherwise, or one JSON object per change.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Reporter.h"
#include "station/PanelRate.h"
#include "station/StationBoard.h"

// The table for a terminal `width` columns wide, one string per line without its line
// feed: no line reaches the last column (where a terminal wraps, and the redraw would climb
// short and repeat the header). Long port names are cut from the left, an action too long
// for its column goes on below it, and the records' line is wrapped, never cut.
// `rate` is the total line's words on the panels per hour (RateText).
std::vector<std::string> StationTable(const station::CStationBoard& board,
                                      const std::vector<std::string>& ports, const std::string& rate,
                                      const std::string& backlog, size_t width, bool colour);
// "24 panels/h over the last 15 min", or what the figure waits for.
std::string RateText(const station::PanelRateFigure& rate);

class CStationView
{
public:
    CStationView(const std::vector<std::string>& ports, OutputMode mode, bool terminal, bool colour,
                 std::ostream& out);

    void OnMessage(size_t i, const station::FixtureMessage& message);
    void ProcessEnded(size_t i);
    // What the line's records server still lacks, on the total line ("" when nothing).
    void SetBacklog(const std::string& text);
    void Summary(const std::vector<int>& codes, const std::string& run);

    const station::CStationBoard& Board() const { return m_board; }

private:
    void Tell(size_t i, const station::FixtureMessage& message);
    void Draw();
    // The attempts the board counts that ended since it was last asked, to the rate.
    void CountEnded();

    const std::vector<std::string>& m_ports;
    station::CStationBoard m_board;
    OutputMode m_mode;
    bool m_terminal, m_colour;
    std::ostream& m_out;
    std::string m_backlog;
    station::CPanelRate m_rate;
    int m_counted = 0;
    size_t m_drawnLines = 0;
};
