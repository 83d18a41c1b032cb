// A records file must lie on a local disk: the temporary folder is local, a server's
// share is not.
#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include "platform/NetworkShare.h"

namespace fs = std::filesystem;

TEST(NetworkShare, LocalFoldersAreLocalAndServersSharesAreNot)
{
    EXPECT_EQ(platform::NetworkShareKind(fs::temp_directory_path() / "not-there-yet" / "records.sqlite3"),
              "");
#ifdef _WIN32
    EXPECT_NE(platform::NetworkShareKind(L"\\\\line-server\\records\\records.sqlite3"), "");
    EXPECT_NE(platform::NetworkShareKind(L"\\\\?\\UNC\\line-server\\records\\records.sqlite3"), "");
    EXPECT_EQ(platform::NetworkShareKind(L"\\\\?\\C:\\records.sqlite3"), "");
    // Told by the folder the system opens, and never taken for local when it cannot be told.
    EXPECT_NE(platform::NetworkShareKind(L"\\\\.\\UNC\\line-server\\records\\records.sqlite3"), "");
    EXPECT_EQ(platform::ShareKindOfFinalPath(L"\\\\?\\UNC\\line-server\\records", DRIVE_FIXED),
              "a network share")
        << "a folder linked to a share";
    EXPECT_EQ(platform::ShareKindOfFinalPath(L"\\\\?\\Z:\\records", DRIVE_REMOTE), "a network drive")
        << "a \\\\?\\ name of a mapped drive";
    EXPECT_EQ(platform::ShareKindOfFinalPath(L"\\\\?\\C:\\records", DRIVE_FIXED), "");
    EXPECT_NE(platform::ShareKindOfFinalPath(L"\\\\?\\Volume{0b1c}\\records", DRIVE_FIXED), "");
#endif
}
