// Replays the fuzzing seed corpus so every build checks those inputs without clang.
#include <filesystem>

#include <gtest/gtest.h>

#include <fstream>

#include "image/IntelHexFormat.h"
#include "image/MotFile.h"
#include "tests/image/ImageTestSupport.h"

namespace {

TEST(MotFileCorpus, every_seed_loads_without_fault)
{
    CRecordingHost host;
    IHost* previous = SetHost(&host);
    const std::filesystem::path corpus = std::filesystem::path(TORVANE_SOURCE_DIR) / "fuzz/corpus/motfile";
    size_t seeds = 0;
    CMotFile image;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (!entry.is_regular_file()) continue;
        SCOPED_TRACE(entry.path().string());
        const int result = image.LoadFile(entry.path().string());
        EXPECT_TRUE(result == 0 || result == 1);
        uint8_t page[256];
        for (uint32_t index = 0; index < CMotFile::kPageCount; ++index)
            image.GetPage(page, index);
        ++seeds;
    }
    SetHost(previous);
    EXPECT_GE(seeds, 5u);
    for (const auto& box : host.boxes)
        EXPECT_EQ(box.text, "Can not accept this file.");
}

TEST(IntelHexCorpus, every_seed_loads_or_is_refused_with_a_line)
{
    const std::filesystem::path corpus = std::filesystem::path(TORVANE_SOURCE_DIR) / "fuzz/corpus/intelhex";
    size_t seeds = 0, whole = 0;
    CMotFile image;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        SCOPED_TRACE(entry.path().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto refusal =
            LoadIntelHex({reinterpret_cast<const uint8_t*>(text.data()), text.size()}, image);
        EXPECT_EQ(image.IsWhole(), !refusal);
        if (refusal) {
            EXPECT_GT(refusal->line, 0u);
        }
        whole += refusal ? 0 : 1;
        ++seeds;
    }
    EXPECT_GE(seeds, 5u);
    EXPECT_GE(whole, 2u);
}

} // namespace
