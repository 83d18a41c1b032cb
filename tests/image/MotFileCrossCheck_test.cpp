// Loads S-record files written by independent tools (srec_cat, objcopy) from random
// binaries and compares the image byte for byte with the binaries.
#include <array>
#include <cstdlib>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "image/MotFile.h"
#include "tests/image/ImageTestSupport.h"

namespace {

struct Region
{
    uint32_t address;
    std::vector<uint8_t> bytes;
};

bool HaveTool(const char* name)
{
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

class MotFileCrossCheck : public ImageTest
{
protected:
    std::string WriteBinary(const std::string& name, size_t size, uint32_t seed)
    {
        std::mt19937 random(seed);
        std::string bytes(size, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random() & 0xFF);
        return WriteFile(name, bytes);
    }

    // Writes one random binary per region and returns the regions with their bytes.
    std::vector<Region> MakeRegions(const std::vector<std::pair<uint32_t, size_t>>& layout)
    {
        std::vector<Region> regions;
        uint32_t seed = 1;
        for (const auto& [address, size] : layout) {
            const std::string path =
                WriteBinary("part" + std::to_string(regions.size()) + ".bin", size, seed++);
            std::ifstream in(path, std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
            regions.push_back({address, std::move(bytes)});
        }
        return regions;
    }

    void Run(const std::string& command)
    {
        const std::string full = "cd '" + m_dir.string() + "' && " + command + " 2>tool.err";
        ASSERT_EQ(std::system(full.c_str()), 0) << command;
    }

    void ExpectImageMatches(const std::string& srecFile, const std::vector<Region>& regions,
                            int expectedResult)
    {
        CMotFile image;
        EXPECT_EQ(image.LoadFile((m_dir / srecFile).string()), expectedResult);
        // A file without an end record is refused, with its data still loaded.
        EXPECT_EQ(image.Refusal().has_value(), expectedResult == 0);
        EXPECT_EQ(image.IsWhole(), expectedResult == 1);

        std::map<uint32_t, std::array<uint8_t, 256>> expected;
        for (const Region& region : regions) {
            for (size_t i = 0; i < region.bytes.size(); ++i) {
                const uint32_t address = region.address + static_cast<uint32_t>(i);
                auto [slot, inserted] = expected.try_emplace(address / 256);
                if (inserted) slot->second.fill(0xFF);
                slot->second[address % 256] = region.bytes[i];
            }
        }
        for (uint32_t index = 0; index < CMotFile::kPageCount; ++index) {
            std::array<uint8_t, 256> page;
            page.fill(0xA5);
            const bool present = image.GetPage(page.data(), index) != nullptr;
            const auto it = expected.find(index);
            ASSERT_EQ(present, it != expected.end()) << "page " << std::hex << index;
            if (present) {
                ASSERT_EQ(page, it->second) << "page " << std::hex << index;
            }
        }
    }
};

TEST_F(MotFileCrossCheck, srec_cat_s1_s2_s3_with_holes_and_several_line_lengths)
{
    if (!HaveTool("srec_cat")) GTEST_SKIP() << "srec_cat is not installed";

    struct Form
    {
        int addressLength;
        std::vector<std::pair<uint32_t, size_t>> layout;
    };
    const std::vector<Form> forms = {
        {2, {{0x0100, 3000}, {0x2345, 777}, {0xF000, 0x1000}}},
        {3, {{0xC0000, 70001}, {0xF0123, 5000}, {0xFFFF00, 256}}},
        {4, {{0x000010, 500}, {0x7FFF80, 0x300}, {0xF0000, 0x10000}}},
    };
    for (const Form& form : forms) {
        const std::vector<Region> regions = MakeRegions(form.layout);
        std::string inputs;
        for (size_t i = 0; i < regions.size(); ++i)
            inputs +=
                " part" + std::to_string(i) + ".bin -binary -offset " + std::to_string(regions[i].address);
        for (int lineLength : {20, 46, 78, 142, 250}) {
            // Without a start address srec_cat writes no end record, and the load is refused.
            const bool withEnd = lineLength % 4 == 2;
            SCOPED_TRACE("address length " + std::to_string(form.addressLength) + ", line length " +
                         std::to_string(lineLength) + (withEnd ? ", end record" : ""));
            ASSERT_NO_FATAL_FAILURE(
                Run("srec_cat" + inputs + (withEnd ? " -execution-start-address=0x1234" : "") +
                    " -o out.s -motorola -address-length=" + std::to_string(form.addressLength) +
                    " -line-length=" + std::to_string(lineLength)));
            ExpectImageMatches("out.s", regions, withEnd ? 1 : 0);
        }
    }
}

TEST_F(MotFileCrossCheck, objcopy_s2_and_forced_s3_records)
{
    if (!HaveTool("objcopy")) GTEST_SKIP() << "objcopy is not installed";

    const std::vector<Region> regions = MakeRegions({{0xF0000, 0xFFF1}});
    for (const std::string& options :
         {std::string(), std::string("--srec-len=7"), std::string("--srec-len=64"),
          std::string("--srec-forceS3"), std::string("--srec-forceS3 --srec-len=200")}) {
        SCOPED_TRACE(options);
        ASSERT_NO_FATAL_FAILURE(
            Run("objcopy -I binary -O srec --change-addresses 0xF0000 " + options + " part0.bin out.s"));
        ExpectImageMatches("out.s", regions, 1);
    }
}

} // namespace
