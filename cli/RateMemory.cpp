#include "cli/RateMemory.h"

#include "link/SaveIni.h"
#include "loader/Protocol.h"
#include "platform/Paths.h"
#include "platform/ProfileIni.h"

namespace {

constexpr char kSectionPrefix[] = "torvane-cli port ";
constexpr char kRateKey[] = "Baud rate";
using loader::kByteSize, loader::kNoParity, loader::kOneStopBit;

bool Known(uint32_t rate)
{
    return loader::BaudCode(rate) != 0;
}

} // namespace

uint32_t RememberedRate(const std::string& port)
{
    const int own =
        platform::GetPrivateProfileInt(kSectionPrefix + port, kRateKey, 0, platform::SettingsFilePath());
    if (own > 0 && Known(static_cast<uint32_t>(own))) return static_cast<uint32_t>(own);
    CSaveIni windows;
    if (windows.Load() && Known(windows.m_dwBaudRate)) return windows.m_dwBaudRate;
    return loader::kBaseRate;
}

platform::ProfileWrite RememberRate(const std::string& port, uint32_t rate)
{
    platform::ProfileWrite written =
        platform::WritePrivateProfileInt(kSectionPrefix + port, kRateKey, rate, platform::SettingsFilePath());
    if (!written) return written;
    CSaveIni windows;
    windows.Set(rate, kByteSize, kNoParity, kOneStopBit);
    // The windows' copy follows the port's own entry; the same file was just written.
    (void)windows.Save();
    return written;
}
