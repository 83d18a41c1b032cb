#include "cli/StationAttempt.h"

#include <optional>
#include <utility>

#include "cli/CommandRecords.h"
#include "cli/RateMemory.h"
#include "cli/Reporter.h"
#include "cli/Session.h"
#include "loader/Protocol.h"
#include "loader/Road.h"
#include "records/RecordStore.h"

namespace {

using station::Step;

// The road's steps as the station names them; the connection's steps are its connect,
// and what the session does on its own (the version, the way back to 9600 bit/s) none.
std::optional<Step> StationStep(loader::Step step)
{
    switch (step) {
    case loader::Step::Connect:
    case loader::Step::RateSearch:
    case loader::Step::RateChange:
    case loader::Step::Status:
        return Step::Connect;
    case loader::Step::IdCheck:
        return Step::IdCheck;
    case loader::Step::SerialRead:
        return Step::SerialRead;
    case loader::Step::Backup:
        return Step::Backup;
    case loader::Step::Compare:
        return Step::Compare;
    case loader::Step::Erase:
        return Step::Erase;
    case loader::Step::Keep:
        return Step::Keep;
    case loader::Step::Program:
    case loader::Step::ProgramStatus:
        return Step::Program;
    case loader::Step::Verify:
        return Step::Verify;
    default:
        return std::nullopt;
    }
}

// The road's events to the station's steps.
class CStepRelay final : public loader::IProgress
{
public:
    explicit CStepRelay(station::IStepSink& steps) : m_steps(steps) {}
    void OnStepBegin(loader::Step step, uint32_t expectedMs) override
    {
        const std::optional<Step> shown = StationStep(step);
        // The connection shows no step of its own, and the program's status read after
        // the last page goes on with the program.
        if (!shown || *shown == Step::Connect || shown == m_current) return;
        m_current = shown;
        m_steps.StepBegun(*shown, expectedMs);
    }
    void OnPage(uint32_t done, uint32_t total, uint32_t) override { m_steps.PageDone(done, total); }
    void OnWait() override { m_steps.Waiting(); }

private:
    station::IStepSink& m_steps;
    std::optional<Step> m_current;
};

// The step whose failure ended the run: the first that failed, leaving out the version
// (a panel that cannot tell it is still worked on) and the way out after a failure. The
// panel's own verdicts (an error bit, a differing byte) come as the words the user saw.
std::optional<station::StepFailure> FailureOf(const loader::RunReport& report, const std::string& verdict)
{
    for (const loader::StepReport& done : report.steps) {
        const loader::Outcome outcome = done.result.outcome;
        if (outcome == loader::Outcome::Done || outcome == loader::Outcome::Cancelled) continue;
        const std::optional<Step> step = StationStep(done.step);
        if (!step) continue;
        station::StepFailure failure{*step, std::nullopt, verdict};
        // The kept pages have no verdict of the user's own: the road's words say which page.
        if ((outcome == loader::Outcome::DeviceError || outcome == loader::Outcome::Mismatch) &&
            done.step != loader::Step::Keep)
            return failure;
        // "program page 0F2100: no reply at 115200 bit/s": the road's words after the step's.
        const std::string described = loader::DescribeStep(done);
        failure.why = described.substr(described.find(": ") + 2);
        const std::string named = described.substr(0, described.find(": "));
        if (const size_t page = named.find(" page "); page != std::string::npos)
            failure.page = done.result.address - done.result.address % kPageSize;
        return failure;
    }
    return std::nullopt;
}

} // namespace

CStationAttempt::CStationAttempt(const CliOptions& options, CCommandRecords* records)
    : m_options(options), m_records(records)
{
    m_options.command = "program";
    m_options.ports = {options.ports.front()};
    m_options.backup.clear();
    m_options.ifDifferent = false;
    m_options.mode = OutputMode::Quiet;
}

bool CStationAttempt::Prepare(std::string& refusal, int& code)
{
    if (!m_upgrade) {
        m_ownUpgrade = upgrade::ReadUpgrade(m_options.file);
        m_upgrade = &m_ownUpgrade;
    }
    CMotFile image;
    const upgrade::UpgradeVerdict verdict = CSession::JudgeUpgradeFile(m_options, *m_upgrade, image);
    if (verdict.Ok()) return true;
    refusal = CReporter::OneLine("torvane-cli: " + verdict.refusal->text);
    code = static_cast<int>(ExitCode::FileRefused);
    return false;
}

uint32_t CStationAttempt::RememberedRate(const std::string& port)
{
    return ::RememberedRate(port);
}

bool CStationAttempt::LastAttemptPassed(const std::string& port)
{
    CAttempt last;
    return m_records && m_records->Store() && m_records->Store()->LastOnPort(port, last) &&
           last.outcome == outcome::kPass;
}

station::AttemptReport CStationAttempt::Run(const station::AttemptRequest& request, CSerialComm& link,
                                            station::IStepSink& steps,
                                            const std::function<void(const std::string& id)>& attemptBegun)
{
    CliOptions options = m_options;
    options.attemptId = request.attemptId;
    options.backup = request.backupFile;
    options.scannedSerial = request.scannedSerial;
    if (m_records) m_records->onBegun = attemptBegun;

    std::ostream none(nullptr);
    CReporter reporter(OutputMode::Quiet, none, none, false, 80);
    CSession session(options, reporter, m_records);
    session.PinUpgrade(*m_upgrade);
    if (link.IsOpen()) session.UseOpenLink(link);

    std::string lastMessage;
    session.onMessage = [&lastMessage](const std::string& text) { lastMessage = CReporter::OneLine(text); };
    CStepRelay relay(steps);
    session.Listen(&relay);
    const ExitCode code = session.Run();
    if (m_records) m_records->onBegun = nullptr;

    station::AttemptReport report;
    report.exitCode = static_cast<int>(code);
    report.idAnswered = session.IdAnswered();
    report.flashTouched =
        session.Report().Find(loader::Step::Erase) || session.Report().Find(loader::Step::Program);
    bool passed = code == ExitCode::Ok;
    if (m_records && m_records->Enabled() && !m_records->Problem().empty()) {
        report.recordLost = true;
        passed = m_records->Attempt().outcome == outcome::kPass;
        if (!passed && lastMessage.empty()) lastMessage = m_records->Problem();
    }
    report.end = code == ExitCode::Stopped ? station::AttemptEnd::Stopped
                 : passed                  ? station::AttemptEnd::Passed
                                           : station::AttemptEnd::Failed;
    // The pre-check and the files the run writes fail outside the road: their line is the reason.
    report.failure = FailureOf(session.Report(), lastMessage);
    report.otherReason = !lastMessage.empty() ? lastMessage : ExitCodeName(code);
    return report;
}
