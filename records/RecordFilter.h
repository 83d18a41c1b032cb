#pragma once
// Which records a query selects; every empty field selects all.
#include <cstdint>
#include <optional>
#include <string>

struct CRecordFilter
{
    std::string sinceUtc = {}; // started at or after ("2026-12-09T00:00:00.000Z")
    std::string untilUtc = {}; // started before
    std::string port = {};     // the name given or the device it resolved to
    std::string outcome = {};
    std::string tag = {};
    // The start of the serial as printable text or as hex, in any case: a supervisor
    // types "pnl-204" for PNL-20417 as readily as the whole label.
    std::string serial = {};
};

namespace records {

// A bound typed for --since or --until: anything ParseUserTime takes, or "today",
// "yesterday" or "HH:MM[:SS]" (local time, today), as of nowMs. A day means its first
// moment, or with endOfDay the first moment of the day after.
std::optional<int64_t> ParseFilterTime(const std::string& text, bool endOfDay, int64_t nowMs);

} // namespace records
