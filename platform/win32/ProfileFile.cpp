// The settings file's storage through Win32 files: read whole, replaced with
// MoveFileExW so that a crash leaves either the old file or the whole new one.
#include "platform/ProfileFile.h"

#include <windows.h>

#include "platform/win32/Win32Text.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

bool Fail(std::string& error, const std::string& what, const fs::path& path, DWORD code)
{
    error = what + " " + win32::Narrow(path.wstring()) + ": " + win32::ErrorText(code);
    return false;
}

} // namespace

ReadStatus ReadWholeFile(const fs::path& file, std::string& content, std::string& error)
{
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
    char buffer[8192];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(handle.Get(), buffer, sizeof buffer, &n, nullptr)) {
            Fail(error, "Cannot read", file, GetLastError());
            return ReadStatus::Failed;
        }
        if (n == 0) return ReadStatus::Ok;
        content.append(buffer, n);
    }
}

bool ReplaceWholeFile(const fs::path& file, const std::string& content, std::string& error)
{
    const fs::path dir = file.has_parent_path() ? file.parent_path() : fs::path(L".");
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return Fail(error, "Cannot create the folder", dir, static_cast<DWORD>(ec.value()));

    // A name of our own beside the target: same volume, so the move is a rename.
    const fs::path temp =
        dir / (L"." + file.filename().wstring() + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp");
    DWORD code = 0;
    {
        win32::CFileHandle handle(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!handle.Valid()) return Fail(error, "Cannot create a file in", dir, GetLastError());
        size_t done = 0;
        while (code == 0 && done < content.size()) {
            DWORD n = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 20));
            if (!WriteFile(handle.Get(), content.data() + done, chunk, &n, nullptr) || n == 0)
                code = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
            done += n;
        }
        if (code == 0 && !FlushFileBuffers(handle.Get())) code = GetLastError();
    }
    if (code == 0 &&
        !MoveFileExW(temp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        code = GetLastError();
    if (code != 0) {
        DeleteFileW(temp.c_str());
        return Fail(error, "Cannot write", file, code);
    }
    return true;
}

} // namespace platform
