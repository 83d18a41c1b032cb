#include "upgrade/ImageStatement.h"

#include <cstdio>

#include "image/LineImage.h"
#include "image/MotFile.h"
#include "platform/Sha256.h"

namespace upgrade {

std::string ImageStatement(const CMotFile& image)
{
    std::string statement = "torvane image 1\n";
    std::string bytes;
    for (const auto& [start, end] : image.FilledRanges()) {
        char line[40];
        std::snprintf(line, sizeof line, "range %06X-%06X\n", static_cast<unsigned>(start),
                      static_cast<unsigned>(end - 1));
        statement += line;
        uint8_t page[CLineImage::kSize];
        for (uint32_t at = start; at < end;) {
            const uint32_t offset = at % CLineImage::kSize;
            const uint32_t part = std::min(end - at, CLineImage::kSize - offset);
            if (!image.GetPage(page, at / CLineImage::kSize))
                std::fill(std::begin(page), std::end(page), 0xFF);
            bytes.append(reinterpret_cast<const char*>(page) + offset, part);
            at += part;
        }
    }
    return statement + "sha256 " + platform::Sha256Of(bytes) + "\n";
}

} // namespace upgrade
