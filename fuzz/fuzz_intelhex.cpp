// libFuzzer target: any bytes as an Intel HEX upgrade, then every page read back.
#include <cstdint>
#include <cstdlib>

#include "image/IntelHexFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CMotFile image;
    const auto refusal = LoadIntelHex({data, size}, image);
    if (refusal ? image.IsWhole() || refusal->reason.empty() : !image.IsWhole()) std::abort();
    uint8_t page[256];
    for (uint32_t index = 0; index < CMotFile::kPageCount; ++index)
        image.GetPage(page, index);
    return 0;
}
