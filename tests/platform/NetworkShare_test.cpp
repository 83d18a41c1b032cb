// A records file must lie on a local disk: the temporary folder is local, a server's
// share is not.
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
#endif
}
