#pragma once
// The station's token for the line server, kept in a file only its user may read: mode
// 0600 on POSIX; on Windows protected with DPAPI for the user and a DACL for the user
// alone.
#include <string>

#include "platform/Path.h"

namespace records_server {

// The token as typed or pasted: surrounding blanks and the line break dropped; refused
// (with the reason) when empty or holding anything but printable ASCII, which would
// otherwise end up in an HTTP header.
bool CleanStationToken(std::string& token, std::string& error);

bool SaveStationToken(const platform::CPath& file, const std::string& token, std::string& error);
// Refuses a file that others may read, with the reason.
bool LoadStationToken(const platform::CPath& file, std::string& token, std::string& error);

} // namespace records_server
