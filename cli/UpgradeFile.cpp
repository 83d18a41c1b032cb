#include "cli/UpgradeFile.h"

#include <cerrno>
#include <cstdio>
#include <span>

#include "image/BinaryReader.h"
#include "image/IntelHexReader.h"
#include "image/MotFile.h"
#include "image/UpgradeFormat.h"
#include "loader/Protocol.h"
#include "platform/OutputFile.h"
#include "platform/Paths.h"
#include "platform/Sha256.h"
#include "platform/TextFile.h"

PinnedUpgrade ReadUpgradeFile(const std::string& path)
{
    PinnedUpgrade upgrade;
    upgrade.path = path;
    if (const std::string idPath = IdFileName(path); !idPath.empty())
        upgrade.idStatus =
            platform::ReadSmallFile(platform::CPath::FromUtf8(idPath), upgrade.idBytes, upgrade.idProblem);
    const std::string missing = "torvane-cli: " + path + ": no such file";
    if (!platform::IsRegularFile(platform::CPath::FromUtf8(path))) {
        upgrade.problem = missing;
        return upgrade;
    }
    try {
        uint64_t size = 0;
        const platform::UniqueFile file = platform::OpenRegularFile(platform::CPath::FromUtf8(path), size);
        if (!file) {
            upgrade.problem = missing;
            return upgrade;
        }
        char chunk[64 * 1024];
        for (;;) {
            errno = 0;
            const size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
            const int error = errno;
            if (upgrade.bytes.size() + got > kUpgradeFileLimit) {
                upgrade.bytes.clear();
                upgrade.problem = "torvane-cli: " + path + ": refused: larger than " +
                                  std::to_string(kUpgradeFileLimit / (1024 * 1024)) + " MiB";
                return upgrade;
            }
            upgrade.bytes.append(chunk, got);
            if (got == sizeof chunk) continue;
            if (std::ferror(file.get())) throw CFileException::FromErrno(error ? error : EIO, path);
            break;
        }
    } catch (const CFileException& e) {
        upgrade.bytes.clear();
        upgrade.problem = "torvane-cli: " + e.GetErrorMessage();
        return upgrade;
    }
    upgrade.read = true;
    upgrade.sha256 = platform::Sha256Of(upgrade.bytes);
    return upgrade;
}

bool LoadUpgradeFile(const PinnedUpgrade& upgrade, std::optional<uint32_t> base, CMotFile& image,
                     std::vector<std::string>& lines)
{
    if (!upgrade.read) {
        lines.push_back(upgrade.problem);
        return false;
    }
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(upgrade.bytes.data()),
                                         upgrade.bytes.size());
    std::optional<ImageRefusal> refusal;
    switch (JudgeUpgradeFormat(bytes, base)) {
    case UpgradeFormat::SRecords:
    case UpgradeFormat::Unknown:
        // Neither: the S-record reader refuses it as it always has.
        image.LoadBytes(upgrade.bytes);
        refusal = image.Refusal();
        break;
    case UpgradeFormat::IntelHex:
        refusal = LoadIntelHex(bytes, image);
        break;
    case UpgradeFormat::Binary:
        refusal = LoadBinary(bytes, *base, image);
        break;
    }
    if (refusal) {
        lines.push_back("torvane-cli: " + upgrade.path + ": refused: " + refusal->Text());
        return false;
    }
    return image.IsWhole();
}

bool WritePinnedIdFile(const PinnedUpgrade& upgrade, const std::string& to, std::string& error)
{
    const std::string from = IdFileName(upgrade.path);
    if (platform::IsSameFile(platform::CPath::FromUtf8(from), platform::CPath::FromUtf8(to))) return true;
    switch (upgrade.idStatus) {
    case platform::SmallFileStatus::Ok:
        break;
    case platform::SmallFileStatus::Missing:
        error = "Cannot read " + from + ": no such file";
        return false;
    case platform::SmallFileStatus::Refused:
        error = upgrade.idProblem;
        return false;
    }
    return platform::WriteFileAtomically(platform::CPath::FromUtf8(to), upgrade.idBytes, error);
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
