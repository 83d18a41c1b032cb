#pragma once
// Text from outside (panels, scanners, files, port descriptions, users) is data: it is
// kept as valid UTF-8, and shown without anything a terminal or a spreadsheet would obey.
#include <string>
#include <string_view>

namespace platform {

// The text with every byte that is not part of a valid UTF-8 sequence written as \xNN,
// so that no database or JSON writer refuses it and nothing of it is lost.
std::string ValidUtf8(std::string_view text);

// The text for a terminal: invalid UTF-8 and control characters (C0, DEL and C1, the
// line breaks and tabs among them) written as \xNN, so that an escape sequence in a
// serial or a tag neither clears the screen nor retitles the window.
std::string ShownText(std::string_view text);

// A CSV cell a spreadsheet takes as text: one that begins with = + - @, a tab or a
// carriage return gets a ' in front (it would otherwise run as a formula); numbers are
// left as they are.
std::string SpreadsheetText(const std::string& cell);

} // namespace platform
