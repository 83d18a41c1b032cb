// The common test main of the Windows build: each process gets its own %APPDATA%,
// so the settings file of a test never touches the user's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / (L"torvane-test-" + std::to_wstring(GetCurrentProcessId()));
    std::error_code ec;
    fs::create_directories(dir / L"appdata", ec);
    const std::wstring appData = (dir / L"appdata").wstring();
    _wputenv_s(L"APPDATA", appData.c_str());
    SetEnvironmentVariableW(L"APPDATA", appData.c_str());
    // The records database lives in %LOCALAPPDATA%.
    fs::create_directories(dir / L"localappdata", ec);
    const std::wstring localAppData = (dir / L"localappdata").wstring();
    _wputenv_s(L"LOCALAPPDATA", localAppData.c_str());
    SetEnvironmentVariableW(L"LOCALAPPDATA", localAppData.c_str());
    testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    fs::remove_all(dir, ec);
    return rc;
}
