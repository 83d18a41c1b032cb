#pragma once
// One 256-byte page of the memory image; bytes the upgrade file never sets read as
// erased flash.
#include <cstdint>

class CLineImage
{
public:
    static constexpr uint32_t kSize = 256;
    static constexpr uint8_t kBlank = 0xFF;

    CLineImage() { Fill(); }
    virtual ~CLineImage() = default;

    void Fill();
    // Copies count bytes to the page from offset address mod 256; the caller keeps
    // offset + count within the page. Returns 1.
    int SetData(const uint8_t* source, uint32_t address, uint32_t count);
    // Copies the whole page into a 256-byte buffer; returns 256.
    int GetData(uint8_t* destination) const;

    uint8_t data[kSize];
};
