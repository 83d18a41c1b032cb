#pragma once
// A station's attempt on one panel, run by the command line's session: the road of
// `program` on the port the station holds open, its record, and its steps and failure
// told to the station as typed events.
#include <string>

#include "cli/Options.h"
#include "station/PanelAttempt.h"
#include "upgrade/UpgradeFile.h"

class CCommandRecords;

class CStationAttempt final : public station::IPanelAttempt
{
public:
    // options: a program's options for one port; records may be null.
    CStationAttempt(const CliOptions& options, CCommandRecords* records);

    // The upgrade already read by the caller; without it, Prepare reads it once.
    void PinUpgrade(const upgrade::UpgradeSource& upgrade) { m_upgrade = &upgrade; }

    bool Prepare(std::string& refusal, int& code) override;
    uint32_t RememberedRate(const std::string& port) override;
    bool LastAttemptPassed(const std::string& port) override;
    station::AttemptReport Run(const station::AttemptRequest& request, CSerialComm& link,
                               station::IStepSink& steps,
                               const std::function<void(const std::string& id)>& attemptBegun) override;

private:
    CliOptions m_options;
    CCommandRecords* m_records;
    upgrade::UpgradeSource m_ownUpgrade;
    const upgrade::UpgradeSource* m_upgrade = nullptr;
};
