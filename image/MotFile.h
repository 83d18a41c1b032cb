#pragma once
// The memory image: the 24-bit flash address space as 65,536 pages of 256 bytes,
// filled from a Motorola S-record file (or by the Intel HEX and binary readers beside
// it). Pages exist only where the file put data.
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "image/ImageRefusal.h"
#include "image/LineImage.h"

struct UpgradeFormat;

class CMotFile
{
public:
    static constexpr uint32_t kPageCount = 65536;
    static constexpr uint32_t kAddressLimit = kPageCount * CLineImage::kSize; // 0x1000000

    CMotFile();
    virtual ~CMotFile();
    CMotFile(const CMotFile&) = delete;
    CMotFile& operator=(const CMotFile&) = delete;

    // Replaces the whole image with the file's records. 1 when an end record (S7, S8,
    // S9) was reached, 0 otherwise; pages built before a stop stay. Throws
    // CFileException (platform/TextFile.h) when the file cannot be opened or read.
    // The file is refused, with the reason and line in Refusal(), when a record is bad
    // (digits, length or checksum), a record's line is longer or shorter than its count
    // says, an S5 record's count is not the number of data records, a line is not a
    // record or is the reserved S4, two records give one address different bytes, the
    // end record is missing or text follows it, or the path is not a regular file.
    int LoadFile(const std::string& fileName);
    // The same for a file's bytes already in memory (one read that was also hashed).
    int LoadBytes(std::string_view bytes);

    // What the last load left: no load yet, a refused or cut-short load, or a whole one
    // (an end record reached with nothing refused). Flash may be written only from a
    // whole image.
    enum class LoadState { None, Refused, Whole };
    LoadState GetLoadState() const { return m_loadState; }
    bool IsWhole() const { return m_loadState == LoadState::Whole; }
    // Why the last load was refused; nothing after a whole load, or one cut short by an
    // exception.
    const std::optional<ImageRefusal>& Refusal() const { return m_refusal; }

    // The page at index with its 256 bytes copied to destination, or nullptr (absent
    // page or index beyond 65535) with destination untouched.
    CLineImage* GetPage(uint8_t* destination, uint32_t index);
    const CLineImage* GetPage(uint8_t* destination, uint32_t index) const;
    bool HasPage(uint32_t index) const;
    void Clear();

    // True when a data record of the last load put at least one byte into [start, end).
    // A page present only because of a record without data holds no byte.
    bool HoldsDataIn(uint32_t start, uint32_t end) const;
    // The ranges [start, end) that data records of the last load filled, in address order,
    // touching or overlapping ones joined.
    std::vector<std::pair<uint32_t, uint32_t>> FilledRanges() const;

    // Record operations on one line of text (line feed and carriage return removed).
    static uint8_t HexCharValue(char c); // 0..15, or 0xFF for a non-hex character
    // Stores the pair's value in place only when place holds 0xFF and both characters
    // are hex digits; returns 1 then, else 0.
    static int HexPairToByte(uint8_t& place, char high, char low);
    static uint8_t GetRecordType(std::string_view line);          // 0..15 or 0xFF
    static uint8_t GetDataLength(std::string_view line);          // (count - type - 2) mod 256
    static uint32_t GetAddress(std::string_view line);            // 0 when not hexadecimal
    static int ParseData(std::string_view line, uint8_t* buffer); // buffer of 256 bytes
    static int IsPageCrossing(std::string_view line);

    // For the readers of the other upgrade formats: a load begun empties the image and
    // counts as refused until it is ended whole. PutData's bytes end at or below
    // kAddressLimit (the reader checks). It puts nothing and returns false when a byte
    // that this load already set would change: a merge mistake must never flash whichever
    // record came last. The same byte set twice is no conflict.
    void BeginLoad();
    [[nodiscard]] bool PutData(uint32_t address, const uint8_t* data, uint32_t length);
    static constexpr const char* kOverlapReason = "another record gave these addresses other bytes";
    void EndLoadWhole() { m_loadState = LoadState::Whole; }
    // A file refused outside this reader (its signature, another format's reader): the
    // image emptied and refused for that reason.
    void RefuseLoad(ImageRefusal refusal);

private:
    CLineImage& Touch(uint32_t index);
    enum class LineOutcome { Next, Stop };
    LineOutcome LoadLine(std::string_view line);
    LineOutcome Refuse(std::string reason); // about the line just read
    int RefuseWhole(std::string reason);
    int RefuseCutShort();
    int ReadRecords(const std::string& fileName);
    // The rest of an open file that turned out to be of another format (its first bytes
    // already in buffer[begin, end)); 1 when read whole, else 0 with the file refused.
    int ReadWholeAs(const UpgradeFormat& format, std::FILE* file, const std::string& fileName,
                    std::vector<char>& buffer, size_t begin, size_t end);
    // Far above any upgrade file for the 16 MiB address space.
    static constexpr size_t kLargestWholeRead = 64 * 1024 * 1024;

    void NoteData(uint32_t address, uint32_t length);

    std::vector<std::unique_ptr<CLineImage>> m_pages;
    // Which bytes of each page this load set, beside the page itself.
    using SetMask = std::array<uint64_t, CLineImage::kSize / 64>;
    std::vector<std::unique_ptr<SetMask>> m_set;
    // Address ranges that records filled, in file order, touching neighbours merged.
    std::vector<std::pair<uint32_t, uint32_t>> m_filled;
    uint32_t m_dataRecords = 0; // for the S5 record's count
    size_t m_lineNumber = 0;    // of the line read last
    bool m_ended = false;       // the end record was read
    std::optional<ImageRefusal> m_refusal;
    LoadState m_loadState = LoadState::None;
};
