#include "image/BinaryFormat.h"

#include "image/UpgradeArea.h"
#include "image/UpgradeFormats.h"

namespace {

constexpr uint64_t kLargestBinary = kUpgradeAreaEnd - kUpgradeAreaStart;

bool TellsBinary(std::span<const uint8_t>)
{
    return false; // any bytes at all: only the base the user gives makes a file a binary
}

std::optional<ImageRefusal> ReadBinary(std::span<const uint8_t> bytes, std::optional<uint32_t> base,
                                       CMotFile& image)
{
    return LoadBinary(bytes, base.value_or(kUpgradeAreaStart), image);
}

std::string BinaryText(uint32_t, const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

std::optional<ImageRefusal> LoadBinary(std::span<const uint8_t> bytes, uint32_t base, CMotFile& image)
{
    image.BeginLoad();
    if (bytes.empty()) return ImageRefusal{0, "the file is empty"};
    if (bytes.size() > kLargestBinary) return ImageRefusal{0, "larger than 64 KiB"};
    if (uint64_t{base} + bytes.size() > kUpgradeAreaEnd)
        return ImageRefusal{0, "reaches past 0FFFFF from its base"};
    image.PutData(base, bytes.data(), static_cast<uint32_t>(bytes.size()));
    image.EndLoadWhole();
    return std::nullopt;
}

extern const UpgradeFormat kBinaryFormat;
const UpgradeFormat kBinaryFormat{"binary", TellsBinary, ReadBinary, BinaryText, {".bin"}, true};
