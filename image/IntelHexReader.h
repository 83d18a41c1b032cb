#pragma once
// Reads an Intel HEX upgrade (record types 00 to 05) from memory into the image that the
// S-record reader fills, as strictly: every digit and checksum, the end record, nothing
// after it, and no record that runs past the end of its 64 KiB window.
#include <cstdint>
#include <optional>
#include <span>

#include "image/ImageRefusal.h"
#include "image/MotFile.h"

// Nothing when the whole file was read (the image is whole), else why not, naming the
// line; pages read before a refusal stay, but the image is not whole.
std::optional<ImageRefusal> LoadIntelHex(std::span<const uint8_t> bytes, CMotFile& image);
