#include "cli/StationAttempt.h"

#include <optional>
#include <utility>

#include "cli/CommandRecords.h"
#include "cli/RateMemory.h"
#include "cli/Reporter.h"
#include "cli/Session.h"
#include "records/RecordStore.h"
#include "loader/Protocol.h"

namespace {

using station::Step;

// The session's titles and its failures' "during" words as the station's steps. This
// goes when the road tells typed steps of its own.
std::optional<Step> StepOfTitle(const std::string& title)
{
    if (title == "Read") return Step::Backup;
    if (title == "Erase") return Step::Erase;
    if (title == "Compare") return Step::Compare;
    if (title == "Program") return Step::Program;
    if (title == "Verify") return Step::Verify;
    return std::nullopt;
}

station::StepFailure FailureOf(const loader::Result& result, const std::string& during, uint32_t rate)
{
    const size_t comma = during.find(", page ");
    const std::string what = during.substr(0, comma);
    static const std::pair<const char*, Step> kDuring[] = {
        {"read", Step::Backup},
        {"erase", Step::Erase},
        {"compare", Step::Compare},
        {"program", Step::Program},
        {"Verify", Step::Verify},
        {"ID check", Step::IdCheck},
        {"serial number", Step::SerialRead},
    };
    station::StepFailure failure; // synchronisation, rate search and status: the connect
    for (const auto& [word, step] : kDuring)
        if (what == word) failure.step = step;
    if (comma != std::string::npos) failure.page = result.address;
    const std::string at = " at " + std::to_string(rate) + " bit/s";
    switch (result.outcome) {
    case loader::Outcome::Silent:
        failure.why = "no reply" + at;
        break;
    case loader::Outcome::LineError:
        failure.why = "garbled reply" + at;
        break;
    case loader::Outcome::PortLost:
        failure.why = "the port went away";
        break;
    default:
        break;
    }
    return failure;
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
        m_ownUpgrade = ReadUpgradeFile(m_options.file);
        m_upgrade = &m_ownUpgrade;
    }
    CMotFile image;
    std::vector<std::string> lines;
    const ExitCode judged = CSession::JudgeUpgradeFile(m_options, *m_upgrade, image, lines);
    if (judged == ExitCode::Ok) return true;
    refusal = ExitCodeName(judged);
    for (const std::string& line : lines)
        if (line.rfind("torvane-cli: warning:", 0) != 0) refusal = CReporter::OneLine(line);
    code = static_cast<int>(judged);
    return false;
}

uint32_t CStationAttempt::RememberedRate(const std::string& port)
{
    return ::RememberedRate(port);
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

    std::optional<Step> current;
    std::optional<station::StepFailure> failure;
    std::string lastMessage;
    session.onMessage = [&lastMessage](const std::string& text) { lastMessage = CReporter::OneLine(text); };
    session.onStepBegun = [&](const std::string& title) {
        current = StepOfTitle(title);
        if (current) steps.StepBegun(*current, *current == Step::Erase ? linktime::kEraseStatusTimeout : 0);
    };
    session.onPage = [&steps](uint32_t done, uint32_t total) { steps.PageDone(done, total); };
    session.onWait = [&steps] { steps.Waiting(); };
    // The first failure is the one: what the way out says after it (the return to 9600
    // bit/s of a panel that is gone) is no reason.
    session.onFailure = [&failure](const loader::Result& result, const std::string& during, uint32_t rate) {
        if (!failure) failure = FailureOf(result, during, rate);
    };
    const ExitCode code = session.Run();
    if (m_records) m_records->onBegun = nullptr;

    station::AttemptReport report;
    report.exitCode = static_cast<int>(code);
    report.idAnswered = session.IdAnswered();
    bool passed = code == ExitCode::Ok;
    if (m_records && m_records->Enabled() && !m_records->Problem().empty()) {
        report.recordLost = true;
        passed = m_records->Attempt().outcome == outcome::kPass;
        if (!passed && lastMessage.empty()) lastMessage = m_records->Problem();
    }
    report.end = code == ExitCode::Stopped ? station::AttemptEnd::Stopped
                 : passed                  ? station::AttemptEnd::Passed
                                           : station::AttemptEnd::Failed;
    // The panel's own verdicts come as the windows' words; the step is the one they end.
    std::optional<Step> refusedAt;
    switch (code) {
    case ExitCode::IdFailed:
        refusedAt = Step::IdCheck;
        break;
    case ExitCode::EraseError:
        refusedAt = Step::Erase;
        break;
    case ExitCode::ProgramError:
        refusedAt = Step::Program;
        break;
    case ExitCode::VerifyMismatch:
        refusedAt = Step::Verify;
        break;
    default:
        break;
    }
    if (!failure && refusedAt) failure = station::StepFailure{*refusedAt, std::nullopt, lastMessage};
    report.failure = failure;
    report.otherReason = !lastMessage.empty() ? lastMessage : ExitCodeName(code);
    return report;
}
