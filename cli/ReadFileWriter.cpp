#include "cli/ReadFileWriter.h"

#include <cctype>

#include "cli/IntelHexWriter.h"
#include "cli/SRecordWriter.h"
#include "platform/OutputFile.h"
#include "platform/Paths.h"

namespace {

bool EndsWith(const std::string& path, const std::string& extension)
{
    if (path.size() < extension.size()) return false;
    for (size_t i = 0; i < extension.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(path[path.size() - extension.size() + i])) !=
            extension[i])
            return false;
    return true;
}

} // namespace

bool WriteReadFile(const std::string& path, uint32_t start, const std::vector<uint8_t>& bytes,
                   std::string& error)
{
    std::string content;
    if (EndsWith(path, ".hex"))
        content = IntelHexText(start, bytes);
    else if (EndsWith(path, ".bin"))
        content.assign(bytes.begin(), bytes.end());
    else
        return WriteSRecordFile(path, start, bytes, error);
    return platform::WriteFileAtomically(platform::CPath::FromUtf8(path), content, error);
}
