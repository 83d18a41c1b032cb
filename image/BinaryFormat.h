#pragma once
// A raw binary upgrade: its bytes from a base address the user gives. It may cover at
// most the 64 KiB that Program writes, and nothing past 0FFFFF.
#include <cstdint>
#include <optional>
#include <span>

#include "image/ImageRefusal.h"
#include "image/MotFile.h"

std::optional<ImageRefusal> LoadBinary(std::span<const uint8_t> bytes, uint32_t base, CMotFile& image);
