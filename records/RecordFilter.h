#pragma once
// Which records a query selects; every empty field selects all.
#include <string>

struct CRecordFilter
{
    std::string sinceUtc = {}; // started at or after ("2026-12-09T00:00:00.000Z")
    std::string untilUtc = {}; // started before
    std::string port = {};     // the name given or the device it resolved to
    std::string outcome = {};
    std::string tag = {};
    std::string serial = {}; // the serial as printable text or as hex (any case)
};
