#pragma once
// The last rate torvane-cli worked at, one section of the settings file per port, so
// that a failure on one port never changes what another port starts with.
#include <cstdint>
#include <string>

#include "platform/ProfileIni.h"

// The port's own remembered rate; without one, the rate the windows last worked at
// ([Last Comm State]); without that, 9600 bit/s.
uint32_t RememberedRate(const std::string& port);

// Called only after the panel has answered at `rate`: the port's section and, as the
// windows keep it, [Last Comm State]. A failed run writes nothing. False when the
// settings file could not be written, with why.
platform::ProfileWrite RememberRate(const std::string& port, uint32_t rate);
