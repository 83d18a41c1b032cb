// The Win32 side of the platform services, under Wine: the instance mutex, the
// settings file's place and replacement, port names, UTF-8 paths.
#include <windows.h>
// <windows.h> maps the name to its own GetPrivateProfileIntW.
#undef GetPrivateProfileInt

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/InstanceLock.h"
#include "platform/Paths.h"
#include "platform/ProfileIni.h"
#include "platform/SerialDriver.h"
#include "platform/TextFile.h"
#include "platform/win32/CommDriver.h"
#include "platform/win32/Win32Text.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(Win32InstanceLock, SecondHolderIsRefusedUntilTheFirstLetsGo)
{
    const std::string name = "TORVANE-test-" + std::to_string(GetCurrentProcessId());
    platform::CInstanceLock first;
    platform::CInstanceLock second;
    ASSERT_TRUE(first.Acquire(name));
    EXPECT_FALSE(second.Acquire(name));
    EXPECT_FALSE(second.IsHeld());
    first.Release();
    EXPECT_TRUE(second.Acquire(name));
}

TEST(Win32Settings, LivesUnderAppDataAndIsReplacedWholeKeepingForeignSections)
{
    const fs::path file = platform::SettingsFilePath();
    EXPECT_EQ(file, fs::path(_wgetenv(L"APPDATA")) / L"Torvane" / L"torvane.INI");
    fs::create_directories(file.parent_path());
    {
        std::ofstream out(file, std::ios::binary);
        out << "[Other]\r\nkeep=1\r\n[Comm]\r\nbaud=9600\r\n";
    }
    ASSERT_TRUE(platform::WritePrivateProfileInt("Comm", "baud", 115200, file));
    EXPECT_EQ(ReadAll(file), "[Other]\r\nkeep=1\r\n[Comm]\r\nbaud=115200\r\n");
    EXPECT_EQ(platform::GetPrivateProfileInt("comm", "BAUD", 0, file), 115200);

    // A program holding the file without delete sharing blocks the replacement: the
    // old file must stand, the failure be told, and no temporary be left behind.
    HANDLE holder =
        CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const platform::ProfileWrite refused = platform::WritePrivateProfileInt("Comm", "baud", 19200, file);
    EXPECT_FALSE(refused);
    CloseHandle(holder);
    EXPECT_FALSE(refused.error.empty());
    EXPECT_EQ(platform::GetPrivateProfileInt("Comm", "baud", 0, file), 115200);
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(file.parent_path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1);

    // A scanner that holds the file for a moment only delays the replacement.
    holder = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    std::thread scanner([holder] {
        Sleep(120);
        CloseHandle(holder);
    });
    const platform::ProfileWrite written = platform::WritePrivateProfileInt("Comm", "baud", 38400, file);
    EXPECT_TRUE(written) << written.error;
    scanner.join();
    EXPECT_EQ(platform::GetPrivateProfileInt("Comm", "baud", 0, file), 38400);

    // Only a small regular file is read as settings.
    {
        std::ofstream out(file, std::ios::binary);
        out << "[Comm]\r\nbaud=57600\r\n" << std::string(64 * 1024, ';');
    }
    EXPECT_EQ(platform::GetPrivateProfileInt("Comm", "baud", 7, file), 7);
    fs::remove(file);
}

TEST(Win32Paths, EveryComNameOpensThroughTheDeviceNamespaceAndNothingElseOpens)
{
    EXPECT_EQ(platform::ResolvePortName("COM1").Native(), fs::path(L"\\\\.\\COM1"));
    EXPECT_EQ(platform::ResolvePortName("com10").Native(), fs::path(L"\\\\.\\COM10"));
    EXPECT_EQ(platform::ResolvePortName("COM12").Native(), fs::path(L"\\\\.\\COM12"));
    EXPECT_EQ(platform::ResolvePortName("Com256").Native(), fs::path(L"\\\\.\\COM256"));
    EXPECT_EQ(platform::ResolvePortName("\\\\.\\com3").Native(), fs::path(L"\\\\.\\COM3"));
    EXPECT_EQ(platform::ResolvePortName("COM0").Native(), fs::path(L"COM0"));

    // A file in the working folder, a pipe or a share that bears the typed name is never
    // opened as the port, and a file stays as it was.
    const fs::path file = fs::current_path() / L"torvane-port-file";
    {
        std::ofstream out(file, std::ios::binary);
        out << "keep";
    }
    for (const char* name : {"torvane-port-file", "COM0", "COM12x", "\\\\.\\pipe\\torvane",
                             "\\\\localhost\\share\\COM3", "\\\\?\\C:\\torvane-port-file"}) {
        platform::OpenError error = platform::OpenError::None;
        EXPECT_FALSE(platform::OpenSerialDriver(name, error)) << name;
        EXPECT_EQ(error, platform::OpenError::NotFound) << name;
    }
    EXPECT_EQ(ReadAll(file), "keep");
    fs::remove(file);
}

TEST(Win32TextFile, OpensUtf8NamesAndKeepsEveryByteOfALine)
{
    const std::string name =
        platform::win32::Narrow((fs::temp_directory_path() / L"torvane-\u00e9t\u00e9.mot").wstring());
    {
        std::ofstream out(fs::path(platform::win32::Widen(name)), std::ios::binary);
        out << std::string("S0\0x\r\n", 6) << "S9";
    }
    platform::CTextFile text;
    text.Open(platform::CPath::FromUtf8(name));
    std::string line;
    ASSERT_TRUE(text.ReadLine(line));
    EXPECT_EQ(line, std::string("S0\0x", 4));
    ASSERT_TRUE(text.ReadLine(line));
    EXPECT_EQ(line, "S9");
    EXPECT_FALSE(text.ReadLine(line));
    text.Close();
    fs::remove(fs::path(platform::win32::Widen(name)));
    EXPECT_THROW(text.Open(platform::CPath::FromUtf8(name)), CFileException);
}

TEST(Win32Messages, APortThatFailsKeepsTheSystemsWordsAndACopyWithOtherRightsIsAlreadyRunning)
{
    // A wedged adapter: the system's own words and code, not a bare "cannot be opened".
    EXPECT_EQ(platform::CCommDriver::NoteOpenFailure(ERROR_GEN_FAILURE), platform::OpenError::Other);
    const std::string text = platform::DescribeOpenError(platform::OpenError::Other);
    EXPECT_NE(text.find("(31)"), std::string::npos) << text;
    EXPECT_GT(text.size(), std::string("the port cannot be opened: (31)").size()) << text;

    // Elevation cannot be shown under Wine: the decision on the error it gives.
    using Result = platform::CInstanceLock::Result;
    EXPECT_EQ(platform::CInstanceLock::ResultOfCreateFailure(ERROR_ACCESS_DENIED), Result::HeldByAnother);
    EXPECT_EQ(platform::CInstanceLock::ResultOfCreateFailure(ERROR_INVALID_HANDLE), Result::CannotCreate);
}
