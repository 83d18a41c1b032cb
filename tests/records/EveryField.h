#pragma once
// An attempt with every field of the field table set to a value of its own, for the
// round trips through the journal, CSV, JSON and the server.
#include <gtest/gtest.h>

#include "records/Attempt.h"
#include "records/Fields.h"

inline CAttempt EveryField()
{
    CAttempt a;
    int64_t number = 1000;
    for (const records::CField& field : records::kFields) {
        const std::string column = field.column;
        switch (field.type) {
        case records::FieldType::Integer:
        case records::FieldType::Milliseconds:
            records::SetField(field, a, std::optional<int64_t>(++number));
            break;
        case records::FieldType::Lines:
            a.*std::get<std::vector<std::string> CAttempt::*>(field.member) = {"first of " + column, "second"};
            break;
        default:
            records::SetField(field, a, std::optional<std::string>(column + " \"x\", y"));
        }
    }
    a.id = "5f0c2a9e-1b7d-4c3e-9a8f-2d6b4e1c0a77";
    a.startedUtc = "2026-12-09T10:00:00.123Z";
    a.endedUtc = "2026-12-09T10:00:18.456Z";
    a.outcome = outcome::kPass;
    return a;
}

inline void ExpectSameFields(const CAttempt& expected, const CAttempt& actual, const char* where)
{
    for (const records::CField& field : records::kFields)
        EXPECT_EQ(records::FieldText(field, actual), records::FieldText(field, expected))
            << field.column << " through " << where;
}
