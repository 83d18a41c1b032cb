#include "platform/TextFile.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

#include "platform/win32/Win32Text.h"

namespace platform {

CTextFile::~CTextFile()
{
    Close();
}

void CTextFile::Open(const std::string& path)
{
    Close();
    const std::wstring wide = win32::Widen(path);
    struct _stat64 info = {};
    if (_wstat64(wide.c_str(), &info) == 0 && (info.st_mode & _S_IFDIR))
        throw CFileException::FromErrno(EISDIR, path);
    FILE* file = _wfopen(wide.c_str(), L"rbN"); // N: not inherited by child processes
    if (!file) throw CFileException::FromErrno(errno, path);
    m_file = file;
    m_path = path;
}

bool CTextFile::ReadLine(std::string& line)
{
    line.clear();
    if (!m_file) return false;
    // Byte by byte: a line has any length and may hold any byte, NUL included.
    bool any = false;
    bool ended = false;
    int c;
    while ((c = _getc_nolock(m_file)) != EOF) {
        any = true;
        if (c == '\n') {
            ended = true;
            break;
        }
        line.push_back(static_cast<char>(c));
    }
    if (std::ferror(m_file)) throw CFileException::FromErrno(errno ? errno : EIO, m_path);
    if (!any) return false;
    if (ended && !line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

void CTextFile::Close()
{
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
    m_path.clear();
}

} // namespace platform
