// Output and small input files through the wide Win32 file API.
#include "platform/OutputFile.h"

#include <windows.h>

#include <algorithm>

#include "platform/SmallFile.h"
#include "platform/win32/Win32Text.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

bool Fail(std::string& error, const std::string& what, const fs::path& path, const std::string& why)
{
    error = what + " " + win32::Narrow(path.wstring()) + ": " + why;
    return false;
}

fs::path FolderOf(const fs::path& file)
{
    return file.has_parent_path() ? file.parent_path() : fs::path(L".");
}

bool IsNotFound(DWORD code)
{
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

} // namespace

bool CheckOutputTarget(const CPath& targetGiven, std::string& error)
{
    const std::filesystem::path& target = targetGiven.Native();
    if (target.empty() || !target.has_filename()) return Fail(error, "Cannot write", target, "no file name");
    // "NUL.mot" would be the null device: "written" and nothing on the disk.
    if (IsWindowsDeviceName(target)) return Fail(error, "Cannot write", target, "a device name, not a file");
    const std::wstring wide = target.wstring();
    if (wide.rfind(L"\\\\", 0) == 0 && (wide.rfind(L"\\\\.\\", 0) == 0 || wide.rfind(L"\\\\?\\", 0) == 0))
        return Fail(error, "Cannot write", target, "a device path, not a file");
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return Fail(error, "Cannot write", target, "it is a folder");
    const DWORD folder = GetFileAttributesW(FolderOf(target).wstring().c_str());
    if (folder == INVALID_FILE_ATTRIBUTES)
        return Fail(error, "Cannot write in", FolderOf(target), win32::ErrorText(GetLastError()));
    if (!(folder & FILE_ATTRIBUTE_DIRECTORY))
        return Fail(error, "Cannot write in", FolderOf(target), "not a folder");
    return true;
}

bool WriteFileAtomically(const CPath& targetGiven, std::string_view content, std::string& error, FileAccess)
{
    const std::filesystem::path& target = targetGiven.Native();
    if (!CheckOutputTarget(target, error)) return false;
    const fs::path folder = FolderOf(target);
    win32::CFileHandle file;
    fs::path temp;
    // CREATE_NEW fails on anything already there, a link included: nothing is opened
    // that someone else put at the temporary name.
    for (unsigned attempt = 0; attempt < 100 && !file.Valid(); ++attempt) {
        temp = folder / (L"." + target.filename().wstring() + L"." + std::to_wstring(GetCurrentProcessId()) +
                         L"-" + std::to_wstring(GetTickCount() + attempt) + L".tmp");
        file.Reset(
            CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid() && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (!file.Valid())
        return Fail(error, "Cannot create a file in", folder, win32::ErrorText(GetLastError()));
    if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
        file.Reset();
        DeleteFileW(temp.c_str());
        return Fail(error, "Cannot write", target, "not a file on a disk");
    }
    DWORD err = 0;
    for (size_t done = 0; done < content.size() && err == 0;) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file.Get(), content.data() + done, chunk, &written, nullptr) || written == 0)
            err = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
        done += written;
    }
    if (err == 0 && !FlushFileBuffers(file.Get())) err = GetLastError();
    file.Reset();
    if (err == 0 &&
        !MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        err = GetLastError();
    if (err != 0) {
        DeleteFileW(temp.c_str());
        return Fail(error, "Cannot write", target, win32::ErrorText(err));
    }
    return true;
}

NewFileStatus CreateNewFile(const CPath& pathGiven, std::string& error, NewFileAccess)
{
    const std::filesystem::path& path = pathGiven.Native();
    // CREATE_NEW fails on anything already there, a link included.
    win32::CFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Valid()) return NewFileStatus::Created;
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return NewFileStatus::Exists;
    Fail(error, "Cannot write", path, win32::ErrorText(code));
    return NewFileStatus::Failed;
}

SmallFileStatus ReadSmallFile(const CPath& pathGiven, std::string& content, std::string& error,
                              FollowLinks follow)
{
    const std::filesystem::path& path = pathGiven.Native();
    content.clear();
    // Opening COM1 or a pipe by its name has effects of its own: names of devices are
    // refused before any open.
    if (IsWindowsDeviceName(path) || path.wstring().rfind(L"\\\\", 0) == 0) {
        Fail(error, "Cannot read", path, "not a regular file");
        return SmallFileStatus::Refused;
    }
    const DWORD flags =
        FILE_ATTRIBUTE_NORMAL | (follow == FollowLinks::No ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    win32::CFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, flags, nullptr));
    if (!file.Valid()) {
        const DWORD code = GetLastError();
        if (IsNotFound(code)) return SmallFileStatus::Missing;
        Fail(error, "Cannot read", path, win32::ErrorText(code));
        return SmallFileStatus::Refused;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file.Get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.Get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        Fail(error, "Cannot read", path, "not a regular file");
        return SmallFileStatus::Refused;
    }
    const std::string tooBig = "larger than " + std::to_string(kSmallFileLimit / 1024) + " KiB";
    if (info.nFileSizeHigh != 0 || info.nFileSizeLow > kSmallFileLimit) {
        Fail(error, "Cannot read", path, tooBig);
        return SmallFileStatus::Refused;
    }
    char buffer[8192];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) {
            Fail(error, "Cannot read", path, win32::ErrorText(GetLastError()));
            content.clear();
            return SmallFileStatus::Refused;
        }
        if (got == 0) return SmallFileStatus::Ok;
        if (content.size() + got > kSmallFileLimit) {
            Fail(error, "Cannot read", path, tooBig);
            content.clear();
            return SmallFileStatus::Refused;
        }
        content.append(buffer, got);
    }
}

} // namespace platform
