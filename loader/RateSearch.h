#pragma once
// Finding a panel whose speed is not known: one left at a fast rate by a run that ended
// part-way, or one power-cycled back to 9600 bit/s while the settings say otherwise.
#include <cstdint>
#include <vector>

#include "loader/Result.h"

namespace loader {

class CEngine;

// The byte sent at each rate to ask "are you here": the status request. A panel at
// another rate receives it as garbage, and at no rate can that garbage be a page
// program (0x41), an erase (0xA7), a download (0xFA), an ID check (0xF5) or a speed
// code (0xB0..0xB4): a panel that still has its ID check passed is neither written
// nor moved by the search. The speed codes themselves are no probe: 0xB2 sent at
// 38400 bit/s can reach a 19200 bit/s receiver as 0xFA, and 0xB3 at 57600 as 0xF5.
constexpr uint8_t kProbeByte = 0x70;
constexpr uint32_t kProbeTimeout = 100;  // a status reply takes 2 ms at 9600 bit/s
constexpr uint32_t kSearchPassGap = 300; // a page read started by garbage ends within it
constexpr uint32_t kSearchPasses = 2;

// The order to try: the remembered rate, then 9600 bit/s, then the others slowest first.
std::vector<uint32_t> SearchOrder(uint32_t remembered);

struct PanelSearch
{
    bool found = false;
    uint32_t rate = 0;                 // where the panel answered; the link is left there
    StatusRegister status;             // its answer
    Outcome outcome = Outcome::Silent; // PortLost when the port went away meanwhile
};

// Asks for the status at each rate in turn, twice (the second answer must match the
// first, so that garbage from a reply at another rate is never taken for one), in up
// to two passes. Nothing else is sent. Not found: the link is back at its first rate.
PanelSearch FindPanel(CEngine& engine, const std::vector<uint32_t>& rates,
                      uint32_t probeTimeout = kProbeTimeout);

} // namespace loader
