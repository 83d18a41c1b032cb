// The token file on POSIX: mode 0600, owned by the station's user.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/UniqueFd.h"
#include "records/server/StationToken.h"

namespace records_server {

namespace {

// A token file is a line; anything much larger is not one.
constexpr size_t kLongestFile = 4096;

std::string Octal(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

} // namespace

bool SaveStationToken(const platform::CPath& file, const std::string& token, std::string& error)
{
    std::string clean = token;
    if (!CleanStationToken(clean, error)) return false;
    const std::string path = file.Native().string();
    // Written beside it and renamed over it: an existing file of another mode is replaced,
    // never widened to the token, and a cut write leaves the old token whole.
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());
    platform::CUniqueFd fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.Valid()) {
        error = temporary + ": cannot be created: " + std::strerror(errno);
        return false;
    }
    const std::string line = clean + "\n";
    const bool written = ::fchmod(fd.Get(), 0600) == 0 &&
                         ::write(fd.Get(), line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
                         ::fsync(fd.Get()) == 0;
    fd = {};
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = path + ": cannot be written: " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool LoadStationToken(const platform::CPath& file, std::string& token, std::string& error)
{
    const std::string path = file.Native().string();
    platform::CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat about
    {
    };
    if (!fd.Valid() || ::fstat(fd.Get(), &about) != 0) {
        error = "station token " + path + ": cannot be read: " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(about.st_mode)) {
        error = "station token " + path + ": not a file";
        return false;
    }
    if (about.st_uid != ::geteuid()) {
        error = "station token " + path +
                ": belongs to another user; save it again as this one "
                "(torvane-cli records --save-station-token FILE)";
        return false;
    }
    if ((about.st_mode & 077) != 0) {
        error = "station token " + path + ": others may read it (mode " + Octal(about.st_mode) +
                "); chmod 600 " + path + " and ask for a new token if others did";
        return false;
    }
    std::string text(kLongestFile, '\0');
    const ssize_t got = ::read(fd.Get(), text.data(), text.size());
    if (got < 0) {
        error = "station token " + path + ": cannot be read: " + std::strerror(errno);
        return false;
    }
    text.resize(static_cast<size_t>(got));
    if (!CleanStationToken(text, error)) {
        error = "station token " + path + ": " + error;
        return false;
    }
    token = std::move(text);
    return true;
}

} // namespace records_server
