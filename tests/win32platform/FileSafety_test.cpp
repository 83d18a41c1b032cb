// Under Wine: outputs must be disk files, never devices; the instance lock tells a
// stranger's object of its name from a second copy.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/InstanceLock.h"
#include "platform/OutputFile.h"
#include "platform/SmallFile.h"
#include "platform/win32/Win32Text.h"

namespace fs = std::filesystem;

namespace {

fs::path ScratchDir()
{
    const fs::path dir =
        fs::temp_directory_path() / ("torvane-files-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(dir);
    return dir;
}

TEST(Win32OutputFile, DeviceNamesAreRefusedAndNothingIsReportedWritten)
{
    const fs::path dir = ScratchDir();
    std::string error;
    for (const char* name : {"NUL.mot", "nul", "CON.mot", "COM1.mot", "LPT2", "aux.s"}) {
        SCOPED_TRACE(name);
        error.clear();
        EXPECT_FALSE(platform::CheckOutputTarget(dir / name, error));
        EXPECT_FALSE(platform::WriteFileAtomically(dir / name, "S9030000FC\r\n", error));
        EXPECT_NE(error.find(name), std::string::npos) << error;
    }
    EXPECT_FALSE(platform::WriteFileAtomically(fs::path(L"\\\\.\\NUL"), "x", error));
    EXPECT_TRUE(fs::is_empty(dir)) << "a temporary file was left behind";

    ASSERT_TRUE(platform::WriteFileAtomically(dir / "panel.mot", "S9030000FC\r\n", error)) << error;
    ASSERT_TRUE(platform::WriteFileAtomically(dir / "panel.mot", "again", error)) << error;
    std::string content;
    EXPECT_EQ(platform::ReadSmallFile(dir / "panel.mot", content, error), platform::SmallFileStatus::Ok);
    EXPECT_EQ(content, "again");
    EXPECT_EQ(platform::ReadSmallFile(dir / "NUL", content, error), platform::SmallFileStatus::Refused);
    fs::remove_all(dir);
}

TEST(Win32InstanceLock, StrangersObjectOfTheNameIsNoSecondCopy)
{
    const std::string name = "TORVANE-squat-" + std::to_string(GetCurrentProcessId());
    // Another program's event under the name: CreateMutexW fails on it with ERROR_INVALID_HANDLE.
    platform::win32::CKernelHandle squatter(
        CreateEventW(nullptr, TRUE, FALSE, platform::win32::Widen(name).c_str()));
    ASSERT_TRUE(squatter.Valid());
    platform::CInstanceLock first, second;
    std::string why;
    EXPECT_EQ(first.TryAcquire(name, why), platform::CInstanceLock::Result::Held) << why;
    EXPECT_EQ(second.TryAcquire(name, why), platform::CInstanceLock::Result::HeldByAnother);
    first.Release();
    EXPECT_EQ(second.TryAcquire(name, why), platform::CInstanceLock::Result::Held);
}

} // namespace
