#include "platform/SmallFile.h"

namespace platform {

void CSmallTextFile::Open(const CPath& path)
{
    std::string error;
    m_next = 0;
    switch (ReadSmallFile(path, m_content, error)) {
    case SmallFileStatus::Ok:
        return;
    case SmallFileStatus::Missing:
        throw CFileException(CFileException::fileNotFound, path.Utf8());
    case SmallFileStatus::Refused:
        break;
    }
    throw CFileException(CFileException::generic, path.Utf8());
}

bool CSmallTextFile::ReadLine(std::string& line)
{
    line.clear();
    if (m_next >= m_content.size()) return false;
    const size_t feed = m_content.find('\n', m_next);
    const size_t end = feed == std::string::npos ? m_content.size() : feed;
    line.assign(m_content, m_next, end - m_next);
    m_next = feed == std::string::npos ? m_content.size() : feed + 1;
    if (feed != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

} // namespace platform
