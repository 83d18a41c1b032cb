#pragma once
// What `read -o FILE` and `--backup FILE` write, chosen by the name: Intel HEX for
// ".hex", the raw bytes for ".bin", Motorola S-records for any other name.
#include <cstdint>
#include <string>
#include <vector>

// Written atomically (platform/OutputFile.h): the old file or the whole new one, flushed
// to the disk. False with one line naming the file and the cause in error.
bool WriteReadFile(const std::string& path, uint32_t start, const std::vector<uint8_t>& bytes,
                   std::string& error);
