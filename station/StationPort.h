#pragma once
// One fixture of the production station: panel after panel on one port until the
// station is stopped. It waits for the port and for a panel that answers, flashes it
// (through the front end's attempt), and waits until that panel is gone before it takes
// the next, so that no panel is flashed twice by accident.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/SerialComm.h"
#include "loader/Result.h"
#include "station/FixtureMessage.h"
#include "station/PanelAttempt.h"

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

namespace station {

// How a fixture's loop ended.
enum class FixtureEnd {
    Stopped,
    RecordLost,     // stopped, and some attempt could not be recorded
    PortInUse,      // another program held the port at the start: no byte was sent there
    UpgradeRefused, // the attempt's Prepare refused the upgrade (its code in RefusalCode())
};

class CStationPort
{
public:
    using MessageSink = std::function<void(const FixtureMessage&)>;

    CStationPort(const std::string& port, const std::string& backupDir, IPanelAttempt& attempt,
                 MessageSink emit);
    ~CStationPort();

    FixtureEnd Run();
    int RefusalCode() const { return m_refusalCode; }

    // When the loop ends (default: a Ctrl-C or a stop request). Looked at between steps.
    std::function<bool()> stopRequested;
    // --scan: the next panel's serial as typed; nothing ends the station.
    std::function<bool(std::string&)> nextSerial;
    // In place of a fixture process that died: the panel it left is not taken as the next.
    bool waitUntilGoneFirst = false;

    int Passed() const { return m_passed; }
    int Failed() const { return m_failed; }

private:
    class Steps;

    bool Stopping() const;
    bool Pause(uint32_t ms);
    bool OpenLink();
    void CloseLink();
    bool WaitForPanel();
    bool FlashPanel();
    void WaitUntilGone(bool idAnswered);
    void State(FixtureState state, const std::string& text, const std::string& last = {},
               std::optional<int> exitCode = std::nullopt);
    void State(StateChanged changed);
    std::string BackupName(const std::string& attemptId) const;

    const std::string m_port;
    const std::string m_backupDir;
    IPanelAttempt& m_attempt;
    MessageSink m_emit;
    CSerialComm m_link;
    bool m_everOpened = false, m_inUseAtStart = false;
    std::unique_ptr<loader::CEngine> m_engine;
    FixtureState m_state = FixtureState::Starting;
    std::string m_text;
    std::string m_scannedSerial;
    bool m_serialScanned = false;
    loader::StatusRegister m_found; // the answer of the panel WaitForPanel found
    int m_passed = 0, m_failed = 0;
    bool m_recordFailed = false;
    int m_refusalCode = 0;
};

} // namespace station
