// Output and small input files through POSIX calls.
#include "platform/OutputFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/SmallFile.h"
#include "platform/posix/UniqueFd.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

bool Fail(std::string& error, const std::string& what, const fs::path& path, const std::string& why)
{
    error = what + " " + path.string() + ": " + why;
    return false;
}

fs::path FolderOf(const fs::path& file)
{
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

bool WriteAll(int fd, std::string_view content)
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

// The process's umask, read without changing it (umask() would, for a moment, for every
// thread).
mode_t CurrentUmask()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    return 022;
}

} // namespace

bool CheckOutputTarget(const CPath& targetGiven, std::string& error)
{
    const std::filesystem::path& target = targetGiven.Native();
    if (target.empty() || !target.has_filename()) return Fail(error, "Cannot write", target, "no file name");
    struct stat info = {};
    if (lstat(target.c_str(), &info) == 0) {
        // A link is replaced by the rename, never written through.
        if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode))
            return Fail(error, "Cannot write", target,
                        S_ISDIR(info.st_mode) ? "it is a folder" : "not a regular file");
    } else if (errno != ENOENT) {
        return Fail(error, "Cannot write", target, std::strerror(errno));
    }
    const fs::path folder = FolderOf(target);
    if (stat(folder.c_str(), &info) != 0) return Fail(error, "Cannot write in", folder, std::strerror(errno));
    if (!S_ISDIR(info.st_mode)) return Fail(error, "Cannot write in", folder, "not a folder");
    return true;
}

bool WriteFileAtomically(const CPath& targetGiven, std::string_view content, std::string& error,
                         FileAccess access)
{
    const std::filesystem::path& target = targetGiven.Native();
    if (!CheckOutputTarget(target, error)) return false;
    const fs::path folder = FolderOf(target);
    // mkostemp creates the file exclusively: nothing planted at its name is opened.
    std::string tempName = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    CUniqueFd fd(mkostemp(tempName.data(), O_CLOEXEC));
    if (!fd.Valid()) return Fail(error, "Cannot create a file in", folder, std::strerror(errno));
    const mode_t mode = access == FileAccess::Private ? 0600 : (0666 & ~CurrentUmask());
    int err = 0;
    if (fchmod(fd.Get(), mode) != 0 || !WriteAll(fd.Get(), content) || fsync(fd.Get()) != 0) err = errno;
    if (err == 0 && close(fd.Release()) != 0) err = errno;
    // Looked at again right before the rename: a folder or a device put there meanwhile
    // is not replaced.
    if (err == 0 && !CheckOutputTarget(target, error)) {
        unlink(tempName.c_str());
        return false;
    }
    if (err == 0 && rename(tempName.c_str(), target.c_str()) != 0) err = errno;
    if (err != 0) {
        unlink(tempName.c_str());
        return Fail(error, "Cannot write", target, std::strerror(err));
    }
    // Make the rename itself survive a power cut: the file is on the disk when we return.
    if (CUniqueFd dirFd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dirFd.Valid())
        fsync(dirFd.Get());
    return true;
}

NewFileStatus CreateNewFile(const CPath& pathGiven, std::string& error, NewFileAccess access)
{
    const std::filesystem::path& path = pathGiven.Native();
    const mode_t mode = access == NewFileAccess::OwnerOnly ? 0600 : 0644;
    CUniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (fd.Valid()) return NewFileStatus::Created;
    if (errno == EEXIST) return NewFileStatus::Exists;
    Fail(error, "Cannot write", path, std::strerror(errno));
    return NewFileStatus::Failed;
}

SmallFileStatus ReadSmallFile(const CPath& pathGiven, std::string& content, std::string& error,
                              FollowLinks follow)
{
    const std::filesystem::path& path = pathGiven.Native();
    content.clear();
    // Looked at before the open as well: opening a device can act by itself (a watchdog).
    if (struct stat before = {};
        (follow == FollowLinks::Yes ? stat(path.c_str(), &before) : lstat(path.c_str(), &before)) == 0 &&
        !S_ISREG(before.st_mode) && !S_ISLNK(before.st_mode)) {
        Fail(error, "Cannot read", path, S_ISDIR(before.st_mode) ? "it is a folder" : "not a regular file");
        return SmallFileStatus::Refused;
    }
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (follow == FollowLinks::No ? O_NOFOLLOW : 0);
    CUniqueFd fd(open(path.c_str(), flags));
    if (!fd.Valid()) {
        const int err = errno;
        if (err == ENOENT) return SmallFileStatus::Missing;
        Fail(error, "Cannot read", path,
             err == ELOOP && follow == FollowLinks::No ? "it is a symbolic link" : std::strerror(err));
        return SmallFileStatus::Refused;
    }
    struct stat info = {};
    if (fstat(fd.Get(), &info) != 0) {
        Fail(error, "Cannot read", path, std::strerror(errno));
        return SmallFileStatus::Refused;
    }
    if (!S_ISREG(info.st_mode)) {
        Fail(error, "Cannot read", path, S_ISDIR(info.st_mode) ? "it is a folder" : "not a regular file");
        return SmallFileStatus::Refused;
    }
    const std::string tooBig = "larger than " + std::to_string(kSmallFileLimit / 1024) + " KiB";
    if (static_cast<uint64_t>(info.st_size) > kSmallFileLimit) {
        Fail(error, "Cannot read", path, tooBig);
        return SmallFileStatus::Refused;
    }
    // The size can change while we read: never take more than the limit.
    char buffer[8192];
    for (;;) {
        const ssize_t n = read(fd.Get(), buffer, sizeof buffer);
        if (n == 0) return SmallFileStatus::Ok;
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(error, "Cannot read", path, std::strerror(errno));
            content.clear();
            return SmallFileStatus::Refused;
        }
        if (content.size() + static_cast<size_t>(n) > kSmallFileLimit) {
            Fail(error, "Cannot read", path, tooBig);
            content.clear();
            return SmallFileStatus::Refused;
        }
        content.append(buffer, static_cast<size_t>(n));
    }
}

} // namespace platform
