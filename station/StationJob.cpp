#include "station/StationJob.h"

#include <algorithm>
#include <cctype>
#include <regex>
#include <sstream>
#include <utility>

#include "loader/Protocol.h"
#include "platform/Paths.h"
#include "platform/SmallFile.h"

namespace station {

namespace {

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool ParseSwitch(const std::string& text, bool& value)
{
    const std::string word = Lower(text);
    if (word == "on" || word == "yes" || word == "true" || word == "1") return value = true, true;
    if (word == "off" || word == "no" || word == "false" || word == "0") return value = false, true;
    return false;
}

// What one job file is read into, and how its names and values are read.
struct JobContext
{
    const std::string& file;
    platform::CPath folder;
    StationJob& job;
    std::string& error;

    // Relative names are the job file's neighbours, wherever the station is started.
    std::string Path(const std::string& text) const
    {
        return platform::CPath::FromUtf8(text).IsAbsolute() ? text : (folder / text).Utf8();
    }
    bool Refuse(const std::string& key, const std::string& value, const std::string& why) const
    {
        error = file + ": " + key + " = " + value + " " + why;
        return false;
    }
    template <typename List>
    bool Number(const std::string& key, const std::string& text, std::optional<uint32_t>& value,
                const List& allowed) const
    {
        const std::string digits = text.substr(0, text.find_first_not_of("0123456789"));
        const uint32_t parsed =
            digits.empty() || digits.size() > 6 ? 0 : static_cast<uint32_t>(std::stoul(digits));
        if (digits != text || std::find(std::begin(allowed), std::end(allowed), parsed) == std::end(allowed))
            return Refuse(key, text, "is not one of the values it can have");
        value = parsed;
        return true;
    }
};

using JobSetting = bool (*)(JobContext& job, const std::string& key, const std::string& value);

// The only keys a job file knows. A later option is one more line here.
const std::vector<std::pair<std::string, JobSetting>> kJobKeys = {
    {"file",
     [](JobContext& c, const std::string&, const std::string& v) { return c.job.file = c.Path(v), true; }},
    {"sha256",
     [](JobContext& c, const std::string&, const std::string& v) { return c.job.sha256 = v, true; }},
    {"ports",
     [](JobContext& c, const std::string&, const std::string& v) {
         std::string list = v;
         std::replace(list.begin(), list.end(), ',', ' ');
         std::istringstream words(list);
         for (std::string port; words >> port;)
             c.job.ports.push_back(port);
         return true;
     }},
    {"baud", [](JobContext& c, const std::string& k,
                const std::string& v) { return c.Number(k, v, c.job.baud, loader::kBaudRates); }},
    {"page-pause", [](JobContext& c, const std::string& k,
                      const std::string& v) { return c.Number(k, v, c.job.pagePause, kPagePauses); }},
    {"verify",
     [](JobContext& c, const std::string& k, const std::string& v) {
         bool verify = true;
         if (!ParseSwitch(v, verify)) return c.Refuse(k, v, "is neither on nor off");
         c.job.verify = verify;
         return true;
     }},
    {"tag", [](JobContext& c, const std::string&, const std::string& v) { return c.job.tag = v, true; }},
    {"backup-dir", [](JobContext& c, const std::string&,
                      const std::string& v) { return c.job.backupDir = c.Path(v), true; }},
    {"records",
     [](JobContext& c, const std::string&, const std::string& v) { return c.job.records = c.Path(v), true; }},
    {"base",
     [](JobContext& c, const std::string& k, const std::string& v) {
         c.job.base = ParseHexAddress(v);
         return c.job.base ? true : c.Refuse(k, v, "is no address in hex below 1000000");
     }},
    {"trusted-key",
     [](JobContext& c, const std::string&, const std::string& v) {
         // Several keys are separated by commas.
         std::istringstream list(v);
         for (std::string key; std::getline(list, key, ',');)
             if (!Trim(key).empty()) c.job.trustedKeys.push_back(c.Path(Trim(key)));
         return true;
     }},
    {"pre-check",
     [](JobContext& c, const std::string&, const std::string& v) { return c.job.preCheck = v, true; }},
    {"on-result",
     [](JobContext& c, const std::string&, const std::string& v) { return c.job.onResult = v, true; }},
    {"hook-timeout",
     [](JobContext& c, const std::string& k, const std::string& v) {
         static const std::regex form("^[0-9]{1,4}$");
         if (!std::regex_match(v, form) || std::stoul(v) < 1 || std::stoul(v) > 3600)
             return c.Refuse(k, v, "is no number of seconds from 1 to 3600");
         c.job.hookTimeoutSeconds = static_cast<uint32_t>(std::stoul(v));
         return true;
     }},
    {"serial-at",
     [](JobContext& c, const std::string& k, const std::string& v) {
         c.job.serialAt = ParseSerialArea(v);
         return c.job.serialAt ? true : c.Refuse(k, v, "is no ADDR:LEN outside 0F0000-0FFFFF");
     }},
    {"keep",
     [](JobContext& c, const std::string& k, const std::string& v) {
         // Several ranges are separated by commas.
         std::istringstream list(v);
         for (std::string range; std::getline(list, range, ',');) {
             if (Trim(range).empty()) continue;
             const std::optional<SerialArea> area = ParseSerialArea(Trim(range), kLongestKeptArea);
             if (!area) return c.Refuse(k, v, "is no list of ADDR:LEN below 0F0000");
             c.job.keep.push_back(*area);
         }
         return true;
     }},
    {"records-server",
     [](JobContext& c, const std::string&, const std::string& v) { return c.job.recordsServer = v, true; }},
    {"station-token", [](JobContext& c, const std::string&,
                         const std::string& v) { return c.job.stationToken = c.Path(v), true; }},
    {"server-cert", [](JobContext& c, const std::string&,
                       const std::string& v) { return c.job.serverCert = c.Path(v), true; }},
};

size_t EditDistance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string ClosestJobKey(const std::string& key)
{
    std::string closest;
    size_t best = std::string::npos;
    for (const auto& known : kJobKeys) {
        // "expect-sha256" holds "sha256" whole: closer than any edit count says.
        const size_t distance =
            key.find(known.first) != std::string::npos ? 0 : EditDistance(key, known.first);
        if (distance < best) best = distance, closest = known.first;
    }
    return closest;
}

} // namespace

std::optional<uint32_t> ParseHexAddress(const std::string& text)
{
    static const std::regex form("^(?:0[xX])?([0-9A-Fa-f]{1,6})$");
    std::smatch match;
    if (!std::regex_match(text, match, form)) return std::nullopt;
    return static_cast<uint32_t>(std::stoul(match[1], nullptr, 16));
}

std::optional<SerialArea> ParseSerialArea(const std::string& text, uint32_t longest)
{
    static const std::regex form("^(?:0[xX])?([0-9A-Fa-f]{1,6}):([0-9]{1,5})$");
    std::smatch match;
    if (!std::regex_match(text, match, form)) return std::nullopt;
    const uint32_t address = static_cast<uint32_t>(std::stoul(match[1], nullptr, 16));
    const uint32_t length = static_cast<uint32_t>(std::stoul(match[2]));
    // The area that is erased would hold nothing of the panel's own.
    if (length == 0 || length > longest || address + length > loader::kAreaStart) return std::nullopt;
    return SerialArea{address, length};
}

bool ReadStationJob(const std::string& jobFile, StationJob& job, std::string& error)
{
    // Read whole or not at all; a link is followed to the job it names.
    std::string content, problem;
    switch (platform::ReadSmallFile(platform::CPath::FromUtf8(jobFile), content, problem)) {
    case platform::SmallFileStatus::Ok:
        break;
    case platform::SmallFileStatus::Missing:
        error = "the job file " + jobFile + " cannot be read: no such file";
        return false;
    case platform::SmallFileStatus::Refused:
        error = "the job file cannot be used: " + problem;
        return false;
    }
    // An editor's byte-order mark is no part of the first line.
    if (content.rfind("\xEF\xBB\xBF", 0) == 0) content.erase(0, 3);

    std::vector<std::pair<std::string, std::string>> settings;
    bool inStation = false, sawStation = false;
    std::istringstream lines(content);
    int number = 0;
    for (std::string raw; std::getline(lines, raw);) {
        ++number;
        const std::string line =
            Trim(raw.empty() || raw.back() != '\r' ? raw : raw.substr(0, raw.size() - 1));
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            inStation = close != std::string::npos && Lower(Trim(line.substr(1, close - 1))) == "station";
            sawStation = sawStation || inStation;
            continue;
        }
        if (!inStation) continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            error = jobFile + ": line " + std::to_string(number) + " is no key = value: " + line;
            return false;
        }
        const std::string key = Lower(Trim(line.substr(0, equals)));
        const auto known = std::find_if(kJobKeys.begin(), kJobKeys.end(),
                                        [&](const auto& entry) { return entry.first == key; });
        if (known == kJobKeys.end()) {
            error =
                jobFile + ": unknown key " + key + " (the closest known one is " + ClosestJobKey(key) + ")";
            return false;
        }
        for (const auto& earlier : settings)
            if (earlier.first == key) {
                error = jobFile + ": " + key + " is given twice";
                return false;
            }
        settings.emplace_back(key, Trim(line.substr(equals + 1)));
    }
    if (!sawStation) {
        error = jobFile + ": no [station] section";
        return false;
    }
    // Read into a copy: a refused job leaves nothing half applied.
    StationJob read;
    JobContext context{jobFile, platform::CPath::FromUtf8(jobFile).Parent(), read, error};
    for (const auto& [key, value] : settings) {
        if (value.empty()) continue;
        const auto known = std::find_if(kJobKeys.begin(), kJobKeys.end(),
                                        [&](const auto& entry) { return entry.first == key; });
        if (!known->second(context, key, value)) return false;
    }
    job = std::move(read);
    return true;
}

} // namespace station
