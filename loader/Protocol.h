#pragma once
// The boot loader's protocol in numbers: every code the program sends, the waits
// between them, the status register's bits and the flash area that holds the firmware.
#include <cstdint>
#include <iterator>

// Every byte the program sends to the boot loader.
namespace bootcode {
constexpr uint8_t kSyncFiller = 0x00;
constexpr uint8_t kBaud9600 = 0xB0;
constexpr uint8_t kBaud19200 = 0xB1;
constexpr uint8_t kBaud38400 = 0xB2;
constexpr uint8_t kBaud57600 = 0xB3;
constexpr uint8_t kBaud115200 = 0xB4;
constexpr uint8_t kReadStatus = 0x70; // reply: SRD1, SRD2
constexpr uint8_t kClearStatus = 0x50;
constexpr uint8_t kLockBitDisable = 0x75;
constexpr uint8_t kEraseAll = 0xA7; // followed by kEraseConfirm
constexpr uint8_t kEraseConfirm = 0xD0;
constexpr uint8_t kPageProgram = 0x41; // + A8..A15, A16..A23, 256 data bytes
constexpr uint8_t kPageRead = 0xFF;    // + A8..A15, A16..A23; reply: 256 bytes
constexpr uint8_t kIdCheck = 0xF5;     // + 0xDF 0xFF 0x0F, 7, seven ID bytes
constexpr uint8_t kDownload = 0xFA;    // + size lo, size hi, checksum, pages
constexpr uint8_t kVersion = 0xFB;     // reply: 8 bytes of text
} // namespace bootcode

// Read time-outs and pauses of the exchanges.
namespace linktime {
constexpr uint32_t kNormalReadTimeout = 5000;
constexpr uint32_t kEraseStatusTimeout = 40000;
constexpr uint32_t kPageStatusTimeout = 150;
constexpr uint32_t kCommandPause = 50;     // between command bytes
constexpr uint32_t kSyncEdgePause = 50;    // before and after the synchronisation fillers
constexpr uint32_t kCodeSettleTime = 1000; // after each acknowledged baud-rate code
constexpr uint32_t kDefaultPagePause = 40; // between a page frame and its status read
// The page pauses a technician may choose ("Set baudrate", --page-pause).
constexpr uint32_t kPagePauses[] = {5, 10, 15, 20, 25, 30, 35, 40, 45, 50};
constexpr uint32_t kAdapterFlushTime = 20; // longer than a USB adapter's 16 ms latency timer
} // namespace linktime

constexpr uint32_t kPageSize = 256;
constexpr uint32_t kProgressStepBytes = 500; // progress bars count in 500-byte steps

// Status register bits.
namespace status {
constexpr uint8_t kSrd1Ready = 0x80;
constexpr uint8_t kSrd1EraseError = 0x20;
constexpr uint8_t kSrd1ProgramError = 0x10;
constexpr uint8_t kSrd1BlockError = 0x08;
constexpr uint8_t kSrd2CheckSum = 0x10;
constexpr uint8_t kSrd2ReceiveTimeout = 0x02;
constexpr uint8_t kSrd2OverNumber = 0x01;
constexpr int kIdNotYet = 0, kIdMismatch = 1, kIdVerified = 3;
// The two-bit ID-check field, bits 3..2 of SRD2.
inline int IdField(uint8_t srd2)
{
    return (srd2 / 4) % 4;
}
} // namespace status

namespace loader {
// The firmware's flash area: what "Program" writes and the command line verifies.
constexpr uint32_t kAreaStart = 0xF0000;
constexpr uint32_t kAreaEnd = 0x100000; // first address after the area
constexpr uint32_t kBaseRate = 9600;
constexpr uint32_t kIdLength = 7;
constexpr uint32_t kVersionLength = 8;

// The boot loader's code for a line speed; 0x00 for a speed it does not know.
uint8_t BaudCode(uint32_t baudRate);
// The speed a code selects; 0 for any other byte.
uint32_t BaudRateOfCode(uint8_t code);
// The speeds the boot loader offers, slowest first; their codes follow one another
// from kBaud9600 on.
constexpr uint32_t kBaudRates[] = {9600, 19200, 38400, 57600, 115200};
static_assert(bootcode::kBaud115200 - bootcode::kBaud9600 + 1 == std::size(kBaudRates));
// The boot loader's framing: 8 data bits, no parity, one stop bit.
constexpr uint8_t kByteSize = 8, kNoParity = 0, kOneStopBit = 0;
} // namespace loader
