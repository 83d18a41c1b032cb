#pragma once
// Every upgrade format, in one table: how a file's content tells its format, how it is
// read into the image, how flash bytes are written as such a file, and the names that
// choose it for writing. A new format is one file of its own and one line in the table.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/ImageRefusal.h"

class CMotFile;

struct UpgradeFormat
{
    std::string_view name; // as the user is told it: "S-records"
    // True when the bytes are of this format by their content. A format that needs a base
    // address is never told by its content: the base says it.
    bool (*tells)(std::span<const uint8_t> bytes);
    // Fills image with the whole file; nothing when read whole, else why not (the line
    // named). base is given exactly when the format needs one.
    std::optional<ImageRefusal> (*read)(std::span<const uint8_t> bytes, std::optional<uint32_t> base,
                                        CMotFile& image);
    // The bytes of flash from start, as a file of this format.
    std::string (*write)(uint32_t start, const std::vector<uint8_t>& bytes);
    // Lower case, with the dot: a file written under such a name takes this format.
    std::vector<std::string_view> extensions;
    bool needsBase = false;
};

const std::vector<const UpgradeFormat*>& UpgradeFormats();

// The format that reads these bytes: the one that needs a base when a base is given, else
// the one the content tells. Content that no format tells goes to the S-record reader,
// whose refusal names the first line.
const UpgradeFormat& ReaderFor(std::span<const uint8_t> bytes, std::optional<uint32_t> base);

// The reader of last resort, and the only one that reads as the file comes.
const UpgradeFormat& SRecordFormat();

// The format a file of this name is written in: by its extension, S-records otherwise.
const UpgradeFormat& WriterFor(std::string_view path);

// The first byte that is not a line end, or nothing: both text readers pass over empty
// lines, so a file may start with line ends.
std::optional<uint8_t> FirstMark(std::span<const uint8_t> bytes);
