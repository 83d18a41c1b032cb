#include "image/LineImage.h"

#include <cstring>

void CLineImage::Fill()
{
    std::memset(data, kBlank, kSize);
}

int CLineImage::SetData(const uint8_t* source, uint32_t address, uint32_t count)
{
    std::memcpy(data + (address % kSize), source, count);
    return 1;
}

int CLineImage::GetData(uint8_t* destination) const
{
    std::memcpy(destination, data, kSize);
    return kSize;
}
