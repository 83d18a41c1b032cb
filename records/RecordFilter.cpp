#include "records/RecordFilter.h"

#include <regex>

#include "records/RecordTime.h"

namespace records {

std::optional<int64_t> ParseFilterTime(const std::string& text, bool endOfDay, int64_t nowMs)
{
    const std::string today = LocalDay(nowMs);
    if (text == "today") return ParseUserTime(today, endOfDay);
    if (text == "yesterday") {
        // The moment before today's first is yesterday, whatever length a change of the
        // clocks gave either day.
        const std::optional<int64_t> start = ParseUserTime(today, false);
        if (!start) return std::nullopt;
        return ParseUserTime(LocalDay(*start - 1), endOfDay);
    }
    static const std::regex clock(R"(^(\d{1,2}):(\d{2})(:\d{2})?$)");
    std::smatch m;
    if (std::regex_match(text, m, clock))
        return ParseUserTime(today + "T" + (m[1].length() == 1 ? "0" : "") + m[1].str() + ":" + m[2].str() +
                                 m[3].str(),
                             endOfDay);
    return ParseUserTime(text, endOfDay);
}

} // namespace records
