#pragma once
// The flash area that Program writes, 0F0000 to 0FFFFF, and whether an image has anything
// for it. An upgrade with no byte there is a file for another memory map or the wrong file:
// programming it would leave the panel with 64 KiB of 0xFF and no firmware.
#include <cstdint>

#include "image/MotFile.h"

constexpr uint32_t kUpgradeAreaStart = 0xF0000;
constexpr uint32_t kUpgradeAreaEnd = 0x100000; // exclusive

inline bool HoldsUpgradeArea(const CMotFile& image)
{
    return image.HoldsDataIn(kUpgradeAreaStart, kUpgradeAreaEnd);
}
