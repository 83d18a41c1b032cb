#pragma once
// Serves the boot-loader model on a pseudo-terminal in real time: the host opens
// the slave side like any serial port, the model sits behind the master side.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/posix/UniqueFd.h"
#include "sim/BootLoader.h"

namespace sim {

struct PtyServerOptions
{
    // Host bytes reach the model one character time after the one before them, as on a wire.
    bool realtime = false;
    // After this many received bytes the next byte to the host arrives garbled: a
    // pseudo-terminal cannot carry a framing error, a corrupted character is what a
    // host sees of one.
    std::optional<uint32_t> lineErrorAfterBytes;
    // Never sleeps: host bytes are seen, and replies sent, at the microsecond a device's
    // UART would, instead of whenever the scheduler wakes the simulator. Costs a core.
    bool busyWait = false;
};

class CPtyServer
{
public:
    CPtyServer(CBootLoader& device, PtyServerOptions options);
    ~CPtyServer();
    CPtyServer(const CPtyServer&) = delete;
    CPtyServer& operator=(const CPtyServer&) = delete;

    // Opens the pseudo-terminal; false with a reason in error.
    bool Open(std::string& error);
    const std::string& SlavePath() const { return m_slavePath; }
    // Points the alias (a symlink, a stale one replaced) at the slave; removed again at destruction.
    bool CreateAlias(const std::filesystem::path& alias, std::string& error);
    // Serves until stop becomes true.
    void Run(const std::atomic<bool>& stop);

private:
    uint64_t NowUs() const;
    uint32_t HostBaud() const;
    void TakeHostBytes();
    void DeliverDeviceBytes();

    CBootLoader& m_device;
    PtyServerOptions m_options;
    platform::CUniqueFd m_master;
    platform::CUniqueFd m_slave; // kept open so the host may close and reopen the port
    std::string m_slavePath;
    std::filesystem::path m_alias;
    uint64_t m_startNs = 0;
    uint64_t m_lastArrivalUs = 0;
    uint64_t m_burstStartUs = 0; // the start of the first byte of those arriving back to back
    uint32_t m_burstBaud = 0;
    uint64_t m_burstCount = 0;
    uint32_t m_receivedCount = 0;
};

} // namespace sim
