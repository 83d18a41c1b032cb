#include "station/PanelRate.h"

#include <algorithm>
#include <cmath>

namespace station {

void CPanelRate::Ended(uint32_t atMs, int panels)
{
    for (int i = 0; i < panels; ++i) {
        m_ends.push_back(atMs);
        ++m_panels;
    }
    while (!m_ends.empty() && atMs - m_ends.front() > kWindowMs)
        m_ends.pop_front();
}

PanelRateFigure CPanelRate::Recent(uint32_t nowMs) const
{
    const uint32_t window = std::min(nowMs - m_started, kWindowMs);
    const auto recent =
        std::count_if(m_ends.begin(), m_ends.end(), [&](uint32_t at) { return nowMs - at <= window; });
    return Over(window, static_cast<int>(recent), nowMs);
}

PanelRateFigure CPanelRate::WholeRun(uint32_t nowMs) const
{
    return Over(nowMs - m_started, m_panels, nowMs);
}

PanelRateFigure CPanelRate::Over(uint32_t windowMs, int panels, uint32_t nowMs) const
{
    PanelRateFigure figure;
    figure.meaningful = windowMs > 0 && (m_panels >= kLeastPanels || nowMs - m_started >= kWindowMs);
    if (windowMs == 0) return figure;
    figure.perHour = static_cast<int>(std::lround(panels * 3600000.0 / windowMs));
    figure.minutes = std::max<uint32_t>(1, static_cast<uint32_t>(std::lround(windowMs / 60000.0)));
    return figure;
}

} // namespace station
