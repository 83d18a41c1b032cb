#include "cli/UpgradeFile.h"

#include "framework/Host.h"
#include "framework/console/ConsoleHost.h"
#include "image/MotFile.h"
#include "loader/Protocol.h"
#include "platform/Paths.h"
#include "platform/TextFile.h"

namespace {

// The reader tells a refusal through a message box: here it becomes a line.
class CCapturingHost final : public CConsoleHost
{
public:
    explicit CCapturingHost(std::vector<std::string>& lines) : m_previous(SetHost(this))
    {
        onMessageBox = [&lines](const MessageBoxRecord& box) { lines.push_back(box.text); };
    }
    ~CCapturingHost() override { SetHost(m_previous); }

private:
    IHost* m_previous;
};

} // namespace

bool LoadUpgradeFile(const std::string& path, CMotFile& image, std::vector<std::string>& lines)
{
    if (!platform::IsRegularFile(platform::CPath::FromUtf8(path))) {
        lines.push_back("torvane-cli: " + path + ": no such file");
        return false;
    }
    CCapturingHost host(lines);
    try {
        image.LoadFile(path);
    } catch (const CFileException& e) {
        lines.push_back("torvane-cli: " + e.GetErrorMessage());
        return false;
    }
    return image.IsWhole();
}

AreaCoverage CoverageOf(const CMotFile& image)
{
    AreaCoverage coverage;
    coverage.inside = image.HoldsDataIn(loader::kAreaStart, loader::kAreaEnd);
    coverage.outside = image.HoldsDataIn(0, loader::kAreaStart) ||
                       image.HoldsDataIn(loader::kAreaEnd, CMotFile::kAddressLimit);
    return coverage;
}

std::string IdFileName(const std::string& path)
{
    for (const std::string extension : {".mot", ".s", ".btp"}) {
        if (path.size() >= extension.size() &&
            path.compare(path.size() - extension.size(), extension.size(), extension) == 0)
            return path.substr(0, path.size() - extension.size()) + ".id";
    }
    return {};
}
