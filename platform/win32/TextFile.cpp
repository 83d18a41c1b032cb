#include "platform/TextFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "platform/win32/Win32Text.h"

namespace platform {

void CTextFile::Open(const CPath& name)
{
    Close();
    const std::string path = name.Utf8();
    const std::wstring& wide = name.Native().native();
    struct _stat64 info = {};
    if (_wstat64(wide.c_str(), &info) == 0 && (info.st_mode & _S_IFDIR))
        throw CFileException::FromErrno(EISDIR, path);
    FILE* file = _wfopen(wide.c_str(), L"rbN"); // N: not inherited by child processes
    if (!file) throw CFileException::FromErrno(errno, path);
    m_file = file;
    m_path = path;
}

namespace {

int ErrnoFromWin32(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    default:
        return EIO;
    }
}

} // namespace

UniqueFile OpenRegularFile(const CPath& name, uint64_t& size)
{
    size = 0;
    const std::string path = name.Utf8();
    const std::wstring& wide = name.Native().native();
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return nullptr;
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw CFileException::FromErrno(ErrnoFromWin32(GetLastError()), path);
    LARGE_INTEGER length = {};
    // A named pipe, NUL or a COM port opens too: only a file on a disk is an upgrade file.
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &length)) {
        CloseHandle(handle);
        return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        throw CFileException::FromErrno(EIO, path);
    }
    UniqueFile file(_fdopen(descriptor, "rb"));
    if (!file) {
        _close(descriptor); // closes the handle too
        throw CFileException::FromErrno(EIO, path);
    }
    size = static_cast<uint64_t>(length.QuadPart);
    return file;
}

} // namespace platform
