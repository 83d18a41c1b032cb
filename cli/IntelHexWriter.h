#pragma once
// Writes bytes as an Intel HEX file the upgrade readers take back: extended linear
// address records, data records of 16 bytes (runs of erased 0xFF left out), the end record.
#include <cstdint>
#include <string>
#include <vector>

std::string IntelHexText(uint32_t start, const std::vector<uint8_t>& bytes);
