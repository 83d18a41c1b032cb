#pragma once
// Who is writing: the facts a record carries so that a later reader can tell which
// machine, user and process made it, and whether that process is still running.
#include <cstdint>
#include <string>

namespace platform {

std::string HostName();
std::string UserName();
uint32_t ProcessId();
// A text that names one run of process pid: equal for the same process, different for
// a later one that got the same id (after it ended or after a reboot); empty when no
// process pid runs now.
std::string ProcessStartStamp(uint32_t pid);

} // namespace platform
