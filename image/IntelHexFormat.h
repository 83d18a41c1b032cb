#pragma once
// Intel HEX (record types 00 to 05), read into the image that the S-record reader fills
// and as strictly: every digit and checksum, the end record and nothing after it, no
// record that runs past its 64 KiB window or past the 1 MiB that a segment address
// reaches, no two records that give one address different bytes.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/ImageRefusal.h"
#include "image/MotFile.h"

// Nothing when the whole file was read (the image is whole), else why not, naming the
// line; pages read before a refusal stay, but the image is not whole.
std::optional<ImageRefusal> LoadIntelHex(std::span<const uint8_t> bytes, CMotFile& image);

// Flash bytes from start as Intel HEX: extended linear address records, data records of
// 16 bytes (runs of erased 0xFF left out), the end record.
std::string IntelHexText(uint32_t start, const std::vector<uint8_t>& bytes);
