#include "link/SaveIni.h"

#include "platform/Paths.h"
#include "platform/ProfileIni.h"

namespace {

constexpr const char* kCommSection = "Last Comm State";
constexpr const char* kBaudRateKey = "Baundrate";
constexpr const char* kByteSizeKey = "Byte";
// The two names below are crossed on purpose: the file has always been written this
// way, and reading uses the same assignment, so the values land in the right fields.
constexpr const char* kParityKey = "Stop Bit";
constexpr const char* kStopBitsKey = "Parity";
constexpr const char* kTimeoutSection = "timeout";
constexpr const char* kPageReadKey = "pageread";
constexpr int kMissing = -1;

} // namespace

void CSaveIni::Set(uint32_t baudRate, uint8_t byteSize, uint8_t parity, uint8_t stopBits)
{
    m_dwBaudRate = baudRate;
    m_byByteSize = byteSize;
    m_byParity = parity;
    m_byStopBits = stopBits;
}

void CSaveIni::Get(uint32_t& baudRate, uint8_t& byteSize, uint8_t& parity, uint8_t& stopBits) const
{
    baudRate = m_dwBaudRate;
    byteSize = m_byByteSize;
    parity = m_byParity;
    stopBits = m_byStopBits;
}

BOOL CSaveIni::Load()
{
    const auto file = platform::SettingsFilePath();
    m_dwBaudRate = static_cast<uint32_t>(platform::GetPrivateProfileInt(kCommSection, kBaudRateKey, 0, file));
    if (m_dwBaudRate == 0) return FALSE;
    m_byByteSize = static_cast<uint8_t>(platform::GetPrivateProfileInt(kCommSection, kByteSizeKey, 0, file));
    if (m_byByteSize == 0) return FALSE;
    const int parity = platform::GetPrivateProfileInt(kCommSection, kParityKey, kMissing, file);
    m_byParity = static_cast<uint8_t>(parity);
    if (parity == kMissing) return FALSE;
    const int stopBits = platform::GetPrivateProfileInt(kCommSection, kStopBitsKey, kMissing, file);
    m_byStopBits = static_cast<uint8_t>(stopBits);
    if (stopBits == kMissing) return FALSE;
    return TRUE;
}

platform::ProfileWrite CSaveIni::Save()
{
    const auto file = platform::SettingsFilePath();
    // One replacement for the four keys, in their order: a crash never leaves a new rate
    // beside an old byte size.
    return platform::WritePrivateProfileInts(kCommSection,
                                             {{kBaudRateKey, m_dwBaudRate},
                                              {kByteSizeKey, m_byByteSize},
                                              {kParityKey, m_byParity},
                                              {kStopBitsKey, m_byStopBits}},
                                             file);
}

int CSaveIni::GetPageReadTimeout(int defaultValue)
{
    return platform::GetPrivateProfileInt(kTimeoutSection, kPageReadKey, defaultValue,
                                          platform::SettingsFilePath());
}
