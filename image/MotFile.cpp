#include "image/MotFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <utility>

#include "image/IntelHexFormat.h"
#include "image/UpgradeFormats.h"
#include "platform/TextFile.h"

namespace {

constexpr uint8_t kNotHex = 0xFF;
constexpr size_t kReadChunk = 1 << 20;
constexpr size_t kSmallestRead = 4096;
constexpr size_t kTypeChar = 1;
constexpr size_t kCountChar = 2;
constexpr size_t kAddressChar = 4;
// "S", type, then count and 255 counted bytes: no record is longer.
constexpr size_t kLongestRecord = 4 + 2 * 255;

constexpr std::array<uint8_t, 256> kHexValues = [] {
    std::array<uint8_t, 256> table{};
    table.fill(kNotHex);
    for (int i = 0; i < 10; ++i)
        table['0' + i] = static_cast<uint8_t>(i);
    for (int i = 0; i < 6; ++i) {
        table['a' + i] = static_cast<uint8_t>(10 + i);
        table['A' + i] = static_cast<uint8_t>(10 + i);
    }
    return table;
}();

const char* const kLengthMismatch = "record length does not match its count";
const char* const kNoEndRecord = "the file ends without its end record";

bool IsDataType(uint8_t type)
{
    return type >= 1 && type <= 3;
}
bool IsEndType(uint8_t type)
{
    return type >= 7 && type <= 9;
}
bool IsRecordCountType(uint8_t type)
{
    return type == 5 || type == 6;
}
// Records whose every character the count accounts for: letters are no record type, so
// those lines stay skipped as they are.
bool IsCountedType(uint8_t type)
{
    return type <= 9;
}
constexpr uint8_t kReservedType = 4;

// One's complement of the low byte of the sum of the count and every following byte
// before the checksum; the line's length has already been checked against its count.
bool LineChecksumMatches(std::string_view line)
{
    unsigned sum = 0;
    uint8_t byte = 0xFF;
    for (size_t at = 2; at + 2 < line.size(); at += 2, byte = 0xFF) {
        if (!CMotFile::HexPairToByte(byte, line[at], line[at + 1])) return false;
        sum += byte;
    }
    byte = 0xFF;
    return CMotFile::HexPairToByte(byte, line[line.size() - 2], line[line.size() - 1]) &&
           static_cast<uint8_t>(~sum) == byte;
}

// The number an S5 or S6 record states: every byte between its count and its checksum.
std::optional<uint32_t> StatedRecordCount(std::string_view line)
{
    uint32_t value = 0;
    for (size_t at = 4; at + 2 < line.size(); at += 2) {
        uint8_t byte = 0xFF;
        if (!CMotFile::HexPairToByte(byte, line[at], line[at + 1]) || value > 0xFFFFFF) return std::nullopt;
        value = value * 256 + byte;
    }
    return value;
}

std::optional<uint32_t> ReadAddress(std::string_view line, uint8_t type)
{
    const size_t pairs = size_t{type} + 1;
    if (line.size() < kAddressChar + 2 * pairs) return std::nullopt;
    uint32_t address = 0;
    for (size_t i = 0; i < pairs; ++i) {
        uint8_t byte = 0xFF;
        const size_t pos = kAddressChar + 2 * i;
        if (!CMotFile::HexPairToByte(byte, line[pos], line[pos + 1])) return std::nullopt;
        address = address * 256 + byte;
    }
    return address;
}

// The record's checksum: the one's complement of the low byte of the sum of the count,
// address and data bytes. False when it is missing, not hexadecimal or wrong.
bool ChecksumMatches(std::string_view line, uint8_t type, uint8_t count, uint32_t address,
                     const uint8_t* data, uint8_t length)
{
    const size_t at = 2 * size_t{type} + 6 + 2 * size_t{length};
    if (line.size() < at + 2) return false;
    uint8_t stated = 0xFF;
    if (!CMotFile::HexPairToByte(stated, line[at], line[at + 1])) return false;
    unsigned sum = count;
    for (unsigned i = 0; i <= type; ++i)
        sum += (address >> (8 * i)) & 0xFF;
    for (unsigned i = 0; i < length; ++i)
        sum += data[i];
    return static_cast<uint8_t>(~sum) == stated;
}

} // namespace

CMotFile::CMotFile() : m_pages(kPageCount), m_set(kPageCount) {}

CMotFile::~CMotFile() = default;

void CMotFile::Clear()
{
    for (auto& page : m_pages)
        page.reset();
    for (auto& mask : m_set)
        mask.reset();
    m_filled.clear();
    m_ended = false;
    m_dataRecords = 0;
    m_lineNumber = 0;
    m_refusal.reset();
}

void CMotFile::NoteData(uint32_t address, uint32_t length)
{
    const uint32_t end = address + length;
    if (!m_filled.empty() && m_filled.back().second == address)
        m_filled.back().second = end;
    else
        m_filled.emplace_back(address, end);
}

bool CMotFile::HoldsDataIn(uint32_t start, uint32_t end) const
{
    return std::any_of(m_filled.begin(), m_filled.end(),
                       [&](const auto& span) { return span.first < end && start < span.second; });
}

std::vector<std::pair<uint32_t, uint32_t>> CMotFile::FilledRanges() const
{
    std::vector<std::pair<uint32_t, uint32_t>> sorted = m_filled;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::pair<uint32_t, uint32_t>> joined;
    for (const auto& span : sorted) {
        if (!joined.empty() && span.first <= joined.back().second)
            joined.back().second = std::max(joined.back().second, span.second);
        else
            joined.push_back(span);
    }
    return joined;
}

bool CMotFile::HasPage(uint32_t index) const
{
    return index < kPageCount && m_pages[index];
}

CLineImage* CMotFile::GetPage(uint8_t* destination, uint32_t index)
{
    return const_cast<CLineImage*>(std::as_const(*this).GetPage(destination, index));
}

const CLineImage* CMotFile::GetPage(uint8_t* destination, uint32_t index) const
{
    if (!HasPage(index)) return nullptr;
    const CLineImage* page = m_pages[index].get();
    page->GetData(destination);
    return page;
}

CLineImage& CMotFile::Touch(uint32_t index)
{
    auto& slot = m_pages[index];
    if (!slot) slot = std::make_unique<CLineImage>();
    return *slot;
}

uint8_t CMotFile::HexCharValue(char c)
{
    return kHexValues[static_cast<unsigned char>(c)];
}

int CMotFile::HexPairToByte(uint8_t& place, char high, char low)
{
    const uint8_t h = HexCharValue(high);
    const uint8_t l = HexCharValue(low);
    if (place != 0xFF || h == kNotHex || l == kNotHex) return 0;
    place = static_cast<uint8_t>(h * 16 + l);
    return 1;
}

uint8_t CMotFile::GetRecordType(std::string_view line)
{
    return line.size() > kTypeChar ? HexCharValue(line[kTypeChar]) : kNotHex;
}

uint8_t CMotFile::GetDataLength(std::string_view line)
{
    uint8_t count = 0xFF;
    if (line.size() < kCountChar + 2 || !HexPairToByte(count, line[kCountChar], line[kCountChar + 1]))
        return 0;
    return static_cast<uint8_t>(count - GetRecordType(line) - 2);
}

uint32_t CMotFile::GetAddress(std::string_view line)
{
    return ReadAddress(line, GetRecordType(line)).value_or(0);
}

int CMotFile::ParseData(std::string_view line, uint8_t* buffer)
{
    if (line.empty() || line[0] != 'S') return 0;
    const uint8_t type = GetRecordType(line);
    const uint8_t length = GetDataLength(line);
    if (!IsDataType(type) || length == 0) return 1;
    const size_t first = 2 * size_t{type} + 6;
    const size_t available = line.size() > first ? (line.size() - first) / 2 : 0;
    const size_t pairs = std::min<size_t>(length, available);
    const char* pair = line.data() + first;
    for (size_t i = 0; i < pairs; ++i, pair += 2)
        if (!HexPairToByte(buffer[i], pair[0], pair[1])) return 0;
    return pairs == length ? 1 : 0; // a line ending inside the data is refused too
}

int CMotFile::IsPageCrossing(std::string_view line)
{
    const uint8_t length = GetDataLength(line);
    if (length == 0) return 0;
    const uint64_t first = GetAddress(line);
    const uint64_t last = first + length - 1;
    return (first / CLineImage::kSize) != (last / CLineImage::kSize) ? 1 : 0;
}

CMotFile::LineOutcome CMotFile::LoadLine(std::string_view line)
{
    ++m_lineNumber;
    if (line.empty()) return LineOutcome::Next;
    // Two files pasted together would otherwise flash only the first, silently.
    if (m_ended) return Refuse("text after the end record");
    // A byte-order mark, a leading space or a lower-case "s" would otherwise end the
    // load silently with the rest of the upgrade missing.
    if (line[0] != 'S') return Refuse("not an S-record");
    if (line.size() > kLongestRecord) return Refuse("longer than any record");
    const uint8_t type = GetRecordType(line);
    if (type == kReservedType) return Refuse("S4 is a reserved record type");
    if (!IsCountedType(type)) return LineOutcome::Next;
    // Text after the checksum, or a line shorter than its count, is not a record that a
    // tool wrote: a file damaged or edited by hand, refused rather than half believed.
    uint8_t count = 0xFF;
    if (line.size() < kCountChar + 2 || !HexPairToByte(count, line[kCountChar], line[kCountChar + 1]))
        return Refuse("not a hexadecimal digit");
    const bool lengthMatches = line.size() == kAddressChar + 2 * size_t{count};
    if (!lengthMatches && !IsDataType(type)) return Refuse(kLengthMismatch);
    if (!IsDataType(type) && !LineChecksumMatches(line)) return Refuse("checksum does not match");
    if (IsEndType(type)) {
        m_ended = true;
        return LineOutcome::Next;
    }
    if (IsRecordCountType(type)) {
        // A count that differs from the data records read means records were lost or added.
        const std::optional<uint32_t> stated = StatedRecordCount(line);
        if (count < 3 || !LineChecksumMatches(line) || !stated) return Refuse("malformed record count");
        if (*stated != m_dataRecords) return Refuse("record count does not match the data records");
        return LineOutcome::Next;
    }
    if (!IsDataType(type)) return LineOutcome::Next;
    ++m_dataRecords;

    // A garbled address would otherwise put the data at 0, and data at or past 16 MiB
    // has no page to go to: both files are refused rather than half-loaded wrongly.
    const std::optional<uint32_t> address = ReadAddress(line, type);
    const uint8_t length = GetDataLength(line);
    if (!address) return Refuse("not a hexadecimal digit");
    if (*address >= kAddressLimit || uint64_t{*address} + length > kAddressLimit)
        return Refuse("address beyond the 16 MiB address space");

    const uint32_t index = *address / CLineImage::kSize;
    CLineImage& page = Touch(index);
    uint8_t work[CLineImage::kSize];
    std::memset(work, 0xFF, sizeof work);
    if (!lengthMatches) return Refuse(kLengthMismatch);
    if (!ParseData(line, work)) return Refuse("not a hexadecimal digit");
    if (!ChecksumMatches(line, type, count, *address, work, length)) return Refuse("checksum does not match");
    if (!PutData(*address, work, length)) return Refuse(kOverlapReason);
    return LineOutcome::Next;
}

void CMotFile::BeginLoad()
{
    m_loadState = LoadState::Refused;
    Clear();
}

bool CMotFile::PutData(uint32_t address, const uint8_t* data, uint32_t length)
{
    if (length == 0) return true;
    for (uint32_t i = 0; i < length; ++i) {
        const uint32_t at = address + i;
        const SetMask* mask = m_set[at / CLineImage::kSize].get();
        const uint32_t offset = at % CLineImage::kSize;
        if (mask && ((*mask)[offset / 64] >> (offset % 64) & 1) &&
            m_pages[at / CLineImage::kSize]->data[offset] != data[i])
            return false;
    }
    NoteData(address, length);
    while (length > 0) {
        const uint32_t index = address / CLineImage::kSize;
        const uint32_t offset = address % CLineImage::kSize;
        const uint32_t part = std::min(length, CLineImage::kSize - offset);
        Touch(index).SetData(data, offset, part);
        auto& mask = m_set[index];
        if (!mask) mask = std::make_unique<SetMask>();
        for (uint32_t bit = offset; bit < offset + part; ++bit)
            (*mask)[bit / 64] |= uint64_t{1} << (bit % 64);
        address += part;
        data += part;
        length -= part;
    }
    return true;
}

CMotFile::LineOutcome CMotFile::Refuse(std::string reason)
{
    m_refusal = ImageRefusal{m_lineNumber, std::move(reason)};
    return LineOutcome::Stop;
}

int CMotFile::RefuseWhole(std::string reason)
{
    m_refusal = ImageRefusal{0, std::move(reason)};
    return 0;
}

int CMotFile::RefuseCutShort()
{
    m_refusal = ImageRefusal{m_lineNumber + 1, kNoEndRecord};
    return 0;
}

void CMotFile::RefuseLoad(ImageRefusal refusal)
{
    BeginLoad();
    m_refusal = std::move(refusal);
}

int CMotFile::LoadFile(const std::string& fileName)
{
    m_loadState = LoadState::Refused;
    Clear();
    const int result = ReadRecords(fileName);
    if (result == 1) m_loadState = LoadState::Whole;
    return result;
}

int CMotFile::LoadBytes(std::string_view bytes)
{
    m_loadState = LoadState::Refused;
    Clear();
    for (size_t begin = 0; begin < bytes.size();) {
        const size_t feed = bytes.find('\n', begin);
        const size_t stop = feed == std::string_view::npos ? bytes.size() : feed;
        std::string_view line = bytes.substr(begin, stop - begin);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        begin = stop + 1;
        if (LoadLine(line) == LineOutcome::Stop) return 0;
    }
    // Cut off part-way: what is missing would be left erased in the panel.
    if (!m_ended) return RefuseCutShort();
    m_loadState = LoadState::Whole;
    return 1;
}

int CMotFile::ReadRecords(const std::string& fileName)
{
    uint64_t size = 0;
    const platform::UniqueFile file = platform::OpenRegularFile(platform::CPath::FromUtf8(fileName), size);
    if (!file) return RefuseWhole("not a regular file");

    // Lines are cut out of large blocks in place: no copy and no allocation per line.
    // A small file gets a small buffer: the image is reloaded often in tests and fuzzing.
    const size_t expected = static_cast<size_t>(std::min<uint64_t>(size, kReadChunk)) + 1;
    std::vector<char> buffer(std::clamp(expected, kSmallestRead, kReadChunk));
    size_t begin = 0;
    size_t end = 0;
    bool atEof = false;
    bool judged = false;
    for (;;) {
        const char* base = buffer.data();
        const void* feed = std::memchr(base + begin, '\n', end - begin);
        if (feed || (atEof && begin < end)) {
            const size_t stop = feed ? static_cast<size_t>(static_cast<const char*>(feed) - base) : end;
            std::string_view line(base + begin, stop - begin);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            begin = feed ? stop + 1 : end;
            if (LoadLine(line) == LineOutcome::Stop) return 0;
            continue;
        }
        // Cut off part-way: what is missing would be left erased in the panel.
        if (atEof) return m_ended ? 1 : RefuseCutShort();
        if (end - begin > kLongestRecord + 1) { // +1 for a carriage return
            ++m_lineNumber;
            Refuse("longer than any record");
            return 0;
        }

        if (begin > 0) {
            std::memmove(buffer.data(), buffer.data() + begin, end - begin);
            end -= begin;
            begin = 0;
        }
        const size_t wanted = buffer.size() - end;
        errno = 0;
        const size_t got = std::fread(buffer.data() + end, 1, wanted, file.get());
        const int error = errno;
        end += got;
        if (got < wanted) {
            if (std::ferror(file.get())) throw CFileException::FromErrno(error ? error : EIO, fileName);
            atEof = true;
        }
        if (!judged) {
            const std::span<const uint8_t> read(reinterpret_cast<const uint8_t*>(buffer.data()) + begin,
                                                end - begin);
            const std::optional<uint8_t> mark = FirstMark(read);
            judged = mark.has_value();
            // The content tells the format, whatever the name: an Intel HEX file saved as
            // .mot is read as Intel HEX, from this same open file. Only S-records are read
            // as they come; any other format is read whole, then by its own reader.
            if (const UpgradeFormat& format = ReaderFor(read, std::nullopt);
                mark && &format != &SRecordFormat())
                return ReadWholeAs(format, file.get(), fileName, buffer, begin, end);
        }
    }
}

int CMotFile::ReadWholeAs(const UpgradeFormat& format, std::FILE* file, const std::string& fileName,
                          std::vector<char>& buffer, size_t begin, size_t end)
{
    std::string bytes(buffer.data() + begin, end - begin);
    for (;;) {
        errno = 0;
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
        const int error = errno;
        if (bytes.size() + got > kLargestWholeRead) return RefuseWhole("larger than 64 MiB");
        bytes.append(buffer.data(), got);
        if (got == buffer.size()) continue;
        if (std::ferror(file)) throw CFileException::FromErrno(error ? error : EIO, fileName);
        break;
    }
    if (auto refusal = format.read({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()},
                                   std::nullopt, *this)) {
        m_refusal = std::move(refusal);
        return 0;
    }
    return 1;
}
