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

class CStationPort
{
public:
    using EventSink = std::function<void(const nlohmann::json&)>;

    // options: a program's options for this port (ports.front()), records may be null.
    CStationPort(const CliOptions& options, const std::string& backupDir, CCommandRecords* records,
                 EventSink emit);
    ~CStationPort();

    // Runs until Stopping(); 0, or 1 when an attempt could not be recorded.
    int Run();

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
    void FlashPanel();
    void WaitUntilGone();
    void State(const std::string& state, const std::string& text, nlohmann::json extra = {});
    std::string BackupName() const;

    CliOptions m_options;
    const std::string m_port;
    const std::string m_backupDir;
    CCommandRecords* m_records;
    EventSink m_emit;
    CSerialComm m_link;
    std::unique_ptr<loader::CEngine> m_engine;
    std::string m_state, m_text;
    int m_passed = 0, m_failed = 0;
    bool m_recordFailed = false;
};
