#pragma once
// The flash seen through the commands' own page read: a range read into bytes (for
// read and --backup) and the whole-range compare with the image (for verify).
#include <cstdint>
#include <vector>

#include "commands/Command.h"

class CFlashAccess : public CCheckMemorryCmd
{
public:
    // Reads [start, end) page by page with a progress window; false when a page did not
    // come (the recovery has run) or the read was stopped.
    bool Read(uint32_t start, uint32_t end, std::vector<uint8_t>& bytes);
    // Every byte of [start, end) against the image (absent pages as erased); the first
    // difference is reported as the read-back command reports it.
    VerifyOutcome Compare(uint32_t start, uint32_t end);
    using CCheckMemorryCmd::VerifyOutcome;
};
