#include "cli/Session.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <optional>
#include <tuple>
#include <vector>

#include "cli/CommandRecords.h"
#include "cli/OutputTargets.h"
#include "cli/RateMemory.h"
#include "cli/RecordsReport.h"
#include "image/IdFile.h"
#include "image/UpgradeFormats.h"
#include "loader/RateSearch.h"
#include "loader/Road.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/HookRunner.h"
#include "platform/KeepAwake.h"
#include "platform/OutputFile.h"
#include "platform/Paths.h"
#include "platform/ProfileIni.h"
#include "platform/ReleaseSignature.h"
#include "platform/SerialDriver.h"
#include "platform/Sha256.h"
#include "platform/ThisProcess.h"
#include "res/Resource.h"
#include "res/Texts.h"

namespace {

// The command line's own waits: a panel answers a status or a speed code within
// milliseconds, so a silent one is told in about a second, not in the windows' 5 s.
constexpr uint32_t kReplyTimeout = 1000;
constexpr uint32_t kPageReadTimeout = 2000;
constexpr uint32_t kSyncReplyTimeout = 200;

std::string Hex6(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(value));
    return text;
}

std::string RateList(const std::vector<uint32_t>& rates)
{
    std::string text;
    for (size_t i = 0; i < rates.size(); ++i)
        text += (i == 0 ? "" : i + 1 == rates.size() ? " and " : ", ") + std::to_string(rates[i]);
    return text + " bit/s";
}

bool Stopping()
{
    return platform::InterruptCount() > 0;
}

double SecondsSince(uint32_t started)
{
    return (GetTickCount() - started) / 1000.0;
}

bool NeedsId(const std::string& command)
{
    return command == "program" || command == "verify" || command == "erase" || command == "blank" ||
           command == "read";
}

} // namespace

// Pages to the reporter, Ctrl-C to the engine between pages.
class CSession::Progress final : public loader::IProgress
{
public:
    explicit Progress(CSession& session) : m_session(session) {}
    void Begin(const std::string& title) { m_title = title; }
    void End()
    {
        if (m_started) m_session.m_reporter.ProgressEnd();
        m_started = false;
        m_title.clear();
    }
    void OnStart(uint32_t) override
    {
        if (m_title.empty()) return;
        m_started = true;
        m_session.m_reporter.ProgressStart(m_title);
    }
    void OnPage(uint32_t done, uint32_t total, uint32_t address) override
    {
        if (loader::IProgress* listener = m_session.m_listener) listener->OnPage(done, total, address);
        if (!m_started) return;
        m_session.m_reporter.Progress(m_title, done, total);
        if (m_session.onProgress) m_session.onProgress(m_title, done);
    }
    bool Cancelled() override { return Stopping(); }
    void OnWait() override
    {
        m_session.m_reporter.WaitGoesOn();
        if (loader::IProgress* listener = m_session.m_listener) listener->OnWait();
    }
    void OnStepBegin(loader::Step step, uint32_t expectedMs) override
    {
        // The commands on the flash take seconds; a status or a version is over in one.
        if (const std::string text = Doing(step, expectedMs);
            !text.empty() && NeedsId(m_session.m_options.command))
            m_session.m_reporter.StepBegins(loader::StepName(step), text);
        if (loader::IProgress* listener = m_session.m_listener) listener->OnStepBegin(step, expectedMs);
    }
    void OnStepEnd(loader::Step step, const loader::Result& result) override
    {
        if (loader::IProgress* listener = m_session.m_listener) listener->OnStepEnd(step, result);
    }
    void OnRepliesHeld(uint32_t heldMs) override
    {
        // Every page pays it: a quarter of a page's time at 115200 bit/s with FTDI's 16 ms.
        m_session.Message("torvane-cli: " + m_session.m_port + ": the adapter holds replies for " +
                          std::to_string(heldMs) + " ms: set its latency timer to 1 ms");
        if (loader::IProgress* listener = m_session.m_listener) listener->OnRepliesHeld(heldMs);
    }

private:
    // What the step does, for a line of its own; empty for the moments between the steps
    // (a status read, the version) and for a way back to 9600 bit/s that has nothing to do.
    std::string Doing(loader::Step step, uint32_t expectedMs) const
    {
        const uint32_t rate = m_session.m_engine ? m_session.m_engine->LinkRate() : loader::kBaseRate;
        switch (step) {
        case loader::Step::Connect:
            return "connecting at " + std::to_string(loader::kBaseRate) + " bit/s";
        case loader::Step::RateSearch:
            return "looking for the panel at the other rates";
        case loader::Step::RateChange:
            return "moving to " + std::to_string(m_session.m_rateWanted) + " bit/s";
        case loader::Step::IdCheck:
            return "ID check";
        case loader::Step::SerialRead:
            return "reading the serial number";
        case loader::Step::Backup:
            return "reading the backup";
        case loader::Step::Compare:
            return "comparing";
        case loader::Step::Erase: {
            char text[32];
            std::snprintf(text, sizeof text, "erasing, up to %u:%02u", expectedMs / 60000,
                          expectedMs / 1000 % 60);
            return text;
        }
        case loader::Step::Keep:
            return m_session.m_report.Find(loader::Step::Keep) ? "programming the panel's own pages back"
                                                               : "reading the panel's own pages";
        case loader::Step::Program:
            return "programming";
        case loader::Step::Verify:
            return "verifying";
        case loader::Step::BlankCheck:
            return "blank check";
        case loader::Step::Read:
            return "reading";
        case loader::Step::ReturnTo9600:
            return rate == loader::kBaseRate ? "" : "back to " + std::to_string(loader::kBaseRate) + " bit/s";
        default:
            return "";
        }
    }

    CSession& m_session;
    std::string m_title;
    bool m_started = false;
};

CSession::CSession(const CliOptions& options, CReporter& reporter, CCommandRecords* records)
    : m_options(options), m_reporter(reporter), m_records(records), m_port(options.ports.front())
{
}

CSession::~CSession() = default;

void CSession::Message(const std::string& text)
{
    m_reporter.Message(text);
    if (m_records) m_records->Message(CReporter::OneLine(text));
    if (onMessage) onMessage(text);
}

void CSession::Message(unsigned stringId)
{
    Message(LoadText(stringId));
}

ExitCode CSession::Run()
{
    const platform::CKeepAwake awake;
    m_reporter.Start(m_options.command, m_port);
    if (!m_upgrade && !m_options.file.empty()) {
        m_ownUpgrade = upgrade::ReadUpgrade(m_options.file);
        m_upgrade = &m_ownUpgrade;
    }
    if (m_records && !m_records->Begin(m_options, m_port, m_upgrade)) {
        // A panel that cannot be recorded is not touched.
        m_reporter.Message(m_records->Problem());
        m_figures["record_error"] = m_records->Problem();
        m_reporter.Result(ExitCode::Failed, m_figures);
        return ExitCode::Failed;
    }
    if (m_records) {
        CAttempt& attempt = m_records->Attempt();
        attempt.tag = m_options.tag;
        attempt.stationRun = m_options.stationRun;
        if (!m_options.scannedSerial.empty()) attempt.serialText = m_options.scannedSerial;
        if (m_options.command == "program")
            attempt.pagePauseMs = m_options.pagePause.value_or(linktime::kDefaultPagePause);
    }
    ExitCode code = LoadFile();
    if (code == ExitCode::Ok) code = PlanKeep();
    if (code == ExitCode::Ok) code = OpenPort();
    // Each phase's time, so that the gap to the protocol's own time shows.
    const uint32_t connectStarted = GetTickCount();
    if (code == ExitCode::Ok) code = Connect();
    if (code == ExitCode::Ok) code = CheckId();
    if (code == ExitCode::Ok) m_figures["connect_seconds"] = SecondsSince(connectStarted);
    // The boot loader's version belongs to the record; a panel that cannot tell it is
    // still worked on.
    if (code == ExitCode::Ok && m_records) std::ignore = loader::ReadVersion(*m_engine, m_report);
    if (code == ExitCode::Ok) code = RunCommand();
    if (code == ExitCode::Ok && Stopping()) code = ExitCode::Stopped;
    if (m_found && m_link->IsOpen()) {
        const uint32_t returnStarted = GetTickCount();
        ReturnTo9600();
        m_figures["return_seconds"] = SecondsSince(returnStarted);
    }
    m_engine.reset();
    if (m_link == &m_ownLink) m_link->Close();
    // Judged before the record's own trouble: a record not written leaves the flash as it is.
    const bool leftIncomplete = code != ExitCode::Ok && FlashTouched();
    code = CompleteRecord(code);
    if (!m_options.onResult.empty()) TellResult();
    if (leftIncomplete) m_reporter.Message(IncompleteFlashAdvice());
    m_reporter.Result(code, m_figures);
    return code;
}

bool CSession::FlashTouched() const
{
    return m_report.Find(loader::Step::Erase) || m_report.pagesSent > 0;
}

std::string CSession::IncompleteFlashAdvice() const
{
    std::string line =
        "torvane-cli: " + m_port +
        ": the panel holds no complete firmware: toggle its power and run the same command again";
    // Run again with it, the backup of the old firmware would be refused, or with
    // --overwrite-backup replaced by the half-written flash.
    if (!m_options.backup.empty() && m_figures.contains("output"))
        line += " without --backup: " + m_options.backup + " holds the firmware it had";
    return line;
}

ExitCode CSession::PreCheck()
{
    const std::optional<std::vector<std::string>> command = platform::SplitHookCommand(m_options.preCheck);
    if (!command) {
        Message("torvane-cli: pre-check refused the panel: the command " + m_options.preCheck +
                " cannot be split (an open quote?)");
        return ExitCode::Failed;
    }
    nlohmann::ordered_json input = {{"port", m_port}, {"station", platform::HostName()}};
    const std::string serial = m_figures.contains("serial") && m_figures["serial"].is_string()
                                   ? m_figures["serial"].get<std::string>()
                                   : "";
    const std::string known = !m_options.scannedSerial.empty() ? m_options.scannedSerial : serial;
    input["serial"] = known.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(known);
    input["file_name"] = m_options.file;
    input["file_sha256"] = m_upgrade ? m_upgrade->sha256 : "";
    input["tag"] = m_options.tag.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(m_options.tag);
    const platform::HookOutcome outcome = platform::RunHook(
        *command, input.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n",
        std::chrono::seconds(m_options.hookTimeoutSeconds), Stopping);
    if (outcome.Passed()) return ExitCode::Ok;
    // A stop ends the check at once, and the panel is left as it was.
    if (outcome.ending == platform::HookOutcome::Ending::Stopped) return ExitCode::Stopped;
    // Fails closed: a check that could not say yes is a no.
    std::string reason;
    switch (outcome.ending) {
    case platform::HookOutcome::Ending::Exited:
        reason =
            outcome.firstLine.empty() ? "exit code " + std::to_string(outcome.exitCode) : outcome.firstLine;
        break;
    case platform::HookOutcome::Ending::TimedOut:
        reason = "no answer within " + std::to_string(m_options.hookTimeoutSeconds) + " s (killed)";
        break;
    case platform::HookOutcome::Ending::NotStarted:
        reason = "cannot start " + command->front() + ": " + outcome.trouble;
        break;
    case platform::HookOutcome::Ending::Stopped:
        break;
    }
    Message("torvane-cli: " + m_port + ": pre-check refused the panel: " + reason);
    m_figures["pre_check"] = reason;
    return ExitCode::Failed;
}

void CSession::TellResult()
{
    // The attempt is told whether or not it is stored (--no-records); the outcome stands
    // whatever the hook does.
    if (!m_records) return;
    const std::optional<std::vector<std::string>> command = platform::SplitHookCommand(m_options.onResult);
    std::string trouble;
    if (!command) {
        trouble = "the command " + m_options.onResult + " cannot be split (an open quote?)";
    } else {
        const std::string input =
            AttemptJson(m_records->Attempt()).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
            "\n";
        // The attempt a stop ended is told too, within the hook's limit; a further stop
        // ends the hook at once.
        const int stopsBefore = platform::InterruptCount();
        const platform::HookOutcome outcome =
            platform::RunHook(*command, input, std::chrono::seconds(m_options.hookTimeoutSeconds),
                              [stopsBefore] { return platform::InterruptCount() > stopsBefore; });
        switch (outcome.ending) {
        case platform::HookOutcome::Ending::Exited:
            if (outcome.exitCode != 0)
                trouble = "exit code " + std::to_string(outcome.exitCode) +
                          (outcome.firstLine.empty() ? "" : ": " + outcome.firstLine);
            break;
        case platform::HookOutcome::Ending::TimedOut:
            trouble = "no answer within " + std::to_string(m_options.hookTimeoutSeconds) + " s (killed)";
            break;
        case platform::HookOutcome::Ending::NotStarted:
            trouble = "cannot start " + command->front() + ": " + outcome.trouble;
            break;
        case platform::HookOutcome::Ending::Stopped:
            trouble = "ended by the stop (killed)";
            break;
        }
    }
    if (trouble.empty()) return;
    const std::string line = "torvane-cli: " + m_port + ": on-result hook failed: " + trouble;
    m_reporter.Message(line);
    m_figures["on_result_error"] = trouble;
    m_records->NoteAfterCompletion(line);
}

ExitCode CSession::CompleteRecord(ExitCode code)
{
    if (!m_records) return code;
    CAttempt& attempt = m_records->Attempt();
    RecordSteps(attempt, code);
    const ExitCode recorded = m_records->Complete(code, m_figures);
    if (!m_records->Problem().empty()) {
        m_reporter.Message(m_records->Problem());
        m_figures["record_error"] = m_records->Problem();
    }
    return recorded;
}

// The record's steps and outcome from the run's report and what the session saw itself
// (the ID passed before this run, a panel already holding the file, a stop).
void CSession::RecordSteps(CAttempt& attempt, ExitCode code) const
{
    const bool unchanged = m_figures.contains("up_to_date") && code == ExitCode::Ok;
    attempt.outcome = unchanged                   ? outcome::kUnchanged
                      : code == ExitCode::Ok      ? outcome::kPass
                      : code == ExitCode::Stopped ? outcome::kStopped
                                                  : outcome::kFail;
    auto resultOf = [this](loader::Step step) -> const char* {
        const loader::StepReport* report = m_report.Find(step);
        if (!report) return "";
        switch (report->result.outcome) {
        case loader::Outcome::Done:
            return step::kOk;
        case loader::Outcome::Cancelled:
            return step::kStopped;
        case loader::Outcome::Mismatch:
            return step::kMismatch;
        default:
            return step::kFailed;
        }
    };
    attempt.idCheck = m_idAlready   ? step::kAlready
                      : m_idRefused ? step::kFailed
                                    : resultOf(loader::Step::IdCheck);
    attempt.eraseResult = resultOf(loader::Step::Erase);
    attempt.programResult = resultOf(loader::Step::Program);
    // The page decides, and then the status read after the last page.
    if (attempt.programResult == std::string(step::kOk))
        attempt.programResult = resultOf(loader::Step::ProgramStatus);
    attempt.verifyResult = resultOf(loader::Step::Verify);
    const bool programs = m_options.command == "program";
    if (code == ExitCode::Stopped) {
        // Stopped between steps: the step that did not begin was stopped.
        if (!attempt.eraseResult.empty() && attempt.programResult.empty() && programs)
            attempt.programResult = step::kStopped;
        if (attempt.programResult == std::string(step::kOk) && attempt.verifyResult.empty() &&
            m_options.verify)
            attempt.verifyResult = step::kStopped;
    }
    if (programs && m_report.Find(loader::Step::Program)) attempt.pagesSent = m_report.pagesSent;
    if (programs && unchanged) attempt.pagesSent = 0;
    if (m_rateSettled) attempt.baudRate = m_report.rate;
    attempt.loaderVersion = m_report.version;
    if (attempt.outcome == outcome::kFail || attempt.outcome == outcome::kStopped) {
        attempt.failReason = m_report.FailReason();
        if (const loader::StepReport* failed = m_report.Failure()) {
            attempt.failStep = loader::StepName(failed->step);
            attempt.failKind = loader::DescribeOutcome(*failed);
        }
    }
    // A failure of our own (the ID not passed, a backup not written): the line the user was told.
    if (attempt.outcome == outcome::kFail && attempt.failReason.empty() && !attempt.messages.empty())
        attempt.failReason = attempt.messages.back();
}

upgrade::UpgradeVerdict CSession::JudgeUpgradeFile(const CliOptions& options,
                                                   const upgrade::UpgradeSource& source, CMotFile& image)
{
    upgrade::LoadPolicy policy;
    policy.base = options.base;
    policy.expectSha256 = options.expectSha256;
    policy.trustedKeyFiles = options.trustedKeys;
    policy.forProgramming =
        options.command == "program" || options.command == "verify" || options.command == "station";
    return upgrade::LoadUpgrade(source, policy, image);
}

std::vector<std::string> CSession::VerdictLines(const upgrade::UpgradeVerdict& verdict,
                                                const std::string& file)
{
    if (verdict.refusal) return {"torvane-cli: " + verdict.refusal->text};
    if (verdict.coverage.inside && verdict.coverage.outside)
        return {"torvane-cli: warning: " + file +
                " also holds data outside 0F0000-0FFFFF, which is not programmed"};
    return {};
}

ExitCode CSession::LoadFile()
{
    if (m_options.file.empty()) return ExitCode::Ok;
    const upgrade::UpgradeVerdict verdict = JudgeUpgradeFile(m_options, *m_upgrade, m_image);
    if (m_records) m_records->Attempt().signer = verdict.signer;
    for (const std::string& line : VerdictLines(verdict, m_options.file))
        Message(line);
    m_imageLoaded = verdict.Ok();
    return verdict.Ok() ? ExitCode::Ok : ExitCode::FileRefused;
}

ExitCode CSession::OpenPort()
{
    if (m_link != &m_ownLink) {
        // The caller's port: it was never let go between its probe and this session.
    } else if (!m_link->Open(m_port)) {
        const platform::OpenError error = m_link->LastOpenError();
        const std::string reason = platform::DescribeOpenError(error);
        if (m_records) m_records->Message("torvane-cli: cannot open port " + m_port + ": " + reason);
        m_reporter.PortNotOpened("torvane-cli: cannot open port " + m_port + " (" +
                                     platform::ResolvePortName(m_port).Utf8() + "): " + reason,
                                 reason);
        return error == platform::OpenError::InUse ? ExitCode::PortInUse : ExitCode::PortOpen;
    }
    m_progress = std::make_unique<Progress>(*this);
    m_engine = std::make_unique<loader::CEngine>(*m_link, m_progress.get());
    return ExitCode::Ok;
}

ExitCode CSession::Failure(const loader::Result& result, const std::string& during)
{
    const std::string rate = std::to_string(m_engine->LinkRate()) + " bit/s";
    switch (result.outcome) {
    case loader::Outcome::Done:
        return ExitCode::Ok;
    case loader::Outcome::Cancelled:
        return ExitCode::Stopped;
    case loader::Outcome::PortLost:
        Message("torvane-cli: " + m_port + ": the port went away (" + during + ")");
        return ExitCode::PortOpen;
    case loader::Outcome::Silent:
        Message("torvane-cli: " + m_port + ": no reply from the panel at " + rate + " (" + during + ")");
        return ExitCode::Silent;
    case loader::Outcome::LineError:
        Message("torvane-cli: " + m_port + ": garbled reply from the panel at " + rate + " (" + during + ")");
        return ExitCode::Silent;
    case loader::Outcome::DeviceError:
    case loader::Outcome::Mismatch:
        break;
    }
    return ExitCode::Failed;
}

ExitCode CSession::Connect()
{
    loader::CEngine& engine = *m_engine;
    const uint32_t remembered = RememberedRate(m_port);
    loader::ConnectOptions options;
    options.replyTimeout = kReplyTimeout;
    options.echoTimeout = kSyncReplyTimeout;
    options.searchRates = loader::SearchOrder(remembered);
    const loader::Result result = loader::Connect(engine, m_report, options, m_status);
    if (result.outcome == loader::Outcome::PortLost)
        return Failure(result, m_report.Find(loader::Step::RateSearch) ? "rate search" : "synchronisation");
    if (!result.Ok()) {
        Message("torvane-cli: " + m_port +
                ": the panel does not answer (synchronisation at 9600 bit/s, status request at " +
                RateList(options.searchRates) + ")");
        return ExitCode::Silent;
    }
    m_found = true;
    if (Stopping()) return ExitCode::Stopped;
    return SetWorkingRate(m_options.baud.value_or(remembered));
}

ExitCode CSession::SetWorkingRate(uint32_t wanted)
{
    loader::CEngine& engine = *m_engine;
    const uint32_t found = engine.LinkRate();
    uint32_t rate = found;
    m_rateWanted = wanted;
    if (wanted != found) {
        loader::RateChangeOptions options;
        options.searchOnLostConfirm = true;
        const loader::RateChange change = loader::ChangeRate(engine, m_report, wanted, options);
        if (change.refused && change.result.Ok()) {
            Message("torvane-cli: " + m_port + ": the panel did not take " + std::to_string(wanted) +
                    " bit/s; working at " + std::to_string(found) + " bit/s");
        } else if (change.result.outcome == loader::Outcome::PortLost) {
            return Failure(change.result, "rate change");
        } else if (!change.result.Ok()) {
            Message("torvane-cli: " + m_port + ": the panel stopped answering while moving to " +
                    std::to_string(wanted) + " bit/s");
            return ExitCode::Silent;
        }
        rate = change.rate;
    }
    const loader::Result result = loader::ReadStatus(engine, m_report, m_status);
    if (!result.Ok()) return Failure(result, "status");
    m_report.rate = rate;
    m_rateSettled = true;
    m_figures["baud"] = rate;
    if (rate == wanted) {
        if (const platform::ProfileWrite written = RememberRate(m_port, rate); !written)
            Message("torvane-cli: cannot write the settings file: " + written.error);
    }
    return ExitCode::Ok;
}

ExitCode CSession::CheckId()
{
    m_idAnswered = m_status.IdField() != 0;
    m_idAlready = m_status.IdVerified();
    if (!m_status.IdVerified() && m_imageLoaded) {
        loader::StatusRegister after;
        const loader::Result result = loader::CheckId(*m_engine, m_report, after);
        if (!result.Ok() && result.outcome != loader::Outcome::DeviceError)
            return Failure(result, "ID check");
        m_idAnswered = after.IdField() != 0;
        if (!result.Ok()) {
            Message(IDS_NOT_MATCH_ID);
            return ExitCode::IdFailed;
        }
        m_status = after;
    }
    if (NeedsId(m_options.command) && !m_status.IdVerified()) {
        m_idRefused = true;
        Message(IDS_DID_NOT_PASS_ID);
        return ExitCode::IdFailed;
    }
    return ExitCode::Ok;
}

loader::PageSource CSession::ImagePages()
{
    return [this](uint8_t* page, uint32_t index) { return m_image.GetPage(page, index) != nullptr; };
}

ExitCode CSession::RunCommand()
{
    const std::string& command = m_options.command;
    if (command == "program") return Program();
    if (command == "status") return Status();
    if (command == "version") {
        const loader::Result result = loader::ReadVersion(*m_engine, m_report);
        if (!result.Ok()) return Failure(result, "version");
        m_reporter.Value("version", m_report.version);
        return ExitCode::Ok;
    }
    if (command == "erase") return Erase();
    if (command == "blank") {
        uint32_t start = loader::kAreaStart, end = loader::kAreaEnd;
        if (m_options.rangeStart) {
            start = *m_options.rangeStart;
            end = *m_options.rangeEnd + 1;
        } else if (m_imageLoaded) {
            // The upgrade's own range, as the Blank Check dialog proposes it.
            bool any = false;
            for (uint32_t page = 0; page < CMotFile::kPageCount; ++page) {
                if (!m_image.HasPage(page)) continue;
                if (!any) start = page * kPageSize;
                end = (page + 1) * kPageSize;
                any = true;
            }
        }
        start -= start % kPageSize;
        end = (end + kPageSize - 1) / kPageSize * kPageSize;
        return Check(start, end, loader::CheckMode::Blank, "Blank Check", loader::Step::BlankCheck);
    }
    if (command == "read") {
        const uint32_t start = *m_options.rangeStart - *m_options.rangeStart % kPageSize;
        const uint32_t end = *m_options.rangeEnd - *m_options.rangeEnd % kPageSize + kPageSize;
        return ReadInto(start, end, m_options.output, loader::Step::Read);
    }
    if (command == "verify")
        return Check(loader::kAreaStart, loader::kAreaEnd, loader::CheckMode::CompareAll, "Verify",
                     loader::Step::Verify);
    return ExitCode::Usage;
}

ExitCode CSession::Status()
{
    const loader::Result result = loader::ReadStatus(*m_engine, m_report, m_status);
    if (!result.Ok()) return Failure(result, "status");
    const loader::StatusTexts texts = loader::DescribeStatus(m_status);
    m_reporter.Value("ready", texts.ready);
    m_reporter.Value("erase", texts.erase);
    m_reporter.Value("program", texts.program);
    m_reporter.Value("block", texts.block);
    m_reporter.Value("check_sum", texts.checkSum);
    m_reporter.Value("id_check", texts.idCheck);
    m_reporter.Value("receive_timeout", texts.receiveTimeout);
    m_reporter.Value("over_number", texts.overNumber);
    return ExitCode::Ok;
}

ExitCode CSession::Erase()
{
    const uint32_t started = GetTickCount();
    m_reporter.WaitStart("Erase", "erasing", linktime::kEraseStatusTimeout);
    const loader::Result result = loader::Erase(*m_engine, m_report);
    m_reporter.WaitEnd();
    if (result.outcome == loader::Outcome::DeviceError) {
        Message(IDS_ERASE_ERROR);
        return ExitCode::EraseError;
    }
    if (!result.Ok()) return Failure(result, "erase");
    Message(IDS_ERASE_OK);
    m_figures["erase_seconds"] = SecondsSince(started);
    return ExitCode::Ok;
}

ExitCode CSession::Program()
{
    if (m_options.ifDifferent) {
        const uint32_t started = GetTickCount();
        m_progress->Begin("Compare");
        const loader::Result same =
            loader::Check(*m_engine, m_report, loader::Step::Compare, ImagePages(), loader::kAreaStart,
                          loader::kAreaEnd, loader::CheckMode::CompareAll, kPageReadTimeout);
        m_progress->End();
        m_figures["compare_seconds"] = SecondsSince(started);
        if (same.Ok()) {
            Message("torvane-cli: " + m_port + ": already up to date");
            m_figures["up_to_date"] = true;
            m_figures["pages"] = 0;
            return ExitCode::Ok;
        }
        if (same.outcome != loader::Outcome::Mismatch)
            return Failure(same, "compare, page " + Hex6(same.address));
    }
    if (m_options.serialAt) {
        const ExitCode code = ReadSerial();
        if (code != ExitCode::Ok) return code;
    }
    if (!m_options.preCheck.empty()) {
        const ExitCode code = PreCheck();
        if (code != ExitCode::Ok) return code;
    }
    if (!m_options.backup.empty()) {
        const ExitCode code = Backup();
        if (code != ExitCode::Ok) return code;
    }
    if (!m_pagesToKeep.empty()) {
        const ExitCode code = ReadKept();
        if (code != ExitCode::Ok) return code;
    }
    if (Stopping()) return ExitCode::Stopped;
    ExitCode code = Erase();
    // The panel's own pages go back before anything else, a stop waiting for them. After an
    // erase the panel reported as failed too: it answers, and may have lost them.
    if (!m_kept.addresses.empty() && (code == ExitCode::Ok || code == ExitCode::EraseError)) {
        const ExitCode restored = WriteBackKept();
        if (code == ExitCode::Ok) code = restored;
    }
    if (code != ExitCode::Ok) return code;
    if (Stopping()) return ExitCode::Stopped;

    loader::ProgramOptions options;
    options.pagePause = m_options.pagePause.value_or(linktime::kDefaultPagePause);
    // A shorter pause than the usual may end before the panel has written the page.
    options.waitForReady = options.pagePause < linktime::kDefaultPagePause;
    // The erase has reported success, so every page the file leaves empty reads 0xFF
    // already, and the verify of every byte proves it (a page the erase left is caught).
    options.skipBlankPages = m_options.verify && !m_options.allPages;
    const uint32_t started = GetTickCount();
    m_progress->Begin("Program");
    loader::Result result =
        loader::Program(*m_engine, m_report, ImagePages(), loader::kAreaStart, loader::kAreaEnd, options);
    m_progress->End();
    const uint32_t pagesSent = result.pagesSent;
    if (result.outcome == loader::Outcome::Cancelled) {
        Message(IDS_STOP_PROGRAMMING);
        return ExitCode::Stopped;
    }
    // The page decides, and then the status once more: a panel may report the error late.
    loader::StatusRegister status;
    if (result.Ok()) result = loader::ReadStatus(*m_engine, m_report, status, loader::Step::ProgramStatus);
    if (result.outcome == loader::Outcome::DeviceError) {
        Message(IDS_PROGRAM_ERROR);
        return ExitCode::ProgramError;
    }
    if (!result.Ok()) return Failure(result, "program, page " + Hex6(result.address));
    Message(IDS_PROGRAM_OK);
    m_figures["program_seconds"] = (GetTickCount() - started) / 1000.0;
    if (!m_options.verify) {
        m_figures["pages"] = pagesSent;
        return ExitCode::Ok;
    }
    if (Stopping()) return ExitCode::Stopped;
    code = Check(loader::kAreaStart, loader::kAreaEnd, loader::CheckMode::CompareAll, "Verify",
                 loader::Step::Verify);
    m_figures["pages"] = pagesSent; // the pages sent, not those read back
    return code;
}

ExitCode CSession::Check(uint32_t start, uint32_t end, loader::CheckMode mode, const std::string& title,
                         loader::Step step)
{
    const uint32_t started = GetTickCount();
    m_progress->Begin(title);
    const loader::Result result =
        loader::Check(*m_engine, m_report, step, ImagePages(), start, end, mode, kPageReadTimeout);
    m_progress->End();
    const bool verify = mode != loader::CheckMode::Blank;
    if (verify) m_figures["verified"] = result.Ok();
    if (result.outcome == loader::Outcome::Mismatch) {
        Message(LoadText(verify ? IDS_NOT_MATCH : IDS_NOT_BLANK) + Hex6(result.address));
        return ExitCode::VerifyMismatch;
    }
    if (!result.Ok()) return Failure(result, title + ", page " + Hex6(result.address));
    if (verify) m_figures["verify_seconds"] = (GetTickCount() - started) / 1000.0;
    m_figures["pages"] = (end - start) / kPageSize;
    return ExitCode::Ok;
}

ExitCode CSession::ReadInto(uint32_t start, uint32_t end, const std::string& path, loader::Step step)
{
    std::vector<uint8_t> bytes;
    m_progress->Begin("Read");
    const loader::Result result =
        loader::ReadRange(*m_engine, m_report, step, start, end, kPageReadTimeout, bytes);
    m_progress->End();
    if (!result.Ok()) return Failure(result, "read, page " + Hex6(result.address));
    // Written atomically: the old file or the whole new one, flushed to the disk. A
    // backup must be whole and on the disk before the erase that it guards.
    if (std::string error; !platform::WriteFileAtomically(platform::CPath::FromUtf8(path),
                                                          WriterFor(path).write(start, bytes), error)) {
        Message("torvane-cli: " + error);
        return ExitCode::Failed;
    }
    m_figures["output"] = path;
    m_figures["pages"] = (end - start) / kPageSize;
    return ExitCode::Ok;
}

ExitCode CSession::ReadSerial()
{
    const uint32_t first = *m_options.serialAt, length = m_options.serialLength;
    const uint32_t start = first - first % kPageSize;
    const uint32_t end = (first + length + kPageSize - 1) / kPageSize * kPageSize;
    std::vector<uint8_t> bytes;
    const loader::Result result =
        loader::ReadRange(*m_engine, m_report, loader::Step::SerialRead, start, end, kPageReadTimeout, bytes);
    if (!result.Ok()) return Failure(result, "serial number, page " + Hex6(result.address));
    // Erased flash (FF) or a cleared area (00) holds no serial: recorded as one, every
    // blank panel would share it and a search for it would find them all.
    const auto area = bytes.begin() + (first - start);
    if (std::all_of(area, area + length, [&](uint8_t b) { return b == *area; }) &&
        (*area == 0xFF || *area == 0x00)) {
        m_figures["serial"] = nullptr;
        m_figures["serial_hex"] = nullptr;
        return ExitCode::Ok;
    }
    std::string hex, text;
    for (uint32_t i = 0; i < length; ++i) {
        const uint8_t byte = bytes[first - start + i];
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        hex += digits;
        text += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
    }
    // An unused area's fill is no part of the number.
    while (!text.empty() && text.back() == '.')
        text.pop_back();
    m_figures["serial"] = text;
    m_figures["serial_hex"] = hex;
    if (m_records) {
        m_records->Attempt().serialHex = hex;
        if (m_options.scannedSerial.empty()) m_records->Attempt().serialText = text;
    }
    return ExitCode::Ok;
}

ExitCode CSession::PlanKeep()
{
    if (m_options.command != "program") return ExitCode::Ok;
    std::string refusal;
    // A serial read before the erase is worth nothing if the erase then takes it.
    m_pagesToKeep = loader::PagesToKeep(m_options.KeptRanges(), refusal);
    if (refusal.empty()) return ExitCode::Ok;
    Message("torvane-cli: " + refusal);
    return ExitCode::Usage;
}

ExitCode CSession::ReadKept()
{
    const loader::Result result =
        loader::ReadKeptPages(*m_engine, m_report, m_pagesToKeep, kPageReadTimeout, m_kept);
    return Failure(result, "keep, page " + Hex6(result.address));
}

ExitCode CSession::WriteBackKept()
{
    loader::ProgramOptions options;
    options.pagePause = m_options.pagePause.value_or(linktime::kDefaultPagePause);
    options.waitForReady = options.pagePause < linktime::kDefaultPagePause;
    const loader::Result result =
        loader::WriteBackKeptPages(*m_engine, m_report, m_kept, options, kPageReadTimeout);
    if (result.outcome != loader::Outcome::DeviceError && result.outcome != loader::Outcome::Mismatch)
        return Failure(result, "keep, page " + Hex6(result.address));
    Message("torvane-cli: " + m_port + ": the panel's kept pages did not come back: " +
            loader::DescribeStep(*m_report.Find(loader::Step::Keep)));
    return result.outcome == loader::Outcome::Mismatch ? ExitCode::VerifyMismatch : ExitCode::ProgramError;
}

ExitCode CSession::Backup()
{
    const ExitCode code =
        ReadInto(loader::kAreaStart, loader::kAreaEnd, m_options.backup, loader::Step::Backup);
    m_figures.erase("pages");
    if (code != ExitCode::Ok) return code;
    // Absolute: the records are read from other folders, and other PCs.
    if (m_records)
        m_records->Attempt().backupFile =
            platform::Absolute(platform::CPath::FromUtf8(m_options.backup)).Utf8();
    // The backup is an upgrade file of its own: its ID file goes beside it.
    const std::string idFrom = IdFileName(m_options.file);
    const std::string idTo = IdFileName(m_options.backup);
    // Written and on the disk before the erase, or the run ends here. The .id as it was
    // read with the upgrade: it belongs to the bytes flashed, not to what lies there now.
    if (idFrom.empty() || idTo.empty()) return ExitCode::Ok;
    if (const auto error = upgrade::CopyIdFile(*m_upgrade, idTo)) {
        Message("torvane-cli: " + *error);
        return ExitCode::Failed;
    }
    return ExitCode::Ok;
}

void CSession::ReturnTo9600()
{
    if (!loader::ReturnTo9600(*m_engine, m_report, true).result.Ok()) Message(IDS_NO_9600);
}
