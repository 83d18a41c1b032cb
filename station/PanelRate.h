#pragma once
// Panels per hour as an operator can trust the figure: three panels in the first minutes
// make no rate of a shift. It is told once ten panels have ended or a quarter of an hour
// has gone, as an average over a stated window.
#include <cstdint>
#include <deque>

namespace station {

struct PanelRateFigure
{
    bool meaningful = false; // enough panels or time for the figure to say something
    int perHour = 0;
    uint32_t minutes = 0; // the window it is the average of
};

class CPanelRate
{
public:
    static constexpr int kLeastPanels = 10;
    static constexpr uint32_t kWindowMs = 15 * 60 * 1000;

    explicit CPanelRate(uint32_t startedMs) : m_started(startedMs) {}

    // `panels` attempts ended (passed or failed) at this time.
    void Ended(uint32_t atMs, int panels = 1);
    // Over the last quarter of an hour, or over the run while it is shorter.
    PanelRateFigure Recent(uint32_t nowMs) const;
    // Over the whole run.
    PanelRateFigure WholeRun(uint32_t nowMs) const;

private:
    PanelRateFigure Over(uint32_t windowMs, int panels, uint32_t nowMs) const;

    uint32_t m_started;
    int m_panels = 0;
    std::deque<uint32_t> m_ends; // those of the last window
};

} // namespace station
