#include "platform/TextFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

void CTextFile::Open(const CPath& name)
{
    Close();
    const std::string path = name.Utf8();
    FILE* file = std::fopen(name.Native().c_str(), "rbe");
    if (!file) throw CFileException::FromErrno(errno, path);
    struct stat info = {};
    if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(file);
        throw CFileException::FromErrno(EISDIR, path);
    }
    m_file = file;
    m_path = path;
}

UniqueFile OpenRegularFile(const CPath& name, uint64_t& size)
{
    size = 0;
    const std::string path = name.Utf8();
    const int descriptor = ::open(name.Native().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) throw CFileException::FromErrno(errno, path);
    struct stat info = {};
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(descriptor);
        return nullptr;
    }
    UniqueFile file(fdopen(descriptor, "rb"));
    if (!file) {
        const int error = errno;
        ::close(descriptor);
        throw CFileException::FromErrno(error, path);
    }
    size = static_cast<uint64_t>(info.st_size);
    return file;
}

} // namespace platform
