#pragma once
// The records keep UTC times as ISO 8601 text with milliseconds and a Z, which sorts
// as text in time order; people see local time with its offset.
#include <cstdint>
#include <optional>
#include <string>

namespace records {

// Milliseconds since 1970-01-01 UTC.
int64_t NowMs();
std::string UtcText(int64_t ms); // "2026-12-09T12:06:01.123Z"
std::optional<int64_t> ParseUtcText(const std::string& text);
// "2026-12-09T13:06:01+01:00"
std::string LocalText(int64_t ms);
// "2026-12-09": the local day.
std::string LocalDay(int64_t ms);
// A time the user typed: "2026-12-09", "2026-12-09T08:00", "2026-12-09 08:00:00", each
// optionally ending in Z or an offset ("+01:00"); local time without either. A date
// alone means its first moment, or with endOfDay the first moment of the day after.
std::optional<int64_t> ParseUserTime(const std::string& text, bool endOfDay);

} // namespace records
