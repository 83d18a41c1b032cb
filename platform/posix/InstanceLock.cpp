#include "platform/InstanceLock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Paths.h"

namespace platform {

namespace {

std::string Reason(const std::string& what, const std::filesystem::path& path, int err)
{
    return what + " " + path.string() + ": " + std::strerror(err);
}

// The lock's folder must be the user's own: one that someone else made first (in a shared
// place) could keep the program from ever starting, or hand its lock to another user.
bool PrepareRuntimeDir(const std::filesystem::path& dir, std::string& why)
{
    std::error_code ec;
    if (dir.has_parent_path()) std::filesystem::create_directories(dir.parent_path(), ec);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        why = Reason("cannot create the folder", dir, errno);
        return false;
    }
    struct stat info = {};
    if (lstat(dir.c_str(), &info) != 0) {
        why = Reason("cannot use the folder", dir, errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != getuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        why = "the folder " + dir.string() + " is not a private folder of this user";
        return false;
    }
    return true;
}

} // namespace

CInstanceLock::Result CInstanceLock::TryAcquire(const std::string& name, std::string& why)
{
    if (IsHeld()) return Result::Held;
    if (name.empty() || name.find('/') != std::string::npos) {
        why = "no valid lock name";
        return Result::CannotCreate;
    }
    const std::filesystem::path dir = RuntimeDir().Native();
    if (!PrepareRuntimeDir(dir, why)) return Result::CannotCreate;
    const std::filesystem::path file = dir / (name + ".lock");
    const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        why = Reason("cannot create the lock", file, errno);
        return Result::CannotCreate;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        close(fd);
        if (err == EWOULDBLOCK) return Result::HeldByAnother;
        why = Reason("cannot lock", file, err);
        return Result::CannotCreate;
    }
    m_native = fd;
    return Result::Held;
}

void CInstanceLock::Release()
{
    if (m_native == kNone) return;
    close(static_cast<int>(m_native)); // closing the only descriptor drops the lock
    m_native = kNone;
}

CInstanceLock::Result CInstanceLock::ResultOfCreateFailure(uint32_t)
{
    return Result::CannotCreate; // a flock has no rights of its own: a failed open is a failed open
}

} // namespace platform
