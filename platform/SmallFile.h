#pragma once
// Small text files the program reads (the settings file, the .id file): only a regular
// file, opened without blocking, and at most kSmallFileLimit bytes. A FIFO, /dev/zero or
// /dev/urandom behind such a name must neither hang the program nor exhaust its memory.
#include "platform/Path.h"
#include <cstddef>
#include <string>
#include <vector>

#include "platform/TextFile.h"

namespace platform {

constexpr size_t kSmallFileLimit = 64 * 1024;

enum class SmallFileStatus { Ok, Missing, Refused };
enum class FollowLinks { Yes, No };

// Reads the whole file into content. Missing: no file of that name. Refused: anything else
// that keeps it from being read (no regular file, too big, a link with FollowLinks::No, a
// read error), with one line naming the file and the cause in error.
SmallFileStatus ReadSmallFile(const CPath& path, std::string& content, std::string& error,
                              FollowLinks follow = FollowLinks::Yes);

// CTextFile's reading for small files: the whole file is read at Open, under the rules of
// ReadSmallFile; Open throws CFileException when it is missing or refused.
class CSmallTextFile
{
public:
    void Open(const CPath& path);
    // False at the end of the file. Lines as CTextFile gives them.
    bool ReadLine(std::string& line);

private:
    std::string m_content;
    size_t m_next = 0;
};

} // namespace platform
