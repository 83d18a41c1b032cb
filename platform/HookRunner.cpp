#include "platform/HookRunner.h"

namespace platform {

std::optional<std::vector<std::string>> SplitHookCommand(const std::string& command)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (const char c : command) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true; // "" is an empty argument
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) return std::nullopt;
    if (inWord) words.push_back(std::move(word));
    if (words.empty()) return std::nullopt;
    return words;
}

} // namespace platform
