#include "image/IdFile.h"

namespace {

constexpr std::string_view kStyle1Mark = "FFFFDF";
constexpr size_t kValueLength = 2;

// Calls visit with every line, a carriage return before its line feed removed.
template <typename Visit> void ForEachLine(std::string_view text, Visit visit)
{
    for (size_t begin = 0; begin < text.size();) {
        const size_t feed = text.find('\n', begin);
        const size_t end = feed == std::string_view::npos ? text.size() : feed;
        std::string_view line = text.substr(begin, end - begin);
        if (feed != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        visit(line);
        begin = end + 1;
    }
}

} // namespace

bool IdFileMarksStyle1(std::string_view text)
{
    bool marked = false;
    ForEachLine(text, [&](std::string_view line) { marked = marked || line.starts_with(kStyle1Mark); });
    return marked;
}

IdFileTexts ReadIdTexts(std::string_view text, const IdFileKeys& keys)
{
    IdFileTexts texts;
    ForEachLine(text, [&](std::string_view line) {
        for (size_t i = 0; i < kIdFileEntries; ++i) {
            if (keys[i].empty() || line.size() < keys[i].size() || !line.starts_with(keys[i])) continue;
            // A line as short as its key is its own value: the last two characters, as ever.
            texts[i] = std::string(line.substr(line.size() >= kValueLength ? line.size() - kValueLength : 0));
            break;
        }
    });
    return texts;
}

std::string IdFileName(const std::string& upgradePath)
{
    for (const std::string_view extension : {".mot", ".s", ".btp"}) {
        if (upgradePath.size() >= extension.size() && std::string_view(upgradePath).ends_with(extension))
            return upgradePath.substr(0, upgradePath.size() - extension.size()) + ".id";
    }
    return {};
}
