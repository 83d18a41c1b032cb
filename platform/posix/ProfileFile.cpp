// The settings file's storage through POSIX files: read whole, replaced by rename.
#include "platform/ProfileFile.h"

#include <system_error>

#include "platform/OutputFile.h"
#include "platform/SmallFile.h"

namespace platform {

namespace fs = std::filesystem;

ReadStatus ReadWholeFile(const CPath& fileGiven, std::string& content, std::string& error)
{
    const std::filesystem::path& file = fileGiven.Native();
    // A link is not followed: the file would be written back as a copy of whatever it
    // pointed at. A FIFO or a device behind the name must not hang or flood the program.
    switch (ReadSmallFile(file, content, error, FollowLinks::No)) {
    case SmallFileStatus::Ok:
        return ReadStatus::Ok;
    case SmallFileStatus::Missing:
        return ReadStatus::Missing;
    case SmallFileStatus::Refused:
        break;
    }
    return ReadStatus::Failed;
}

bool ReplaceWholeFile(const CPath& fileGiven, const std::string& content, std::string& error)
{
    const std::filesystem::path& file = fileGiven.Native();
    const fs::path dir = file.has_parent_path() ? file.parent_path() : fs::path(".");
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        error = "Cannot create the folder " + dir.string() + ": " + ec.message();
        return false;
    }
    // Readers see either the old file or the whole new one; only the user reads it.
    return WriteFileAtomically(file, content, error, FileAccess::Private);
}

} // namespace platform
