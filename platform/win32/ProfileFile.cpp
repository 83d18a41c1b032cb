// The settings file's storage through Win32 files: read whole, replaced with
// MoveFileExW so that a crash leaves either the old file or the whole new one.
#include "platform/ProfileFile.h"

#include <windows.h>

#include <string_view>

#include "platform/win32/Win32Text.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

// The settings are a few lines; anything bigger is not ours and is not read into memory.
constexpr LONGLONG kMaxSettingsBytes = 64 * 1024;

// A virus scanner or the search indexer opens a freshly written file for a moment; the
// replace waits that out rather than fail the save.
constexpr int kReplaceAttempts = 10;
constexpr DWORD kReplacePauseMs = 50;

bool Fail(std::string& error, const std::string& what, const fs::path& path, DWORD code)
{
    error = what + " " + win32::Narrow(path.wstring()) + ": " + win32::ErrorText(code);
    return false;
}

// The move's error code, 0 when it was done.
DWORD MoveIntoPlace(const fs::path& from, const fs::path& to)
{
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return 0;
        const DWORD code = GetLastError();
        if ((code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED) || attempt == kReplaceAttempts)
            return code;
        Sleep(kReplacePauseMs);
    }
}

} // namespace

ReadStatus ReadWholeFile(const CPath& fileGiven, std::string& content, std::string& error)
{
    const std::filesystem::path& file = fileGiven.Native();
    content.clear();
    win32::CFileHandle handle(CreateFileW(file.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.Valid()) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return ReadStatus::Missing;
        Fail(error, "Cannot read", file, code);
        return ReadStatus::Failed;
    }
    // A device or a pipe under the name could block or never end.
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(handle.Get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = "Cannot read " + win32::Narrow(file.wstring()) + ": not a regular file";
        return ReadStatus::Failed;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle.Get(), &size) || size.QuadPart > kMaxSettingsBytes) {
        error = "Cannot read " + win32::Narrow(file.wstring()) + ": larger than 64 KiB";
        return ReadStatus::Failed;
    }
    char buffer[8192];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(handle.Get(), buffer, sizeof buffer, &n, nullptr)) {
            Fail(error, "Cannot read", file, GetLastError());
            return ReadStatus::Failed;
        }
        if (n == 0) return ReadStatus::Ok;
        content.append(buffer, n);
        if (static_cast<LONGLONG>(content.size()) > kMaxSettingsBytes) { // grew while read
            content.clear();
            error = "Cannot read " + win32::Narrow(file.wstring()) + ": larger than 64 KiB";
            return ReadStatus::Failed;
        }
    }
}

bool ReplaceWholeFile(const CPath& fileGiven, const std::string& content, std::string& error)
{
    const std::filesystem::path& file = fileGiven.Native();
    const fs::path dir = file.has_parent_path() ? file.parent_path() : fs::path(L".");
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return Fail(error, "Cannot create the folder", dir, static_cast<DWORD>(ec.value()));

    // A new file of our own beside the target (same volume, so the move is a rename);
    // never one that is already there, which could be a link planted to be written through.
    fs::path temp;
    win32::CFileHandle handle;
    for (int attempt = 0; attempt < 10 && !handle.Valid(); ++attempt) {
        temp = dir / (L"." + file.filename().wstring() + L"." + std::to_wstring(GetCurrentProcessId()) +
                      L"-" + std::to_wstring(attempt) + L".tmp");
        handle.Reset(
            CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        const DWORD created = handle.Valid() ? ERROR_SUCCESS : GetLastError();
        if (created != ERROR_SUCCESS && created != ERROR_FILE_EXISTS)
            return Fail(error, "Cannot create a file in", dir, created);
    }
    if (!handle.Valid()) return Fail(error, "Cannot create a file in", dir, ERROR_FILE_EXISTS);
    DWORD code = 0;
    size_t done = 0;
    while (code == 0 && done < content.size()) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 20));
        if (!WriteFile(handle.Get(), content.data() + done, chunk, &n, nullptr) || n == 0)
            code = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
        done += n;
    }
    if (code == 0 && !FlushFileBuffers(handle.Get())) code = GetLastError();
    handle.Reset(); // closed before the move: it was opened without sharing
    if (code == 0) code = MoveIntoPlace(temp, file);
    if (code != 0) {
        DeleteFileW(temp.c_str());
        return Fail(error, "Cannot write", file, code);
    }
    return true;
}

} // namespace platform
