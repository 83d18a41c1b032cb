#pragma once
// Brings the link back into a known state: the "Set baudrate" dialog, both ends moved
// to the chosen rate, the rate remembered, the ID state learnt from the status register.
#include <cstdint>

#include "commands/Command.h"
#include "platform/ProfileIni.h"

class CSettingCmd : public CCommand {
public:
    uint32_t Run();

    // What follows the rate change once its result is known (link flag, settings file,
    // ID state). Also run by the recovery loop for every dialog it handed back.
    static uint32_t Conclude(uint32_t result, uint8_t byteSize, uint8_t parity, uint8_t stopBits);
};

// One line on the terminal when the settings file could not be written (no dialog can say it).
void ReportSettingsWriteFailure(const platform::ProfileWrite& written);
