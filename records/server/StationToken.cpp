#include "records/server/StationToken.h"

#include <algorithm>

namespace records_server {

namespace {

// Tokens are long and random; anything shorter was cut when pasted.
constexpr size_t kShortestToken = 16;
constexpr size_t kLongestToken = 1024;

} // namespace

bool CleanStationToken(std::string& token, std::string& error)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!token.empty() && blank(token.back()))
        token.pop_back();
    token.erase(token.begin(), std::find_if_not(token.begin(), token.end(), blank));
    if (token.empty()) {
        error = "no station token given";
        return false;
    }
    if (!std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7f; })) {
        error = "a station token is one word of printable ASCII (as torvane-line station add prints it)";
        return false;
    }
    if (token.size() < kShortestToken || token.size() > kLongestToken) {
        error = "a station token of " + std::to_string(token.size()) +
                " characters is not one torvane-line station add printed";
        return false;
    }
    return true;
}

} // namespace records_server
