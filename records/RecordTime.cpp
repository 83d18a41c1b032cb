#include "records/RecordTime.h"

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <regex>

namespace records {

namespace {

std::tm UtcFields(time_t seconds)
{
    std::tm fields = {};
#ifdef _WIN32
    gmtime_s(&fields, &seconds);
#else
    gmtime_r(&seconds, &fields);
#endif
    return fields;
}

std::tm LocalFields(time_t seconds)
{
    std::tm fields = {};
#ifdef _WIN32
    localtime_s(&fields, &seconds);
#else
    localtime_r(&seconds, &fields);
#endif
    return fields;
}

time_t FromUtcFields(std::tm fields)
{
#ifdef _WIN32
    return _mkgmtime(&fields);
#else
    return timegm(&fields);
#endif
}

int64_t FloorDiv(int64_t value, int64_t divisor)
{
    return value / divisor - (value % divisor < 0 ? 1 : 0);
}

std::string Format(const char* pattern, const std::tm& f)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, f.tm_year + 1900, f.tm_mon + 1, f.tm_mday, f.tm_hour, f.tm_min,
                  f.tm_sec);
    return text;
}

} // namespace

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string UtcText(int64_t ms)
{
    const std::tm fields = UtcFields(static_cast<time_t>(FloorDiv(ms, 1000)));
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03dZ", static_cast<int>(ms - FloorDiv(ms, 1000) * 1000));
    return Format("%04d-%02d-%02dT%02d:%02d:%02d", fields) + millis;
}

std::optional<int64_t> ParseUtcText(const std::string& text)
{
    // The form the records store, read without the general parser: a listing reads two
    // per row, a million rows at a time.
    static constexpr char kForm[] = "dddd-dd-ddTdd:dd:dd.dddZ";
    bool stored = text.size() == sizeof kForm - 1;
    for (size_t i = 0; stored && i < text.size(); ++i)
        stored = kForm[i] == 'd' ? text[i] >= '0' && text[i] <= '9' : text[i] == kForm[i];
    if (!stored) return ParseUserTime(text, false);
    auto number = [&](size_t at, size_t digits) {
        int value = 0;
        for (size_t i = at; i < at + digits; ++i)
            value = value * 10 + (text[i] - '0');
        return value;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return ParseUserTime(text, false);
    // Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
    const int y = year - (month <= 2);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const int64_t days = static_cast<int64_t>(era) * 146097 + dayOfEra - 719468;
    return ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + number(20, 3);
}

std::string LocalText(int64_t ms)
{
    const int64_t seconds = FloorDiv(ms, 1000);
    // Zones and their changes fall on quarter hours, so one offset holds for a quarter of
    // an hour: a listing of a million rows asks the C library once per quarter, not per row.
    thread_local int64_t cachedQuarter = INT64_MIN;
    thread_local int64_t cachedOffset = 0;
    const int64_t quarter = FloorDiv(seconds, 900);
    if (quarter != cachedQuarter) {
        const auto t = static_cast<time_t>(seconds);
        cachedOffset = static_cast<int64_t>(FromUtcFields(LocalFields(t)) - t);
        cachedQuarter = quarter;
    }
    const int64_t local = seconds + cachedOffset;
    // The civil date of a day count (days since 1970-01-01), proleptic Gregorian.
    const int64_t days = FloorDiv(local, 86400);
    const int64_t second = local - days * 86400;
    const int64_t z = days + 719468;
    const int64_t era = FloorDiv(z, 146097);
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2);
    const int offset = static_cast<int>(cachedOffset / 60) % (24 * 60);

    char text[] = "0000-00-00T00:00:00+00:00";
    auto put = [&](size_t at, int64_t value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            text[at + static_cast<size_t>(i)] = static_cast<char>('0' + value % 10);
    };
    text[19] = offset < 0 ? '-' : '+';
    put(20, std::abs(offset) / 60, 2);
    put(23, std::abs(offset) % 60, 2);
    if (year < 0 || year > 9999)
        return Format("%04d-%02d-%02dT%02d:%02d:%02d", LocalFields(static_cast<time_t>(seconds))) + (text + 19);
    put(0, year, 4);
    put(5, month, 2);
    put(8, day, 2);
    put(11, second / 3600, 2);
    put(14, second / 60 % 60, 2);
    put(17, second % 60, 2);
    return text;
}

std::string LocalDay(int64_t ms)
{
    return LocalText(ms).substr(0, 10);
}

std::optional<int64_t> ParseUserTime(const std::string& text, bool endOfDay)
{
    static const std::regex form(
        R"(^(\d{4})-(\d{2})-(\d{2})(?:[T ](\d{2}):(\d{2})(?::(\d{2})(?:\.(\d{1,3}))?)?)?)"
        R"((Z|[+-]\d{2}:?\d{2})?$)");
    std::smatch m;
    if (!std::regex_match(text, m, form)) return std::nullopt;
    std::tm fields = {};
    fields.tm_year = std::stoi(m[1]) - 1900;
    fields.tm_mon = std::stoi(m[2]) - 1;
    fields.tm_mday = std::stoi(m[3]);
    const bool dateOnly = !m[4].matched;
    if (!dateOnly) {
        fields.tm_hour = std::stoi(m[4]);
        fields.tm_min = std::stoi(m[5]);
        if (m[6].matched) fields.tm_sec = std::stoi(m[6]);
    }
    if (fields.tm_mon > 11 || fields.tm_mday < 1 || fields.tm_mday > 31 || fields.tm_hour > 23 ||
        fields.tm_min > 59 || fields.tm_sec > 60)
        return std::nullopt;
    if (dateOnly && endOfDay) ++fields.tm_mday; // normalised by the conversion below
    int64_t millis = 0;
    if (m[7].matched) {
        std::string digits = m[7].str();
        digits.resize(3, '0');
        millis = std::stoi(digits);
    }
    time_t seconds;
    if (m[8].matched) {
        seconds = FromUtcFields(fields);
        const std::string zone = m[8].str();
        if (zone != "Z") {
            const std::string digits = std::regex_replace(zone.substr(1), std::regex(":"), "");
            const long offset = std::stol(digits.substr(0, 2)) * 3600 + std::stol(digits.substr(2, 2)) * 60;
            seconds -= zone[0] == '+' ? offset : -offset;
        }
    } else {
        fields.tm_isdst = -1; // the local rules decide
        seconds = std::mktime(&fields);
    }
    if (seconds == static_cast<time_t>(-1)) return std::nullopt;
    return static_cast<int64_t>(seconds) * 1000 + millis;
}

} // namespace records
