#include <array>
#include <cstring>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "image/MotFile.h"
#include "platform/TextFile.h"
#include "tests/image/ImageTestSupport.h"

namespace {

using Page = std::array<uint8_t, 256>;

Page Blank()
{
    Page page;
    page.fill(0xFF);
    return page;
}

class MotFileLoad : public ImageTest
{
protected:
    int Load(const std::string& content) { return m_image.LoadFile(WriteFile("upgrade.mot", content)); }

    Page PageAt(uint32_t index)
    {
        Page page = Blank();
        EXPECT_NE(m_image.GetPage(page.data(), index), nullptr) << "page " << index << " is absent";
        return page;
    }

    size_t PageCount() const
    {
        size_t count = 0;
        for (uint32_t i = 0; i < CMotFile::kPageCount; ++i)
            count += m_image.HasPage(i);
        return count;
    }

    void ExpectOneRefusal()
    {
        EXPECT_TRUE(m_image.Refusal());
        EXPECT_FALSE(m_image.IsWhole());
    }

    CMotFile m_image;
};

TEST_F(MotFileLoad, loads_page_crossing_s2_record)
{
    EXPECT_EQ(Load(Record(2, 0x0FFFF0, Counting(32)) + "\n" + Record(9, 0, {}) + "\n"), 1);
    Page low = PageAt(0x0FFF);
    Page high = PageAt(0x1000);
    Page expectedLow = Blank();
    Page expectedHigh = Blank();
    for (int i = 0; i < 16; ++i) {
        expectedLow[0xF0 + i] = static_cast<uint8_t>(i);
        expectedHigh[i] = static_cast<uint8_t>(16 + i);
    }
    EXPECT_EQ(low, expectedLow);
    EXPECT_EQ(high, expectedHigh);
    EXPECT_EQ(PageCount(), 2u);
    EXPECT_FALSE(m_image.Refusal());
}

TEST_F(MotFileLoad, crossing_record_keeps_bytes_already_in_the_next_page)
{
    Load(Record(2, 0x001080, {0xAA}) + "\n" + Record(2, 0x000FF8, Counting(16)) + "\n");
    Page next = PageAt(0x10);
    EXPECT_EQ(next[0x07], 15);
    EXPECT_EQ(next[0x08], 0xFF);
    EXPECT_EQ(next[0x80], 0xAA);
}

TEST_F(MotFileLoad, s1_record_at_0100_creates_page_one_only)
{
    EXPECT_EQ(Load(Record(1, 0x0100, Counting(16, 0x40)) + "\n" + Record(9, 0, {}) + "\n"), 1);
    Page expected = Blank();
    for (int i = 0; i < 16; ++i)
        expected[i] = static_cast<uint8_t>(0x40 + i);
    EXPECT_EQ(PageAt(1), expected);
    EXPECT_EQ(PageCount(), 1u);
}

TEST_F(MotFileLoad, s3_record_and_every_end_record_type)
{
    for (int end : {7, 8, 9}) {
        SCOPED_TRACE(end);
        EXPECT_EQ(Load(Record(3, 0x00F00010, {1, 2, 3}) + "\n" + Record(end, 0, {}) + "\n\r\n\n"), 1);
        EXPECT_EQ(PageAt(0xF000)[0x10], 1);
        EXPECT_EQ(PageAt(0xF000)[0x12], 3);
    }
}

// Each would flash something other than the file's author meant, silently: two files
// pasted together, a damaged end, a merge that gives one address two values.
TEST_F(MotFileLoad, what_a_careful_reader_refuses)
{
    const std::string data = Record(2, 0x0F0000, {1, 2, 3}) + "\n";
    std::string badEnd = Record(9, 0, {});
    badEnd.back() = badEnd.back() == '0' ? '1' : '0';
    const struct
    {
        std::string text;
        std::string refusal;
    } cases[] = {
        {data + Record(9, 0, {}) + "\n" + Record(2, 0x0F0100, {4}) + "\n",
         "line 3: text after the end record"},
        {data + Record(9, 0, {}) + "\n\n" + "\x1A", "line 4: text after the end record"},
        {data + badEnd + "\n", "line 2: checksum does not match"},
        {data + "S4051234567890\n" + Record(9, 0, {}) + "\n", "line 2: S4 is a reserved record type"},
        {data + Record(2, 0x0F0002, {9}) + "\n" + Record(9, 0, {}) + "\n",
         "line 2: another record gave these addresses other bytes"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.text);
        for (const bool fromFile : {false, true}) {
            EXPECT_EQ(fromFile ? Load(test.text) : m_image.LoadBytes(test.text), 0);
            ASSERT_TRUE(m_image.Refusal());
            EXPECT_EQ(m_image.Refusal()->Text(), test.refusal);
            EXPECT_FALSE(m_image.IsWhole());
        }
    }
    EXPECT_EQ(Load(data + Record(2, 0x0F0001, {2, 3}) + "\n" + Record(9, 0, {}) + "\n"), 1)
        << "records that agree on the bytes they share are one image";
}

TEST_F(MotFileLoad, file_without_end_record_is_refused_but_keeps_its_data)
{
    EXPECT_EQ(Load(Record(2, 0x0F0000, {0x12}) + "\n" + Record(2, 0x0F0100, {0x34})), 0);
    EXPECT_EQ(PageAt(0x0F00)[0], 0x12);
    EXPECT_EQ(PageAt(0x0F01)[0], 0x34) << "the last line without a line feed was lost";
    ExpectOneRefusal();
    EXPECT_FALSE(m_image.IsWhole());
}

TEST_F(MotFileLoad, damaged_copies_of_a_good_file_are_refused)
{
    std::string good = "S00600004844521B\n";
    for (uint32_t address = 0x0F0000; address < 0x0F0400; address += 32)
        good += Record(2, address, Counting(32)) + "\r\n";
    good += Record(8, 0, {}) + "\r\n";
    EXPECT_EQ(Load(good), 1);
    EXPECT_TRUE(m_image.IsWhole());
    EXPECT_FALSE(m_image.Refusal());

    const size_t firstData = good.find("S2");
    std::string flipped = good;
    flipped[firstData + 12] = flipped[firstData + 12] == '0' ? '1' : '0';
    std::string longerCount = good;
    longerCount[firstData + 3] = static_cast<char>(longerCount[firstData + 3] + 1);
    for (const std::string& damaged :
         {"\xEF\xBB\xBF" + good, good.substr(0, good.size() / 2), flipped, longerCount}) {
        EXPECT_EQ(Load(damaged), 0);
        ExpectOneRefusal();
        EXPECT_FALSE(m_image.IsWhole());
    }
}

TEST_F(MotFileLoad, header_and_end_only_give_an_empty_image)
{
    EXPECT_EQ(Load("S00F000068656C6C6F202020202000003C\nS9030000FC\n"), 1);
    EXPECT_EQ(PageCount(), 0u);
}

TEST_F(MotFileLoad, empty_lines_and_crlf_line_ends)
{
    const std::string content = "\r\n\n" + Record(1, 0x0200, {9, 8}) + "\r\n\r\n\n" + Record(1, 0x0300, {7}) +
                                "\r\n" + Record(9, 0, {}) + "\r\n";
    EXPECT_EQ(Load(content), 1);
    EXPECT_EQ(PageAt(2)[1], 8);
    EXPECT_EQ(PageAt(3)[0], 7);
    EXPECT_EQ(PageAt(3)[1], 0xFF) << "the carriage return was taken as data";
}

TEST_F(MotFileLoad, line_not_starting_with_upper_case_s_refuses_the_file)
{
    const std::string first = Record(2, 0x0F0000, {0x11}) + "\n";
    const std::string later = Record(2, 0x0F0100, {0x22});
    for (const std::string& stopper :
         {std::string("s") + later.substr(1), " " + later, "\xEF\xBB\xBF" + later}) {
        SCOPED_TRACE(stopper);
        EXPECT_EQ(Load(first + stopper + "\n" + Record(9, 0, {}) + "\n"), 0);
        EXPECT_EQ(PageAt(0x0F00)[0], 0x11);
        EXPECT_FALSE(m_image.HasPage(0x0F01));
        ExpectOneRefusal();
        EXPECT_FALSE(m_image.IsWhole());
    }
}

TEST_F(MotFileLoad, bom_before_the_first_record_leaves_the_image_empty)
{
    EXPECT_EQ(Load("\xEF\xBB\xBF" + Record(2, 0x0F0000, {1}) + "\n" + Record(9, 0, {}) + "\n"), 0);
    EXPECT_EQ(PageCount(), 0u);
}

TEST_F(MotFileLoad, non_data_record_types_are_skipped)
{
    const std::string content = "S00600004844521B\n" + Record(5, 0, {}) + "\n" + Record(6, 0, {}) + "\n" +
                                "SA0512345678FF\n" + "SF0512345678FF\n" + "SZ0512345678FF\n" + "S\n" +
                                Record(1, 0x0400, {0x5A}) + "\n" + Record(9, 0, {}) + "\n";
    EXPECT_EQ(Load(content), 1);
    EXPECT_EQ(PageCount(), 1u);
    EXPECT_EQ(PageAt(4)[0], 0x5A);
    EXPECT_FALSE(m_image.Refusal());
}

TEST_F(MotFileLoad, wrong_or_missing_checksum_is_refused)
{
    std::string line = Record(2, 0x0F0000, {0xDE, 0xAD});
    const std::string good = line;
    line.replace(line.size() - 2, 2, line.substr(line.size() - 2) == "00" ? "01" : "00");
    for (const std::string& bad :
         {line, good.substr(0, good.size() - 2), good.substr(0, good.size() - 2) + "G0"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(Load(bad + "\nS9030000FC\n"), 0);
        ExpectOneRefusal();
        EXPECT_FALSE(m_image.IsWhole());
    }
}

TEST_F(MotFileLoad, characters_after_the_checksum_are_refused)
{
    const std::string data = Record(1, 0x0500, {0xAB});
    for (const std::string& bad :
         {data + " trailing text\n" + Record(9, 0, {}), data + " \n" + Record(9, 0, {}),
          data + "\nS9030000FC00\n", "S00600004844521B00\n" + data + "\n" + Record(9, 0, {})}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(Load(bad + "\n"), 0);
        ExpectOneRefusal();
        EXPECT_FALSE(m_image.IsWhole());
    }
}

TEST_F(MotFileLoad, s5_count_must_match_the_data_records_before_it)
{
    const std::string two = Record(1, 0x0500, {1}) + "\n" + Record(2, 0x0F0000, {2}) + "\n";
    EXPECT_EQ(Load(two + Record(5, 2, {}) + "\n" + Record(9, 0, {}) + "\n"), 1);
    EXPECT_FALSE(m_image.Refusal());
    for (uint32_t wrong : {1u, 3u, 0x0102u}) {
        SCOPED_TRACE(wrong);
        EXPECT_EQ(Load(two + Record(5, wrong, {}) + "\n" + Record(9, 0, {}) + "\n"), 0);
        ExpectOneRefusal();
    }
    std::string badSum = Record(5, 2, {});
    badSum.replace(badSum.size() - 2, 2, "00");
    EXPECT_EQ(Load(two + badSum + "\n" + Record(9, 0, {}) + "\n"), 0);
    ExpectOneRefusal();
}

TEST_F(MotFileLoad, holds_data_in_sees_bytes_not_pages)
{
    // A record without data still creates its page, but puts no byte there.
    ASSERT_EQ(Load(Record(2, 0x0F0000, {}) + "\n" + Record(2, 0x0EFFFE, {1, 2, 3}) + "\n" +
                   Record(2, 0x0C0000, {4}) + "\n" + Record(9, 0, {}) + "\n"),
              1);
    EXPECT_TRUE(m_image.HasPage(0x0F00));
    EXPECT_TRUE(m_image.HoldsDataIn(0x0F0000, 0x100000)); // 0x0F0000 from the crossing record
    EXPECT_FALSE(m_image.HoldsDataIn(0x0F0001, 0x100000));
    EXPECT_TRUE(m_image.HoldsDataIn(0x0C0000, 0x0C0001));
    EXPECT_FALSE(m_image.HoldsDataIn(0x0C0001, 0x0EFFFE));
    ASSERT_EQ(Load(Record(0, 0, {}) + "\n" + Record(9, 0, {}) + "\n"), 1);
    EXPECT_FALSE(m_image.HoldsDataIn(0, CMotFile::kAddressLimit));
}

TEST_F(MotFileLoad, bad_data_byte_refuses_the_file_and_keeps_the_blank_page)
{
    EXPECT_EQ(Load(Record(2, 0x0F0000, {0x11}) + "\n" + "S2060F01001G22AA\n" + Record(2, 0x0F0200, {0x33}) +
                   "\n" + Record(9, 0, {}) + "\n"),
              0);
    ExpectOneRefusal();
    EXPECT_EQ(PageAt(0x0F00)[0], 0x11);
    EXPECT_EQ(PageAt(0x0F01), Blank()) << "the refused record's page must exist, blank";
    EXPECT_FALSE(m_image.HasPage(0x0F02));
}

TEST_F(MotFileLoad, line_shorter_than_its_count_is_refused)
{
    EXPECT_EQ(Load("S2100F0000010203\n" + Record(9, 0, {}) + "\n"), 0);
    ExpectOneRefusal();
    EXPECT_EQ(PageAt(0x0F00), Blank());
}

TEST_F(MotFileLoad, count_below_type_plus_two_is_refused)
{
    // Count 1 on an S1 record wraps to 255 data bytes the line does not have.
    EXPECT_EQ(Load("S1010100AA\n" + Record(9, 0, {}) + "\n"), 0);
    ExpectOneRefusal();
}

TEST_F(MotFileLoad, count_that_is_not_hexadecimal_is_refused)
{
    for (const std::string& bad : {std::string("S1XX0700AABB"), std::string("S1"), std::string("S10")}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(Load(bad + "\n" + Record(9, 0, {}) + "\n"), 0);
        ExpectOneRefusal();
        EXPECT_FALSE(m_image.IsWhole());
    }
}

TEST_F(MotFileLoad, address_that_is_not_hexadecimal_is_refused_instead_of_landing_at_zero)
{
    EXPECT_EQ(Load(Record(2, 0x0F0000, {0x11}) + "\n" + "S2060F0G00AA00\n" + Record(9, 0, {}) + "\n"), 0);
    ExpectOneRefusal();
    EXPECT_FALSE(m_image.HasPage(0));
    EXPECT_EQ(PageAt(0x0F00)[0], 0x11);
}

TEST_F(MotFileLoad, data_at_or_beyond_16_mib_is_refused)
{
    EXPECT_EQ(Load(Record(2, 0x0F0000, {0x11}) + "\n" + Record(3, 0x01000000, {1, 2}) + "\n" +
                   Record(9, 0, {}) + "\n"),
              0);
    ExpectOneRefusal();
    EXPECT_EQ(PageCount(), 1u);

    EXPECT_EQ(Load(Record(2, 0xFFFFF0, Counting(32)) + "\n" + Record(9, 0, {}) + "\n"), 0);
    ExpectOneRefusal();
    EXPECT_EQ(PageCount(), 0u) << "nothing of a refused record may be written";

    EXPECT_EQ(Load(Record(3, 0xFFFFFFF0, {1}) + "\n"), 0);
    ExpectOneRefusal();
}

TEST_F(MotFileLoad, data_ending_exactly_at_the_top_of_the_address_space_is_accepted)
{
    EXPECT_EQ(Load(Record(3, 0x00FFFFF0, Counting(16)) + "\n" + Record(7, 0, {}) + "\n"), 1);
    EXPECT_EQ(PageAt(0xFFFF)[0xFF], 15);
    EXPECT_FALSE(m_image.Refusal());
}

TEST_F(MotFileLoad, refusal_names_the_line_and_why)
{
    const std::string data = Record(2, 0x0F0000, {0x11});
    const std::string end = Record(9, 0, {});
    const struct
    {
        std::string content, text;
    } cases[] = {
        {data + "\n\n" + data.substr(0, data.size() - 2) + "00\n" + end + "\n",
         "line 3: checksum does not match"},
        {data + "\n" + data + "\n", "line 3: the file ends without its end record"},
        {"\xEF\xBB\xBF" + data + "\n", "line 1: not an S-record"},
        {data + "\n" + Record(5, 2, {}) + "\n" + end + "\n",
         "line 2: record count does not match the data records"},
        {Record(3, 0x01000000, {1}) + "\n", "line 1: address beyond the 16 MiB address space"},
        {data + "00\n", "line 1: record length does not match its count"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.content);
        EXPECT_EQ(Load(test.content), 0);
        ASSERT_TRUE(m_image.Refusal());
        EXPECT_EQ(m_image.Refusal()->Text(), test.text);
    }
    EXPECT_EQ(m_image.LoadFile(m_dir.string()), 0);
    EXPECT_EQ(m_image.Refusal()->Text(), "not a regular file");
    EXPECT_EQ(Load(data + "\n" + end + "\n"), 1);
    EXPECT_FALSE(m_image.Refusal()) << "a whole load keeps no refusal of the one before";
}

TEST_F(MotFileLoad, reload_replaces_the_whole_image)
{
    Load(Record(2, 0x0F0000, {1}) + "\n" + Record(2, 0x0F1000, {2}) + "\nS9030000FC\n");
    ASSERT_EQ(PageCount(), 2u);
    EXPECT_EQ(Load(Record(2, 0x0F1001, {3}) + "\nS9030000FC\n"), 1);
    EXPECT_EQ(PageCount(), 1u);
    Page page = PageAt(0x0F10);
    EXPECT_EQ(page[0], 0xFF) << "a byte of the previous file survived";
    EXPECT_EQ(page[1], 3);
}

TEST_F(MotFileLoad, missing_file_throws_file_not_found_and_leaves_the_image_empty)
{
    Load(Record(2, 0x0F0000, {1}) + "\n" + Record(9, 0, {}) + "\n");
    const std::string path = (m_dir / "no-such.mot").string();
    try {
        m_image.LoadFile(path);
        FAIL() << "no exception";
    } catch (const CFileException& error) {
        EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
        EXPECT_EQ(error.m_strFileName, path);
    }
    EXPECT_EQ(PageCount(), 0u);
    EXPECT_FALSE(m_image.Refusal());
    EXPECT_FALSE(m_image.IsWhole());
}

TEST_F(MotFileLoad, paths_that_are_no_regular_file_are_refused_without_blocking)
{
    const std::string fifo = (m_dir / "pipe.mot").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {m_dir.string(), fifo, std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(m_image.LoadFile(path), 0);
        ExpectOneRefusal();
        EXPECT_FALSE(m_image.IsWhole());
    }
}

TEST_F(MotFileLoad, line_longer_than_any_record_is_refused)
{
    // The longest record with a carriage return is accepted; one character more is not.
    const std::string longest = Record(1, 0x0600, Counting(252));
    ASSERT_EQ(longest.size(), 514u);
    EXPECT_EQ(Load(longest + "\r\n" + Record(9, 0, {}) + "\n"), 1);
    EXPECT_TRUE(m_image.IsWhole());
    for (size_t tail : {size_t{1}, size_t{3} << 20}) {
        SCOPED_TRACE(tail);
        EXPECT_EQ(Load(longest + std::string(tail, '0') + "\n" + Record(9, 0, {}) + "\n"), 0);
        ExpectOneRefusal();
    }
}

TEST_F(MotFileLoad, whole_address_space_loads_completely)
{
    // 40 MB of S2 records: also crosses many read-block boundaries mid-line.
    std::string content;
    content.reserve(41u << 20);
    for (uint32_t address = 0; address < CMotFile::kAddressLimit; address += 32) {
        std::vector<uint8_t> bytes(32);
        for (uint32_t i = 0; i < 32; ++i)
            bytes[i] = static_cast<uint8_t>((address + i) * 7 + ((address + i) >> 8));
        content += Record(2, address, bytes);
        content += "\r\n";
    }
    content += "S804000000FB\r\n";
    ASSERT_EQ(Load(content), 1);
    ASSERT_EQ(PageCount(), CMotFile::kPageCount);
    for (uint32_t index = 0; index < CMotFile::kPageCount; index += 257) {
        Page page = PageAt(index);
        for (uint32_t i = 0; i < 256; ++i) {
            const uint32_t address = index * 256 + i;
            ASSERT_EQ(page[i], static_cast<uint8_t>(address * 7 + (address >> 8))) << std::hex << address;
        }
    }
}

class MotFilePages : public testing::Test
{
protected:
    CMotFile m_image;
};

TEST_F(MotFilePages, absent_page_leaves_the_buffer_untouched)
{
    Page buffer;
    for (int i = 0; i < 256; ++i)
        buffer[i] = static_cast<uint8_t>(i ^ 0x5C);
    const Page before = buffer;
    EXPECT_EQ(m_image.GetPage(buffer.data(), 0x0F00), nullptr);
    EXPECT_EQ(m_image.GetPage(buffer.data(), CMotFile::kPageCount), nullptr);
    EXPECT_EQ(m_image.GetPage(buffer.data(), 0xFFFFFFFF), nullptr);
    EXPECT_EQ(buffer, before);
    EXPECT_FALSE(m_image.HasPage(CMotFile::kPageCount));
}

TEST(LineImage, starts_blank_and_copies_at_the_offset_of_the_address)
{
    CLineImage page;
    Page out;
    EXPECT_EQ(page.GetData(out.data()), 256);
    EXPECT_EQ(out, Blank());
    const uint8_t bytes[] = {1, 2, 3};
    EXPECT_EQ(page.SetData(bytes, 0x0F01FD, 3), 1);
    page.GetData(out.data());
    EXPECT_EQ(out[0xFC], 0xFF);
    EXPECT_EQ(out[0xFD], 1);
    EXPECT_EQ(out[0xFF], 3);
    page.Fill();
    page.GetData(out.data());
    EXPECT_EQ(out, Blank());
}

TEST(MotFileRecord, hex_digits_of_both_cases_and_nothing_else)
{
    EXPECT_EQ(CMotFile::HexCharValue('0'), 0);
    EXPECT_EQ(CMotFile::HexCharValue('9'), 9);
    EXPECT_EQ(CMotFile::HexCharValue('a'), 10);
    EXPECT_EQ(CMotFile::HexCharValue('F'), 15);
    for (char c : {'G', 'g', ' ', '\0', '/', ':', '@', '`', '\xFF'})
        EXPECT_EQ(CMotFile::HexCharValue(c), 0xFF) << c;

    uint8_t place = 0xFF;
    EXPECT_EQ(CMotFile::HexPairToByte(place, 'a', '7'), 1);
    EXPECT_EQ(place, 0xA7);
    EXPECT_EQ(CMotFile::HexPairToByte(place, '1', '2'), 0) << "a byte place not preset to 0xFF is kept";
    EXPECT_EQ(place, 0xA7);
    place = 0xFF;
    EXPECT_EQ(CMotFile::HexPairToByte(place, '1', 'x'), 0);
    EXPECT_EQ(place, 0xFF);
}

TEST(MotFileRecord, fields_of_a_line)
{
    EXPECT_EQ(CMotFile::GetRecordType("S2070F0000AABBCC00"), 2);
    EXPECT_EQ(CMotFile::GetRecordType("SA"), 10);
    EXPECT_EQ(CMotFile::GetRecordType("S"), 0xFF);
    EXPECT_EQ(CMotFile::GetDataLength("S2070F0000AABBCC00"), 3);
    EXPECT_EQ(CMotFile::GetDataLength("S1010100"), 254);
    EXPECT_EQ(CMotFile::GetDataLength("S1Z10100"), 0);
    EXPECT_EQ(CMotFile::GetAddress("S1051234AA00"), 0x1234u);
    EXPECT_EQ(CMotFile::GetAddress("S2060F1234AA00"), 0x0F1234u);
    EXPECT_EQ(CMotFile::GetAddress("S307FF0F1234AA00"), 0xFF0F1234u);
    EXPECT_EQ(CMotFile::GetAddress("S2060F12G4AA00"), 0u);

    uint8_t buffer[256];
    std::memset(buffer, 0xFF, sizeof buffer);
    EXPECT_EQ(CMotFile::ParseData("S2070F0000AABBCC00", buffer), 1);
    EXPECT_EQ(buffer[0], 0xAA);
    EXPECT_EQ(buffer[2], 0xCC);
    EXPECT_EQ(buffer[3], 0xFF);
    EXPECT_EQ(CMotFile::ParseData("s2070F0000AABBCC00", buffer), 0);
    EXPECT_EQ(CMotFile::ParseData("S5030003", buffer), 1);

    EXPECT_EQ(CMotFile::IsPageCrossing("S2050F00FFAA00"), 0);
    EXPECT_EQ(CMotFile::IsPageCrossing("S2060F00FFAABB00"), 1);
    EXPECT_EQ(CMotFile::IsPageCrossing("S2040F00FF00"), 0);
}

} // namespace
