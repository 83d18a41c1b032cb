// The settings file's storage through POSIX files: read whole, replaced by rename.
#include "platform/ProfileFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/UniqueFd.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

bool Fail(std::string& error, const std::string& what, const fs::path& path, int err)
{
    error = what + " " + path.string() + ": " + std::strerror(err);
    return false;
}

bool WriteAll(int fd, const std::string& content)
{
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes the content beside the target and renames it over, so that readers see
// either the old file or the whole new one.
} // namespace

ReadStatus ReadWholeFile(const fs::path& file, std::string& content, std::string& error)
{
    int err = 0;
    content.clear();
    CUniqueFd fd(open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        err = errno;
        if (err == ENOENT) return ReadStatus::Missing;
        Fail(error, "Cannot read", file, err);
        return ReadStatus::Failed;
    }
    char buffer[8192];
    for (;;) {
        const ssize_t n = read(fd.Get(), buffer, sizeof buffer);
        if (n == 0) return ReadStatus::Ok;
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(error, "Cannot read", file, errno);
            return ReadStatus::Failed;
        }
        content.append(buffer, static_cast<size_t>(n));
    }
}

bool ReplaceWholeFile(const fs::path& file, const std::string& content, std::string& error)
{
    const fs::path dir = file.has_parent_path() ? file.parent_path() : fs::path(".");
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return Fail(error, "Cannot create the folder", dir, ec.value());

    std::string tempName = (dir / ("." + file.filename().string() + ".XXXXXX")).string();
    CUniqueFd fd(mkostemp(tempName.data(), O_CLOEXEC));
    if (!fd.Valid()) return Fail(error, "Cannot create a file in", dir, errno);
    const fs::path temp = tempName;

    mode_t mode = 0644;
    struct stat old = {};
    if (stat(file.c_str(), &old) == 0) mode = old.st_mode & 07777;
    int err = 0;
    if (fchmod(fd.Get(), mode) != 0 || !WriteAll(fd.Get(), content) || fsync(fd.Get()) != 0) err = errno;
    if (err == 0 && close(fd.Release()) != 0) err = errno;
    if (err == 0 && rename(temp.c_str(), file.c_str()) != 0) err = errno;
    if (err != 0) {
        unlink(temp.c_str());
        return Fail(error, "Cannot write", file, err);
    }
    // Make the rename itself survive a crash.
    if (CUniqueFd dirFd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dirFd.Valid())
        fsync(dirFd.Get());
    return true;
}

} // namespace platform
