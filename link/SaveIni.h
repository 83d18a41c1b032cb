#pragma once
// The remembered communication state, section "Last Comm State" of the settings file.
#include <cstdint>

#include "platform/ProfileIni.h"
#include "platform/WinTypes.h"

class CSaveIni
{
public:
    CSaveIni() = default;
    virtual ~CSaveIni() = default;

    void Set(uint32_t baudRate, uint8_t byteSize, uint8_t parity, uint8_t stopBits);
    void Get(uint32_t& baudRate, uint8_t& byteSize, uint8_t& parity, uint8_t& stopBits) const;
    BOOL Load();
    platform::ProfileWrite Save();
    int GetPageReadTimeout(int defaultValue);

    uint32_t m_dwBaudRate = 0;
    uint8_t m_byByteSize = 0;
    uint8_t m_byParity = 0;
    uint8_t m_byStopBits = 0;
};
