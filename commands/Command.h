#pragma once
// The boot-loader commands' common base: the command-code index, the status-bit check,
// hex text conversions, the image scan and the page read.
#include <cstdint>
#include <string>

#include "platform/WinTypes.h"

class CSerialComm;

// Every byte the program sends to the boot loader.
namespace bootcode {
constexpr uint8_t kSyncFiller = 0x00;
constexpr uint8_t kBaud9600 = 0xB0;
constexpr uint8_t kBaud19200 = 0xB1;
constexpr uint8_t kBaud38400 = 0xB2;
constexpr uint8_t kBaud57600 = 0xB3;
constexpr uint8_t kBaud115200 = 0xB4;
constexpr uint8_t kReadStatus = 0x70;  // reply: SRD1, SRD2
constexpr uint8_t kClearStatus = 0x50;
constexpr uint8_t kLockBitDisable = 0x75;
constexpr uint8_t kEraseAll = 0xA7;    // followed by kEraseConfirm
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
constexpr uint32_t kCommandPause = 50; // between command bytes
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
inline int IdField(uint8_t srd2) { return (srd2 / 4) % 4; }
} // namespace status

class CCommand {
public:
    virtual ~CCommand() = default;

    // Hex digit value; any other character is overwritten with '0' and counts 0.
    static int HexDigitValue(char& character);
    // Writes 0x70 and reads the two status bytes. "erase" gives SRD1 bit 5, "program"
    // bit 4 (1 = error). No reply: the time-out recovery runs and the result is 1.
    int CheckStatusBit(CSerialComm& link, const std::string& operation);
};

class CCheckMemorryCmd : public CCommand {
public:
    static uint32_t HexToNumber(std::string text);
    static std::string ToHex6(uint32_t number);
    static void SplitAddress(uint32_t address, uint8_t& high, uint8_t& middle);
    static BOOL IsBelow(uint32_t a, uint32_t b) { return a < b ? TRUE : FALSE; }
    static int FillPageErased(uint8_t* page);
    static int FillPageZero(uint8_t* page);

    // The image's range with the default 0xC0000..0xFFFFF when it holds no page, aligned.
    void GetImageRange(uint32_t& start, uint32_t& end);
    // The image's range offered for editing in "Input Address".
    BOOL AskImageRange(uint32_t& start, uint32_t& end);
    BOOL AskAddressRange(uint32_t& start, uint32_t& end);
    // One page read with the settings file's "pageread" time-out; the time-out in force
    // before is restored on every path.
    BOOL ReadPage(CSerialComm& link, uint8_t* buffer, uint32_t address);

protected:
    enum class ProgramOutcome { Done, Stopped, PageFailed };
    // Clears the status, then programs every page from start while below end with a
    // progress window ("Program."), the page pause and a status read per page. A stop
    // shows "Stop programming." before the window closes. The read time-out is back at
    // its normal value and the window closed when this returns.
    ProgramOutcome ProgramRange(CSerialComm& link, uint32_t start, uint32_t end, uint32_t pagePause);

    enum class VerifyMode { Blank, CompareAll, CompareSkipErased };
    enum class VerifyOutcome { Passed, Mismatch, ReadFailed, Cancelled };
    // Reads every page from start while below end and checks it: blank (0xFF), equal to
    // the image, or equal where the image holds something other than 0xFF. The first
    // offending byte is reported with its address. Opens and closes its progress window.
    VerifyOutcome VerifyRange(CSerialComm& link, uint32_t start, uint32_t end, VerifyMode mode,
                              const std::string& title, const std::string& message);

    // The page pause of the programming loops ("Set baudrate" holds it).
    static uint32_t PagePause();

    // Lowest and highest page with data (start stays 0 for a page at 0 or none).
    void ScanImage(uint32_t& start, uint32_t& end);
    // Builds and writes one page-program frame from the image (absent pages as 0xFF);
    // returns what Write returned.
    uint32_t WritePageFrame(CSerialComm& link, uint32_t address);
    // Progress steps of a range: (end - start - 256) / 500 in 32-bit unsigned arithmetic,
    // 0 for a single page.
    static uint32_t ProgressSteps(uint32_t start, uint32_t end);
};
