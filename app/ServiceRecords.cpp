#include "app/ServiceRecords.h"

#include <cstdio>

#include "app/TorvaneApp.h"
#include "framework/Host.h"
#include "platform/Paths.h"
#include "records/RecordStore.h"
#include "records/RecordTime.h"

namespace {

// A quarter of a second: enough for another writer's commit, never a frozen window.
constexpr int kServiceBusyTimeoutMs = 250;

// The record's word for a step's result.
const char* StepWord(const loader::Result& result, bool compare)
{
    switch (result.outcome) {
    case loader::Outcome::Done:
        return step::kOk;
    case loader::Outcome::Cancelled:
        return step::kStopped;
    case loader::Outcome::Mismatch:
        return compare ? step::kMismatch : step::kFailed;
    default:
        return step::kFailed;
    }
}

} // namespace

std::optional<CAttempt> ServiceAttempt(const ServiceRun& run, const loader::RunReport& report)
{
    if (report.steps.empty()) return std::nullopt;
    CAttempt attempt;
    attempt.command = "windows " + run.command;
    attempt.port = run.port;
    attempt.device = platform::PortDevice(run.port).Utf8();
    attempt.fileName = run.fileName;
    attempt.fileSize = run.fileSize;
    attempt.fileSha256 = run.fileSha256;
    attempt.pagePauseMs = run.pagePause;
    attempt.pagesSent = report.pagesSent;
    if (report.rate) attempt.baudRate = report.rate;
    attempt.loaderVersion = report.version;
    attempt.startedUtc = records::UtcText(run.startedMs);
    attempt.messages = run.messages;
    // The steps' own time: a confirmation, a result box or a recovery's dialogs left open
    // are the technician's, not the panel's.
    int64_t stepsMs = 0;
    for (const loader::StepReport& step : report.steps)
        stepsMs += step.milliseconds;
    attempt.durationMs = stepsMs;

    // A step may run more than once (the status after a range and at the end): the last
    // of each decides, as the windows' own verdict does.
    using loader::Step;
    if (const auto* erase = report.Find(Step::Erase)) attempt.eraseResult = StepWord(erase->result, false);
    const auto* program = report.Find(Step::Program);
    const auto* programStatus = report.Find(Step::ProgramStatus);
    if (program) {
        const bool ok = program->result.Ok() && (!programStatus || programStatus->result.Ok());
        attempt.programResult = ok ? step::kOk : StepWord(program->result.Ok() ? programStatus->result
                                                                               : program->result,
                                                          false);
    }
    if (const auto* verify = report.Find(Step::Verify)) attempt.verifyResult = StepWord(verify->result, true);

    const loader::StepReport* failure = report.Failure();
    if (!failure)
        attempt.outcome = outcome::kPass;
    else if (failure->result.outcome == loader::Outcome::Cancelled)
        attempt.outcome = outcome::kStopped;
    else
        attempt.outcome = outcome::kFail;
    attempt.failReason = report.FailReason();
    if (failure) {
        attempt.failStep = loader::StepName(failure->step);
        attempt.failKind = loader::DescribeOutcome(*failure);
    }
    if (failure && failure->result.outcome != loader::Outcome::Cancelled)
        attempt.messages.push_back(attempt.failReason);
    return attempt;
}

bool WriteServiceAttempt(CAttempt& attempt)
{
    std::string error;
    const platform::CPath path = CRecordStore::DefaultPath();
    std::unique_ptr<CRecordStore> store = CRecordStore::Open(path, RecordsFile::Default, error);
    if (store) {
        // Written after the command: a file held by another writer is not waited for.
        store->SetBusyTimeout(kServiceBusyTimeoutMs);
        // Begun and completed at once: the row never shows as unfinished.
        const std::string outcome = attempt.outcome;
        if (store->Begin(attempt)) {
            attempt.outcome = outcome;
            if (store->Complete(attempt)) return true;
        }
        error = store->LastError();
    }
    std::fprintf(stderr, "torvane: the attempt was not recorded: %s\n", error.c_str());
    return false;
}

CServiceRecording::CServiceRecording(std::string command)
{
    CTorvaneApp& app = TheApp();
    m_run.command = std::move(command);
    m_run.port = app.PortName();
    m_run.fileName = app.m_loadedFile.name;
    m_run.fileSize = app.m_loadedFile.size;
    m_run.fileSha256 = app.m_loadedFile.sha256;
    m_run.pagePause = app.CommandPagePause();
    m_run.startedMs = records::NowMs();
    AfxWatchMessageBoxes([this](const std::string& text) { m_run.messages.push_back(text); });
}

CServiceRecording::~CServiceRecording()
{
    AfxWatchMessageBoxes(nullptr);
}

void CServiceRecording::Finish(const loader::RunReport& report)
{
    AfxWatchMessageBoxes(nullptr);
    if (m_finished) return;
    m_finished = true;
    if (std::optional<CAttempt> attempt = ServiceAttempt(m_run, report)) WriteServiceAttempt(*attempt);
}
