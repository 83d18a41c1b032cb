#pragma once
// Writes bytes as a Motorola S-record file the upgrade loader reads back: an S0 header,
// S2 records of 16 bytes (runs of erased 0xFF left out), an S8 end record.
#include <cstdint>
#include <string>
#include <vector>

std::string SRecordText(uint32_t start, const std::vector<uint8_t>& bytes);
// Written atomically (platform/OutputFile.h): the old file or the whole new one, flushed
// to the disk. False with one line naming the file and the cause in error.
bool WriteSRecordFile(const std::string& path, uint32_t start, const std::vector<uint8_t>& bytes,
                      std::string& error);
bool WriteSRecordFile(const std::string& path, uint32_t start, const std::vector<uint8_t>& bytes);
