#pragma once
// The station's board as the command line shows it: a table redrawn in place on a
// terminal, a line per change otherwise, or one JSON object per change.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Reporter.h"
#include "station/StationBoard.h"

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
    std::string Label(const std::string& text) const;
    std::string Line(const std::string& label, std::string state, station::FixtureState kind, int passed,
                     int failed, const std::string& last) const;
    void Draw();
    int Rate() const;

    const std::vector<std::string>& m_ports;
    station::CStationBoard m_board;
    OutputMode m_mode;
    bool m_terminal, m_colour;
    std::ostream& m_out;
    std::string m_backlog;
    uint32_t m_started;
    size_t m_labelWidth = 5;
    bool m_drawn = false;
};
