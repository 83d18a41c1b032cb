#include "image/BinaryReader.h"

#include "image/UpgradeArea.h"

namespace {
constexpr uint64_t kLargestBinary = kUpgradeAreaEnd - kUpgradeAreaStart;
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
