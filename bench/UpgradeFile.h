#pragma once
// Upgrade files for the benchmarks: S2 records of 32 data bytes a line over one
// contiguous range, with an S0 header and an S8 end record.
#include <cstdint>
#include <string>

namespace bench {

constexpr uint32_t kBytesPerRecord = 32;

// The byte the generated files hold at address (a fixed pseudo-random sequence).
uint8_t ContentAt(uint32_t address);

// Writes the records for [start, start + length); false when the file cannot be written.
bool WriteS2File(const std::string& path, uint32_t start, uint32_t length);

} // namespace bench
