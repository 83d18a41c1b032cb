// The digest a record keeps of the flashed file, on both systems' libraries.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/Sha256.h"
#include "platform/ThisProcess.h"

namespace fs = std::filesystem;

TEST(Sha256, DigestsOfKnownFilesAndNoneOfAMissingOne)
{
    const fs::path file =
        fs::temp_directory_path() / ("torvane-sha-" + std::to_string(platform::ProcessId()));
    std::ofstream(file, std::ios::binary) << "abc";
    EXPECT_EQ(platform::Sha256OfFile(file),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Longer than one read: a million 'a's.
    std::ofstream(file, std::ios::binary) << std::string(1000000, 'a');
    EXPECT_EQ(platform::Sha256OfFile(file),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    std::ofstream(file, std::ios::binary).close();
    EXPECT_EQ(platform::Sha256OfFile(file),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    fs::remove(file);
    EXPECT_FALSE(platform::Sha256OfFile(file));
}
