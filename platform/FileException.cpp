#include <cerrno>

#include "platform/TextFile.h"

CFileException CFileException::FromErrno(int err, const std::string& fileName)
{
    Cause cause = generic;
    switch (err) {
    case ENOENT:
        cause = fileNotFound;
        break;
    case EACCES:
    case EPERM:
    case EISDIR: // what opening a folder as a file means to the user
        cause = accessDenied;
        break;
    default:
        break;
    }
    return CFileException(cause, fileName, err);
}

std::string CFileException::GetErrorMessage() const
{
    switch (m_cause) {
    case fileNotFound:
        return m_strFileName + " was not found.";
    case accessDenied:
        return m_strFileName + " could not be accessed.";
    default:
        return "An unexpected error occurred while accessing " + m_strFileName + ".";
    }
}
