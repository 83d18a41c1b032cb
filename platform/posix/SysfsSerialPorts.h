#pragma once
// The Linux side of ListSerialPorts, on any root, so that a test can give it a tree of its own.
#include <filesystem>
#include <vector>

#include "platform/SerialPorts.h"

namespace platform {

// Reads sysRoot/class/tty and the stable names under devRoot/serial/by-path and by-id.
std::vector<SerialPortInfo> ScanSysfsSerialPorts(const std::filesystem::path& sysRoot,
                                                 const std::filesystem::path& devRoot);

} // namespace platform
