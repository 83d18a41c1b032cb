#pragma once
// The ID file beside an upgrade: lines whose start is the flash address of an ID byte
// and whose last two characters are its value. A line beginning "FFFFDF" marks a file
// for the M16C/80, whose keys are six characters long instead of five.
#include <array>
#include <string>
#include <string_view>

constexpr size_t kIdFileEntries = 7;
using IdFileKeys = std::array<std::string, kIdFileEntries>;
using IdFileTexts = std::array<std::string, kIdFileEntries>; // "" where the file has no entry

// True when a line of the file marks it as one for the M16C/80.
bool IdFileMarksStyle1(std::string_view text);

// Each key's value; when a key appears on several lines the last stands. Lines shorter
// than the key are passed over.
IdFileTexts ReadIdTexts(std::string_view text, const IdFileKeys& keys);

// The ID file that belongs to an upgrade ("panel.mot" -> "panel.id"), "" for another name.
std::string IdFileName(const std::string& upgradePath);
