#pragma once
// Text files read line by line, with the framework's file-error exception when a
// file cannot be opened or read.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/Path.h"

class CFileException
{
public:
    enum Cause {
        none = 0,
        generic = 1,
        fileNotFound = 2,
        badPath = 3,
        accessDenied = 5,
        sharingViolation = 11
    };

    CFileException(Cause cause, std::string fileName, int osError = 0)
        : m_cause(cause), m_strFileName(std::move(fileName)), m_lOsError(osError)
    {
    }
    static CFileException FromErrno(int err, const std::string& fileName);

    // The text the framework shows for it, naming the file ("<path> was not found.").
    std::string GetErrorMessage() const;

    Cause m_cause;
    std::string m_strFileName;
    int m_lOsError;
};

namespace platform {

// A line ends at a line feed; a carriage return right before it is dropped; lines have any length.
class CTextFile
{
public:
    CTextFile() = default;
    ~CTextFile();
    CTextFile(const CTextFile&) = delete;
    CTextFile& operator=(const CTextFile&) = delete;

    // Throws CFileException when the file cannot be opened.
    void Open(const CPath& path);
    // False at end of file; throws CFileException on a read error.
    bool ReadLine(std::string& line);
    void Close();

private:
    FILE* m_file = nullptr;
    std::string m_path;
};

struct FileCloser
{
    void operator()(FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

// Opens a file for reading in binary mode, without ever blocking (a FIFO with no writer
// must not hang the window). Null when the path is no regular file (a folder, a device,
// a pipe: /dev/zero would never end); `size` is the file's size then. Throws
// CFileException when the file cannot be opened.
UniqueFile OpenRegularFile(const CPath& path, uint64_t& size);

} // namespace platform
