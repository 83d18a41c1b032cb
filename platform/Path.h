#pragma once
// A file's name as the system takes it. Names come in as UTF-8 text (the command line,
// a job file, a dialog) and must reach the system whole: on Windows a std::string made
// into a std::filesystem::path is read in the ANSI code page, and C:\Users\Jürgen\ is
// lost. So no platform call takes a string or a std::filesystem::path made from one:
// they take this, made from UTF-8 on purpose or from the system's own form.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class CPath
{
public:
    CPath() = default;
    // The system's own form (wide on Windows), as the system or a wide literal gave it.
    CPath(std::filesystem::path native) : m_native(std::move(native)) {}
    CPath(const wchar_t* wide) : m_native(wide) {}
    // Text becomes a name only through FromUtf8, never by accident.
    CPath(const std::string&) = delete;
    CPath(const char*) = delete;
    CPath(std::string_view) = delete;

    static CPath FromUtf8(std::string_view utf8);

    const std::filesystem::path& Native() const { return m_native; }
    // Where the system's own form is wanted (std::filesystem's calls): nothing is converted.
    operator const std::filesystem::path&() const { return m_native; }
    std::string Utf8() const;
    bool Empty() const { return m_native.empty(); }
    bool IsAbsolute() const { return m_native.is_absolute(); }
    CPath Parent() const { return CPath(m_native.parent_path()); }
    // The last part of the name, UTF-8.
    std::string FileName() const;
    // A name below this one, given in UTF-8 ("ports", "COM3", a relative name from a job file).
    CPath operator/(std::string_view utf8) const;
    CPath operator/(const char* utf8) const { return *this / std::string_view(utf8); }
    CPath operator/(const std::string& utf8) const { return *this / std::string_view(utf8); }
    // The same name with text added at its end ("-wal", "-send.lock"), given in UTF-8.
    CPath WithSuffix(std::string_view utf8) const;

    friend bool operator==(const CPath& a, const CPath& b) { return a.m_native == b.m_native; }

private:
    std::filesystem::path m_native;
};

// What the system says of a name; false or nothing when it cannot tell.
bool Exists(const CPath& path); // a dangling link counts: the name is taken
bool IsRegularFile(const CPath& path);
bool IsDirectory(const CPath& path);
std::optional<uint64_t> FileSize(const CPath& path);
// The name made absolute against the working folder; as given when that fails.
CPath Absolute(const CPath& path);
// The name with its links, "." and ".." resolved as far as it exists; nothing when that fails.
std::optional<CPath> Resolved(const CPath& path);
// The regular files directly in a folder, sorted by name; none when it cannot be listed.
std::vector<CPath> FilesIn(const CPath& folder);
// Removes a file (not a folder); false when nothing was removed.
bool RemoveFile(const CPath& path);
// The folder and the ones above it, made where missing; false with the reason.
bool CreateDirectories(const CPath& path, std::string& error);

} // namespace platform
