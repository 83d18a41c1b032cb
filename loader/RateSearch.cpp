#include "loader/RateSearch.h"

#include <algorithm>
#include <tuple>

#include "link/SerialComm.h"
#include "loader/Engine.h"

namespace loader {

std::vector<uint32_t> SearchOrder(uint32_t remembered)
{
    std::vector<uint32_t> order;
    if (BaudCode(remembered) != 0) order.push_back(remembered);
    for (const uint32_t rate : kBaudRates) {
        if (std::find(order.begin(), order.end(), rate) == order.end()) order.push_back(rate);
    }
    return order;
}

PanelSearch FindPanel(CEngine& engine, const std::vector<uint32_t>& rates, uint32_t probeTimeout)
{
    static_assert(kProbeByte == bootcode::kReadStatus, "the probe is the status request");
    CSerialComm& link = engine.Link();
    const uint32_t previousTimeout = link.GetTimeout();
    link.SetTimeout(probeTimeout);
    PanelSearch search;
    for (uint32_t pass = 0; pass < kSearchPasses && !search.found; ++pass) {
        if (pass > 0) {
            // A page read that the first pass's garbage started sends its 256 bytes now.
            engine.Pause(kSearchPassGap);
        }
        for (const uint32_t rate : rates) {
            const bool rateSet = engine.SetLinkRate(rate);
            // A port that is gone refuses every speed: that is no speed the adapter lacks.
            if (!rateSet && link.IsHungUp()) {
                search.outcome = Outcome::PortLost;
                pass = kSearchPasses;
                break;
            }
            if (!rateSet) continue; // a speed the adapter refuses cannot be probed
            link.Purge(0);
            StatusRegister first, second;
            Result result = engine.ReadStatus(first);
            if (result.outcome == Outcome::PortLost) {
                search.outcome = Outcome::PortLost;
                pass = kSearchPasses;
                break;
            }
            if (!result.Ok()) continue;
            link.Purge(0);
            result = engine.ReadStatus(second);
            if (!result.Ok() || second.srd1 != first.srd1 || second.srd2 != first.srd2) continue;
            search = {true, rate, second, Outcome::Done};
            break;
        }
    }
    if (!search.found && !rates.empty()) std::ignore = engine.SetLinkRate(rates.front());
    link.SetTimeout(previousTimeout);
    return search;
}

} // namespace loader
