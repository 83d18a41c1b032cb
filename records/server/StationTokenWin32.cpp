// The token file on Windows: the token sealed with DPAPI for the current user, in a file
// whose DACL lets only that user in.
#include <windows.h>
// after windows.h
#include <dpapi.h>
#include <sddl.h>
#include <wincrypt.h>

#include <memory>
#include <vector>

#include "platform/win32/Win32Text.h"
#include "records/server/StationToken.h"

namespace records_server {

namespace {

using platform::win32::CFileHandle;
using platform::win32::ErrorText;

constexpr DWORD kLongestFile = 64 * 1024;

struct LocalFreeDeleter
{
    void operator()(void* memory) const { ::LocalFree(memory); }
};

// "D:P(A;;FA;;;<the user's SID>)": the user alone, nothing inherited.
bool UserOnlyDescriptor(std::unique_ptr<void, LocalFreeDeleter>& descriptor, std::string& error)
{
    HANDLE process = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &process)) {
        error = "the user cannot be told: " + ErrorText(::GetLastError());
        return false;
    }
    platform::win32::CKernelHandle owned(process);
    DWORD size = 0;
    ::GetTokenInformation(process, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    wchar_t* sid = nullptr;
    if (size == 0 || !::GetTokenInformation(process, TokenUser, user.data(), size, &size) ||
        !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
        error = "the user cannot be told: " + ErrorText(::GetLastError());
        return false;
    }
    const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
    ::LocalFree(sid);
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &made,
                                                                nullptr)) {
        error = "no access list for the token file: " + ErrorText(::GetLastError());
        return false;
    }
    descriptor.reset(made);
    return true;
}

} // namespace

bool SaveStationToken(const platform::CPath& file, const std::string& token, std::string& error)
{
    std::string clean = token;
    if (!CleanStationToken(clean, error)) return false;
    const std::string name = file.Utf8();
    DATA_BLOB plain{static_cast<DWORD>(clean.size()), reinterpret_cast<BYTE*>(clean.data())};
    DATA_BLOB sealed{};
    if (!::CryptProtectData(&plain, L"Torvane station token", nullptr, nullptr, nullptr,
                            CRYPTPROTECT_UI_FORBIDDEN, &sealed)) {
        error = name + ": the token cannot be protected: " + ErrorText(::GetLastError());
        return false;
    }
    std::unique_ptr<void, LocalFreeDeleter> sealedData(sealed.pbData);
    std::unique_ptr<void, LocalFreeDeleter> descriptor;
    if (!UserOnlyDescriptor(descriptor, error)) return false;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    // A file that is there keeps its own access list when overwritten: it goes first.
    if (!::DeleteFileW(file.Native().c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
        error = name + ": cannot be replaced: " + ErrorText(::GetLastError());
        return false;
    }
    CFileHandle out(::CreateFileW(file.Native().c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!out.Valid() || !::WriteFile(out.Get(), sealed.pbData, sealed.cbData, &written, nullptr) ||
        written != sealed.cbData || !::FlushFileBuffers(out.Get())) {
        error = name + ": cannot be written: " + ErrorText(::GetLastError());
        return false;
    }
    return true;
}

bool LoadStationToken(const platform::CPath& file, std::string& token, std::string& error)
{
    const std::string name = "station token " + file.Utf8();
    CFileHandle in(::CreateFileW(file.Native().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in.Valid()) {
        error = name + ": cannot be read: " + ErrorText(::GetLastError());
        return false;
    }
    std::vector<BYTE> data(kLongestFile);
    DWORD got = 0;
    if (!::ReadFile(in.Get(), data.data(), kLongestFile, &got, nullptr)) {
        error = name + ": cannot be read: " + ErrorText(::GetLastError());
        return false;
    }
    DATA_BLOB sealed{got, data.data()};
    DATA_BLOB plain{};
    // Only the user who saved it opens it: a copy taken elsewhere is useless.
    if (!::CryptUnprotectData(&sealed, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                              &plain)) {
        error = name +
                ": cannot be opened by this user (save it again with torvane-cli records "
                "--save-station-token FILE): " +
                ErrorText(::GetLastError());
        return false;
    }
    std::unique_ptr<void, LocalFreeDeleter> plainData(plain.pbData);
    std::string text(reinterpret_cast<const char*>(plain.pbData), plain.cbData);
    ::SecureZeroMemory(plain.pbData, plain.cbData);
    if (!CleanStationToken(text, error)) {
        error = name + ": " + error;
        return false;
    }
    token = std::move(text);
    return true;
}

} // namespace records_server
