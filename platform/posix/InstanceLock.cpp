#include "platform/InstanceLock.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Paths.h"

namespace platform {

namespace {

bool PrepareRuntimeDir(const std::filesystem::path& dir)
{
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (const char* runtime = getenv("XDG_RUNTIME_DIR"); runtime && *runtime) return true;
    // The fallback folder lives in the shared /tmp: anyone could have created it first,
    // so use it only when it is a real folder of ours that nobody else can write to.
    struct stat info = {};
    if (lstat(dir.c_str(), &info) != 0) return false;
    if (!S_ISDIR(info.st_mode) || info.st_uid != getuid()) return false;
    return (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

bool CInstanceLock::Acquire(const std::string& name)
{
    if (IsHeld()) return true;
    if (name.empty() || name.find('/') != std::string::npos) return false;
    const std::filesystem::path dir = RuntimeDir();
    if (!PrepareRuntimeDir(dir)) return false;
    const std::filesystem::path file = dir / (name + ".lock");
    const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    m_native = fd;
    return true;
}

void CInstanceLock::Release()
{
    if (m_native == kNone) return;
    close(static_cast<int>(m_native)); // closing the only descriptor drops the lock
    m_native = kNone;
}

} // namespace platform
