#include "platform/ProfileIni.h"

#include <cctype>
#include <vector>

#include "platform/ProfileFile.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string Trim(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool EqualNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// One line of the file as it was read, with its line end, so that an untouched line
// is written back byte for byte.
struct Line
{
    std::string text; // without the line end
    std::string end;  // "\n", "\r\n" or "" for a last line without one
};

std::vector<Line> SplitLines(const std::string& content)
{
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < content.size()) {
        const size_t lf = content.find('\n', pos);
        if (lf == std::string::npos) {
            lines.push_back({content.substr(pos), ""});
            break;
        }
        size_t textEnd = lf;
        if (textEnd > pos && content[textEnd - 1] == '\r') --textEnd;
        lines.push_back({content.substr(pos, textEnd - pos), content.substr(textEnd, lf + 1 - textEnd)});
        pos = lf + 1;
    }
    return lines;
}

// The section name when the line is a section header.
bool ParseSection(const std::string& text, std::string& name)
{
    const std::string trimmed = Trim(text);
    if (trimmed.empty() || trimmed.front() != '[') return false;
    const size_t close = trimmed.find(']');
    name = Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

bool ParseKey(const std::string& text, std::string& key, std::string& value)
{
    const size_t equals = text.find('=');
    if (equals == std::string::npos) return false;
    key = Trim(text.substr(0, equals));
    value = Trim(text.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return true;
}

// Leading blanks, an optional sign, then decimal digits up to the first non-digit,
// kept modulo 2^32 as the Windows profile functions do.
int ParseProfileInt(const std::string& value)
{
    size_t i = 0;
    while (i < value.size() && IsBlank(value[i]))
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
    uint32_t result = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
        result = result * 10u + static_cast<uint32_t>(value[i] - '0');
    if (negative) result = 0u - result;
    return static_cast<int>(result);
}

ProfileWrite Fail(std::string message)
{
    // Every failure says why; an empty text would read as success.
    return {message.empty() ? std::string("cannot write the settings file") : std::move(message)};
}

} // namespace

namespace {

// The value of key in the first section of that name, if the file has one.
bool FindProfileValue(const std::string& section, const std::string& key, const fs::path& file,
                      std::string& value)
{
    std::string content;
    std::string error;
    if (ReadWholeFile(file, content, error) != ReadStatus::Ok) return false;
    bool inSection = false;
    bool sectionSeen = false;
    for (const Line& line : SplitLines(content)) {
        std::string name;
        if (ParseSection(line.text, name)) {
            // Only the first section of that name counts, as for the Windows functions.
            if (inSection) break;
            inSection = !sectionSeen && EqualNoCase(name, section);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        std::string lineKey;
        if (inSection && ParseKey(line.text, lineKey, value) && EqualNoCase(lineKey, key)) return true;
    }
    return false;
}

} // namespace

int GetPrivateProfileInt(const std::string& section, const std::string& key, int defaultValue,
                         const CPath& fileGiven)
{
    const std::filesystem::path& file = fileGiven.Native();
    std::string value;
    if (!FindProfileValue(section, key, file, value) || value.empty()) return defaultValue;
    return ParseProfileInt(value);
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const CPath& fileGiven)
{
    const std::filesystem::path& file = fileGiven.Native();
    std::string value;
    return FindProfileValue(section, key, file, value) ? value : defaultValue;
}

namespace {

// Sets one key in the file's lines, as a profile write of that key would.
void SetKey(std::vector<Line>& lines, const std::string& section, const std::string& key, int64_t value)
{
    // Lines we add follow the file's own line ends.
    const std::string newline = !lines.empty() && lines.front().end == "\r\n" ? "\r\n" : "\n";
    const std::string entry = key + "=" + std::to_string(value);

    bool inSection = false;
    bool done = false;
    size_t lastInSection = 0; // index after the last non-blank line of the section
    size_t sectionIndex = lines.size();
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        std::string name;
        if (ParseSection(lines[i].text, name)) {
            if (inSection) break;
            if (sectionIndex == lines.size() && EqualNoCase(name, section)) {
                inSection = true;
                sectionIndex = i;
                lastInSection = i + 1;
            }
            continue;
        }
        if (!inSection) continue;
        std::string lineKey;
        std::string oldValue;
        if (ParseKey(lines[i].text, lineKey, oldValue) && EqualNoCase(lineKey, key)) {
            lines[i].text = entry;
            done = true;
        } else if (!Trim(lines[i].text).empty()) {
            lastInSection = i + 1;
        }
    }
    if (done) return;
    // A last line without a line end needs one before anything follows it.
    const bool appending = sectionIndex == lines.size() || lastInSection == lines.size();
    if (appending && !lines.empty() && lines.back().end.empty()) lines.back().end = newline;
    if (sectionIndex != lines.size()) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastInSection), Line{entry, newline});
    } else {
        if (!lines.empty() && !Trim(lines.back().text).empty()) lines.push_back({"", newline});
        lines.push_back({"[" + section + "]", newline});
        lines.push_back({entry, newline});
    }
}

} // namespace

ProfileWrite WritePrivateProfileInts(const std::string& section,
                                     const std::vector<std::pair<std::string, int64_t>>& entries,
                                     const CPath& fileGiven)
{
    const std::filesystem::path& file = fileGiven.Native();
    std::string content;
    std::string error;
    if (ReadWholeFile(file, content, error) == ReadStatus::Failed) return Fail(error);

    std::vector<Line> lines = SplitLines(content);
    for (const auto& [key, value] : entries)
        SetKey(lines, section, key, value);

    std::string output;
    for (const Line& line : lines)
        output += line.text + line.end;
    if (!ReplaceWholeFile(file, output, error)) return Fail(error);
    return {};
}

ProfileWrite WritePrivateProfileInt(const std::string& section, const std::string& key, int64_t value,
                                    const CPath& fileGiven)
{
    const std::filesystem::path& file = fileGiven.Native();
    return WritePrivateProfileInts(section, {{key, value}}, file);
}

} // namespace platform
