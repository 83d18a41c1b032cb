#pragma once
#include <cstdint>

#include "link/IoController.h"

// Link settings record; codes as in the Win32 DCB (parity 0 none, stop bits 0 = one).
class CSerialCommState : public CIoState {
public:
    uint32_t m_dwBaudRate = 0;
    uint8_t m_byByteSize = 0;
    uint8_t m_byParity = 0;
    uint8_t m_byStopBits = 0;
};
