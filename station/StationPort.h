#pragma once
// One fixture of the production station: panel after panel on one port until the
// station is stopped. It waits for the port and for a panel that answers, flashes it
// (the road of `program`), records the attempt, and waits until that panel is gone
// before it takes the next, so that no panel is flashed twice by accident.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/Options.h"
#include "cli/UpgradeFile.h"
#include "link/SerialComm.h"

class CCommandRecords;
namespace loader {
class CEngine;
}

// How often an idle fixture asks: a panel that starts answering is taken within a
// second, and an empty port costs next to nothing.
constexpr uint32_t kStationProbeGap = 250;
constexpr uint32_t kStationReopenGap = 500;
// A panel that has not answered for this long is gone.
constexpr uint32_t kStationGoneAfter = 1000;
// A panel that a killed run left at the port's remembered rate is asked for there on
// every this many probes: the rounds at 9600 bit/s stay short.
constexpr uint32_t kStationRememberedEvery = 4;

class CStationPort
{
public:
    using EventSink = std::function<void(const nlohmann::json&)>;

    // options: a program's options for this port (ports.front()), records may be null.
    CStationPort(const CliOptions& options, const std::string& backupDir, CCommandRecords* records,
                 EventSink emit);
    ~CStationPort();

    // Runs until Stopping(); 0, or 1 when an attempt could not be recorded. Ends at once
    // with 4 when another program holds the port at the start (no byte is sent there), and
    // with the file's code when the upgrade is refused. The upgrade is read once, at the
    // start, unless the caller pinned it: every attempt flashes those bytes.
    int Run();
    void PinUpgrade(const PinnedUpgrade& upgrade) { m_upgrade = &upgrade; }

    // When the loop ends (default: a Ctrl-C or a stop request). Looked at between steps.
    std::function<bool()> stopRequested;
    // --scan: the next panel's serial as typed; nothing ends the station.
    std::function<bool(std::string&)> nextSerial;
    // In place of a fixture process that died: the panel it left is not taken as the next.
    bool waitUntilGoneFirst = false;

    int Passed() const { return m_passed; }
    int Failed() const { return m_failed; }

private:
    bool Stopping() const;
    bool Pause(uint32_t ms);
    bool OpenLink();
    void CloseLink();
    bool WaitForPanel();
    bool FlashPanel();
    void WaitUntilGone(bool idAnswered);
    void State(const std::string& state, const std::string& text, nlohmann::json extra = {});
    std::string BackupName(const std::string& attemptId) const;

    CliOptions m_options;
    const std::string m_port;
    const std::string m_backupDir;
    CCommandRecords* m_records;
    EventSink m_emit;
    PinnedUpgrade m_ownUpgrade;
    const PinnedUpgrade* m_upgrade = nullptr;
    CSerialComm m_link;
    bool m_everOpened = false, m_inUseAtStart = false;
    std::unique_ptr<loader::CEngine> m_engine;
    std::string m_state, m_text;
    int m_passed = 0, m_failed = 0;
    bool m_recordFailed = false;
};
