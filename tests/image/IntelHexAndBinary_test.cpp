// The Intel HEX and binary readers against the S-record reader on files that srec_cat
// writes from the same random bytes, the damage each refuses, and the format judgement.
#include <array>
#include <cstdlib>
#include <random>

#include <gtest/gtest.h>

#include "image/BinaryFormat.h"
#include "image/IntelHexFormat.h"
#include "image/UpgradeFormats.h"
#include "tests/image/ImageTestSupport.h"

namespace {

std::span<const uint8_t> Bytes(const std::string& text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

class IntelHexAndBinary : public ImageTest
{
protected:
    void Run(const std::string& command)
    {
        const std::string full = "cd '" + m_dir.string() + "' && " + command + " 2>tool.err";
        ASSERT_EQ(std::system(full.c_str()), 0) << command;
    }
    std::string Read(const std::string& name)
    {
        std::ifstream in(m_dir / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void ExpectSameImage(const CMotFile& expected, const CMotFile& actual)
    {
        ASSERT_TRUE(actual.IsWhole());
        std::array<uint8_t, 256> want{}, got{};
        for (uint32_t index = 0; index < CMotFile::kPageCount; ++index) {
            ASSERT_EQ(expected.HasPage(index), actual.HasPage(index)) << "page " << std::hex << index;
            if (!expected.GetPage(want.data(), index)) continue;
            actual.GetPage(got.data(), index);
            ASSERT_EQ(want, got) << "page " << std::hex << index;
        }
        EXPECT_EQ(expected.HoldsDataIn(0xF0000, 0x100000), actual.HoldsDataIn(0xF0000, 0x100000));
    }
};

TEST_F(IntelHexAndBinary, srec_cat_segment_and_linear_files_load_as_their_s_records_do)
{
    if (std::system("command -v srec_cat >/dev/null 2>&1") != 0) GTEST_SKIP() << "srec_cat is not installed";
    std::mt19937 random(33);
    std::string upgrade(0x10000, '\0'), low(3001, '\0');
    for (char& c : upgrade)
        c = static_cast<char>(random());
    for (char& c : low)
        c = static_cast<char>(random());
    WriteFile("upgrade.bin", upgrade);
    WriteFile("low.bin", low);
    const std::string inputs = "upgrade.bin -binary -offset 0xF0000 low.bin -binary -offset 0x1F7F3";
    ASSERT_NO_FATAL_FAILURE(
        Run("srec_cat " + inputs + " -execution-start-address=0x1234 -o out.mot -motorola"));
    CMotFile fromSRecords;
    ASSERT_EQ(fromSRecords.LoadFile((m_dir / "out.mot").string()), 1);

    for (const std::string form : {"-address-length=3", "-address-length=4", "-line-length=76 -crlf"}) {
        SCOPED_TRACE(form);
        ASSERT_NO_FATAL_FAILURE(Run("srec_cat " + inputs + " -o out.hex -intel " + form));
        const std::string hex = Read("out.hex");
        EXPECT_EQ(ReaderFor(Bytes(hex), std::nullopt).name, "Intel HEX");
        CMotFile image;
        const auto refusal = LoadIntelHex(Bytes(hex), image);
        ASSERT_FALSE(refusal) << refusal->Text();
        ExpectSameImage(fromSRecords, image);
    }

    // The same 64 KiB as a raw binary from its base.
    ASSERT_NO_FATAL_FAILURE(Run("srec_cat upgrade.bin -binary -offset 0xF0000 "
                                "-execution-start-address=0 -o top.mot -motorola"));
    ASSERT_EQ(fromSRecords.LoadFile((m_dir / "top.mot").string()), 1);
    CMotFile binary;
    ASSERT_FALSE(LoadBinary(Bytes(upgrade), 0xF0000, binary));
    ExpectSameImage(fromSRecords, binary);
    EXPECT_TRUE(m_host.boxes.empty());
}

TEST_F(IntelHexAndBinary, damaged_intel_hex_is_refused_naming_the_line)
{
    const std::string good = ":020000040000FA\n"
                             ":0400100001020304E2\n"
                             ":00000001FF\n";
    CMotFile image;
    ASSERT_FALSE(LoadIntelHex(Bytes(good), image));
    const struct
    {
        std::string text;
        std::string refusal;
    } cases[] = {
        {":020000040000FA\n:0400100001020305E2\n:00000001FF\n", "line 2: checksum does not match"},
        {":020000040000FA\n:04001000010203G4E2\n:00000001FF\n", "line 2: not a hexadecimal digit"},
        {":020000040000FA\n:0400100001020304E200\n:00000001FF\n",
         "line 2: record length does not match its count"},
        {":020000040000FA\n:0400100001020304\n:00000001FF\n",
         "line 2: record length does not match its count"},
        {":020000040000FA\n:0400100001020304E2\n", "line 3: the file ends without its end record"},
        {":020000040000FA\n:0400100001020304E2", "line 3: the file ends without its end record"},
        {good + ":0400100001020304E2\n", "line 4: text after the end record"},
        {good + "\x1A", "line 4: text after the end record"},
        {"\xEF\xBB\xBF" + good, "line 1: not an Intel HEX record"},
        {":020000040000FA\nS10500100102E7\n:00000001FF\n", "line 2: not an Intel HEX record"},
        {":04FFFE0001020304F5\n:00000001FF\n", "line 1: record crosses a 64 KiB boundary"},
        {":02000004010AEF\n:0400000001020304F2\n:00000001FF\n",
         "line 2: address beyond the 16 MiB address space"},
        {":00000006FA\n:00000001FF\n", "line 1: unknown record type"},
        {":03000004000000F9\n:00000001FF\n", "line 1: malformed address record"},
        {":0100000100FE\n", "line 1: malformed end record"},
        {":02000002FFFFFE\n:0400100001020304E2\n:00000001FF\n",
         "line 2: record reaches past the 1 MiB of a segment address"},
        {":0400100001020304E2\n:0100120009E4\n:00000001FF\n",
         "line 2: another record gave these addresses other bytes"},
        {"", "line 1: the file ends without its end record"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.text);
        const auto refusal = LoadIntelHex(Bytes(test.text), image);
        ASSERT_TRUE(refusal);
        EXPECT_EQ(refusal->Text(), test.refusal);
        EXPECT_FALSE(image.IsWhole());
    }
    // Two records that agree on the bytes they share are no conflict.
    EXPECT_FALSE(LoadIntelHex(Bytes(":0400100001020304E2\n:0100120003EA\n:00000001FF\n"), image));
}

TEST_F(IntelHexAndBinary, binary_must_fit_64_kib_from_its_base_below_0FFFFF)
{
    CMotFile image;
    const std::string full(0x10000, '\x5A');
    EXPECT_FALSE(LoadBinary(Bytes(full), 0xF0000, image));
    EXPECT_TRUE(image.IsWhole());
    EXPECT_EQ(LoadBinary(Bytes(full + "x"), 0xE0000, image)->Text(), "larger than 64 KiB");
    EXPECT_EQ(LoadBinary(Bytes(full), 0xF0001, image)->Text(), "reaches past 0FFFFF from its base");
    EXPECT_EQ(LoadBinary(Bytes("ab"), 0xFFFFFFFF, image)->Text(), "reaches past 0FFFFF from its base");
    EXPECT_EQ(LoadBinary(Bytes(""), 0xF0000, image)->Text(), "the file is empty");
    EXPECT_FALSE(image.IsWhole());
}

TEST(UpgradeFormat, told_from_the_content_and_binary_only_with_a_base)
{
    const auto judge = [](const std::string& text, std::optional<uint32_t> base = std::nullopt) {
        return ReaderFor(Bytes(text), base).name;
    };
    EXPECT_EQ(judge("S00600004844521B\n"), "S-records");
    EXPECT_EQ(judge("\r\n:00000001FF\r\n"), "Intel HEX");
    EXPECT_EQ(judge(":00000001FF\n", 0xF0000), "binary");
    // No format tells these: the S-record reader refuses them by their first line.
    EXPECT_EQ(judge("\x7F"
                    "ELF"),
              "S-records");
    EXPECT_EQ(judge(""), "S-records");
    EXPECT_EQ(WriterFor("backup.HEX").name, "Intel HEX");
    EXPECT_EQ(WriterFor("backup.bin").name, "binary");
    EXPECT_EQ(WriterFor("backup.mot").name, "S-records");
    EXPECT_EQ(WriterFor("backup").name, "S-records");
}

} // namespace
