#pragma once
// Where the settings file's text is read and stored: whole, and replaced atomically so
// that readers see either the old file or the whole new one. One implementation per OS.
#include "platform/Path.h"
#include <string>

namespace platform {

enum class ReadStatus { Ok, Missing, Failed };

// On Failed, error holds one line naming the file and the cause.
ReadStatus ReadWholeFile(const CPath& file, std::string& content, std::string& error);
// Creates the folder as needed; false (with error) when the old file still stands.
bool ReplaceWholeFile(const CPath& file, const std::string& content, std::string& error);

} // namespace platform
