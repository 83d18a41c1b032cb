// libFuzzer target: any bytes as an upgrade file, then every page read back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "image/MotFile.h"
#include "platform/TextFile.h"

namespace {

const std::string& ScratchPath()
{
    static const std::string path = [] {
        std::string pattern = "/tmp/fuzz-motfile-XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd < 0) std::abort();
        close(fd);
        return pattern;
    }();
    return path;
}

void ScanAllPages(CMotFile& image)
{
    uint8_t page[256];
    for (uint32_t index = 0; index < CMotFile::kPageCount; ++index)
        image.GetPage(page, index);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CMotFile image;
    const std::string& path = ScratchPath();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (size) std::fwrite(data, 1, size, file);
    std::fclose(file);

    try {
        const int result = image.LoadFile(path);
        if (result != 0 && result != 1) std::abort();
    } catch (const CFileException&) {
        std::abort(); // the file was just written: it must be readable
    }
    ScanAllPages(image);
    unlink(path.c_str()); // written afresh for every input; nothing left behind at exit
    return 0;
}
