#include "platform/Path.h"

#include <algorithm>

namespace platform {

CPath CPath::FromUtf8(std::string_view utf8)
{
    // char8_t text is UTF-8 by definition, on every system.
    return CPath(std::filesystem::path(
        std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size())));
}

std::string CPath::Utf8() const
{
    const std::u8string text = m_native.u8string();
    return std::string(text.begin(), text.end());
}

std::string CPath::FileName() const
{
    return CPath(m_native.filename()).Utf8();
}

CPath CPath::operator/(std::string_view utf8) const
{
    return CPath(m_native / FromUtf8(utf8).m_native);
}

CPath CPath::WithSuffix(std::string_view utf8) const
{
    std::filesystem::path name = m_native;
    name += FromUtf8(utf8).m_native;
    return CPath(std::move(name));
}

bool Exists(const CPath& path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path.Native(), ec));
}

bool IsRegularFile(const CPath& path)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(path.Native(), ec);
}

bool IsDirectory(const CPath& path)
{
    std::error_code ec;
    return std::filesystem::is_directory(path.Native(), ec);
}

std::optional<uint64_t> FileSize(const CPath& path)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(path.Native(), ec);
    if (ec) return std::nullopt;
    return static_cast<uint64_t>(size);
}

CPath Absolute(const CPath& path)
{
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path.Native(), ec);
    return ec ? path : CPath(absolute);
}

std::optional<CPath> Resolved(const CPath& path)
{
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path.Native(), ec);
    if (ec) return std::nullopt;
    return CPath(resolved);
}

std::vector<CPath> FilesIn(const CPath& folder)
{
    std::vector<CPath> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder.Native(), ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec)) files.emplace_back(it->path());
    std::sort(files.begin(), files.end(),
              [](const CPath& a, const CPath& b) { return a.Native() < b.Native(); });
    return files;
}

bool RemoveFile(const CPath& path)
{
    std::error_code ec;
    return !IsDirectory(path) && std::filesystem::remove(path.Native(), ec);
}

bool CreateDirectories(const CPath& path, std::string& error)
{
    std::error_code ec;
    std::filesystem::create_directories(path.Native(), ec);
    if (!ec && std::filesystem::is_directory(path.Native(), ec)) return true;
    error = ec ? ec.message() : "not a folder";
    return false;
}

} // namespace platform
