// libFuzzer target: any bytes as the ID file beside an upgrade file, read with both key
// sets (five- and six-digit) as "Load Upgrade File" reads it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "image/IdFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The ID bytes' addresses, as the string table holds them.
    static const IdFileKeys style0 = {"FFFDF", "FFFE3", "FFFEB", "FFFEF", "FFFF3", "FFFF7", "FFFFB"};
    static const IdFileKeys style1 = {"FFFFDF", "FFFFE3", "FFFFEB", "FFFFEF", "FFFFF3", "FFFFF7", "FFFFFB"};
    const std::string text(reinterpret_cast<const char*>(data), size);
    const IdFileTexts texts = ReadIdTexts(text, IdFileMarksStyle1(text) ? style1 : style0);
    // Every text is a byte's two characters, or empty where the file has no entry.
    for (const std::string& value : texts)
        if (!value.empty() && value.size() != 2) std::abort();
    return 0;
}
