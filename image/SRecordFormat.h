#pragma once
// Flash bytes as a Motorola S-record file the upgrade reader takes back: an S0 header,
// S2 records of 16 bytes (runs of erased 0xFF left out), an S8 end record. The reader is
// CMotFile's own.
#include <cstdint>
#include <string>
#include <vector>

std::string SRecordText(uint32_t start, const std::vector<uint8_t>& bytes);
