#include "records/Fields.h"

#include <algorithm>
#include <charconv>

namespace records {

namespace {

template <class... Ts> struct Overloaded : Ts...
{
    using Ts::operator()...;
};
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

std::optional<int64_t> ParseNumber(const std::string& text)
{
    int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || at != end) return std::nullopt;
    return value;
}

} // namespace

bool IsNumber(const CField& field)
{
    return field.type == FieldType::Integer || field.type == FieldType::Milliseconds;
}

std::optional<std::string> FieldText(const CField& field, const CAttempt& a)
{
    return std::visit(
        Overloaded{[&](std::string CAttempt::*m) -> std::optional<std::string> {
                       if ((a.*m).empty()) return std::nullopt;
                       return a.*m;
                   },
                   [&](std::optional<int64_t> CAttempt::*m) -> std::optional<std::string> {
                       if (!(a.*m)) return std::nullopt;
                       return std::to_string(*(a.*m));
                   },
                   [&](uint32_t CAttempt::*m) -> std::optional<std::string> { return std::to_string(a.*m); },
                   [&](std::vector<std::string> CAttempt::*m) -> std::optional<std::string> {
                       if ((a.*m).empty()) return std::nullopt;
                       return JoinMessages(a.*m);
                   }},
        field.member);
}

std::optional<int64_t> FieldNumber(const CField& field, const CAttempt& a)
{
    if (const auto* m = std::get_if<std::optional<int64_t> CAttempt::*>(&field.member)) return a.**m;
    if (const auto* m = std::get_if<uint32_t CAttempt::*>(&field.member)) return a.**m;
    return std::nullopt;
}

void SetField(const CField& field, CAttempt& a, const std::optional<std::string>& text)
{
    std::visit(Overloaded{[&](std::string CAttempt::*m) { a.*m = text.value_or(std::string()); },
                          [&](std::optional<int64_t> CAttempt::*m) {
                              a.*m = text ? ParseNumber(*text) : std::nullopt;
                          },
                          [&](uint32_t CAttempt::*m) {
                              a.*m = static_cast<uint32_t>(text ? ParseNumber(*text).value_or(0) : 0);
                          },
                          [&](std::vector<std::string> CAttempt::*m) {
                              a.*m = text ? SplitMessages(*text) : std::vector<std::string>();
                          }},
               field.member);
}

void SetField(const CField& field, CAttempt& a, std::optional<int64_t> number)
{
    if (const auto* m = std::get_if<std::optional<int64_t> CAttempt::*>(&field.member))
        a.**m = number;
    else if (const auto* m32 = std::get_if<uint32_t CAttempt::*>(&field.member))
        a.**m32 = static_cast<uint32_t>(number.value_or(0));
    else
        SetField(field, a, number ? std::optional<std::string>(std::to_string(*number)) : std::nullopt);
}

std::vector<const CField*> TableFields()
{
    std::vector<const CField*> shown;
    for (const CField& field : kFields)
        if (field.tableRank) shown.push_back(&field);
    std::sort(shown.begin(), shown.end(), [](const CField* a, const CField* b) { return a->tableRank < b->tableRank; });
    return shown;
}

} // namespace records
