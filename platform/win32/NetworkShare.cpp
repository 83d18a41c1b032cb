#include "platform/NetworkShare.h"

#include <windows.h>

#include "platform/win32/Win32Text.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr char kShare[] = "a network share";
constexpr char kUnknown[] = "a disk that cannot be told local";

bool StartsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// The nearest folder of the name that exists (the file itself may not yet), opened as
// itself: a link to a share is judged by where it leads.
win32::CFileHandle OpenNearestFolder(fs::path path)
{
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    if (!ec) path = absolute;
    for (;;) {
        win32::CFileHandle folder(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (folder.Valid() || !path.has_relative_path()) return folder;
        path = path.parent_path();
    }
}

} // namespace

std::string ShareKindOfFinalPath(const std::wstring& finalPath, unsigned driveType)
{
    if (StartsWith(finalPath, L"\\\\?\\UNC\\")) return kShare;
    const bool onDrive = StartsWith(finalPath, L"\\\\?\\") && finalPath.size() >= 7 && finalPath[5] == L':';
    if (!onDrive) return kUnknown;
    return driveType == DRIVE_REMOTE ? "a network drive" : "";
}

std::string NetworkShareKind(const CPath& name)
{
    const std::wstring& text = name.Native().native();
    // A server's name is told at once, without waiting for the network.
    if (StartsWith(text, L"\\\\?\\UNC\\")) return kShare;
    const bool deviceName = StartsWith(text, L"\\\\?\\") || StartsWith(text, L"\\\\.\\");
    if (!deviceName && (StartsWith(text, L"\\\\") || StartsWith(text, L"//"))) return kShare;
    // In the device namespace only a drive's name (\\?\C:\...) is a place this can judge;
    // \\.\UNC\..., GLOBALROOT and the like are not taken for local.
    if (deviceName && (text.size() < 7 || text[5] != L':')) return kUnknown;

    // Anything else is judged by the folder the system opens: \\.\UNC\..., a \\?\ name of a
    // mapped drive and a folder linked to a share all lead to the server there.
    const win32::CFileHandle folder = OpenNearestFolder(name.Native());
    if (!folder.Valid()) return kUnknown;
    FILE_REMOTE_PROTOCOL_INFO remote{};
    if (GetFileInformationByHandleEx(folder.Get(), FileRemoteProtocolInfo, &remote, sizeof remote))
        return kShare;
    wchar_t finalPath[MAX_PATH * 4] = {};
    const DWORD length =
        GetFinalPathNameByHandleW(folder.Get(), finalPath, static_cast<DWORD>(std::size(finalPath)),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= std::size(finalPath)) return kUnknown;
    const std::wstring resolved(finalPath, length);
    const wchar_t drive[] = {resolved.size() > 4 ? resolved[4] : L'?', L':', L'\\', 0};
    return ShareKindOfFinalPath(resolved, GetDriveTypeW(drive));
}

} // namespace platform
