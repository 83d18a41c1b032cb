#include "platform/TextFile.h"

#include <cerrno>

namespace platform {

namespace {

// The stream is this object's alone: no other thread reads it.
int NextByte(FILE* file)
{
#ifdef _WIN32
    return _getc_nolock(file);
#else
    return getc_unlocked(file);
#endif
}

} // namespace

CTextFile::~CTextFile()
{
    Close();
}

bool CTextFile::ReadLine(std::string& line)
{
    line.clear();
    if (!m_file) return false;
    // Byte by byte: a line has any length and may hold any byte, NUL included.
    bool any = false;
    bool ended = false;
    errno = 0;
    int c;
    while ((c = NextByte(m_file)) != EOF) {
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
