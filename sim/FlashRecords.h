#pragma once
// The device's flash as Motorola S-record text (S2 records, 24-bit addresses), so
// that a run's result can be compared with the upgrade file by the usual tools.
#include <string>

#include "sim/BootLoader.h"

namespace sim {

// Only pages holding anything but 0xFF are written; an S0 header and an S8 end record frame them.
std::string FormatFlashAsSRecords(const CBootLoader& device);

// Writes the data records (S1, S2, S3) of the text into the flash; false with the
// reason (line number and fault) at the first record that is not sound.
bool LoadSRecordsIntoFlash(CBootLoader& device, const std::string& text, std::string& error);

} // namespace sim
