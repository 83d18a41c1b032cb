#include "records/RecordTime.h"

#include <chrono>
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
    const auto seconds = static_cast<time_t>(FloorDiv(ms, 1000));
    const std::tm local = LocalFields(seconds);
    const int offset = static_cast<int>((FromUtcFields(local) - seconds) / 60) % (24 * 60);
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', std::abs(offset) / 60,
                  std::abs(offset) % 60);
    return Format("%04d-%02d-%02dT%02d:%02d:%02d", local) + zone;
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
