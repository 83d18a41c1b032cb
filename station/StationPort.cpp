#include "station/StationPort.h"

#include <algorithm>
#include <cctype>

#include "loader/Engine.h"
#include "loader/RateSearch.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/OutputFile.h"
#include "platform/Paths.h"
#include "platform/ThisProcess.h"
#include "records/Outcomes.h"
#include "records/RecordStore.h"
#include "records/RecordTime.h"

namespace station {

namespace {

std::string ClockTime()
{
    const std::string local = records::LocalText(records::NowMs()); // 2026-12-09T13:06:01+01:00
    return local.size() >= 19 ? local.substr(11, 8) : local;
}

// The report as the records count its attempt: the summary's passed and failed are then
// the figures records --stats and the line's page give for the same panels.
records::Yield YieldOf(const AttemptReport& report)
{
    CAttempt attempt;
    attempt.command = "station";
    attempt.outcome = report.end == AttemptEnd::Passed   ? outcome::kPass
                      : report.end == AttemptEnd::Failed ? outcome::kFail
                                                         : outcome::kStopped;
    if (report.flashTouched) attempt.eraseResult = step::kOk;
    return records::YieldOf(attempt);
}

} // namespace

// The attempt's steps as messages: pages with the time left, a wait with its countdown.
class CStationPort::Steps final : public IStepSink
{
public:
    explicit Steps(const MessageSink& emit) : m_emit(emit) {}

    void StepBegun(Step step, uint32_t expectedMs) override
    {
        m_step = step;
        m_began = GetTickCount();
        m_expectedMs = expectedMs;
        m_shownLeft = UINT32_MAX;
        if (expectedMs) Waiting();
    }
    void PageDone(uint32_t done, uint32_t total) override
    {
        if (!m_step) return;
        const uint64_t elapsed = GetTickCount() - m_began;
        const uint32_t left =
            done ? static_cast<uint32_t>((elapsed * (total - done) / done + 500) / 1000) : 0;
        m_emit(StepShown{*m_step, done, total, left});
    }
    void Waiting() override
    {
        if (!m_step || !m_expectedMs) return;
        const uint32_t elapsed = GetTickCount() - m_began;
        const uint32_t leftMs = elapsed >= m_expectedMs ? 0 : m_expectedMs - elapsed;
        const uint32_t left = (leftMs + 999) / 1000;
        if (left == m_shownLeft) return;
        m_shownLeft = left;
        m_emit(StepShown{*m_step, 0, 0, left});
    }

private:
    const MessageSink& m_emit;
    std::optional<Step> m_step;
    uint32_t m_began = 0, m_expectedMs = 0, m_shownLeft = UINT32_MAX;
};

CStationPort::CStationPort(const std::string& port, const std::string& backupDir, IPanelAttempt& attempt,
                           MessageSink emit)
    : m_port(port), m_backupDir(backupDir), m_attempt(attempt), m_emit(std::move(emit))
{
}

CStationPort::~CStationPort() = default;

bool CStationPort::Stopping() const
{
    return stopRequested ? stopRequested() : platform::InterruptCount() > 0;
}

// Sleeps in short steps so that a stop is seen at once.
bool CStationPort::Pause(uint32_t ms)
{
    for (uint32_t slept = 0; slept < ms && !Stopping(); slept += 50)
        Sleep(std::min<uint32_t>(50, ms - slept));
    return !Stopping();
}

void CStationPort::State(FixtureState state, const std::string& text, const std::string& last,
                         std::optional<int> exitCode)
{
    State(StateChanged{state, text, 0, 0, last, exitCode, std::nullopt, {}});
}

void CStationPort::State(StateChanged changed)
{
    if (changed.state == m_state && changed.text == m_text) return;
    m_state = changed.state;
    m_text = changed.text;
    changed.passed = m_passed;
    changed.failed = m_failed;
    m_emit(changed);
}

bool CStationPort::OpenLink()
{
    // A port that went away is never used again: its name may lead to a new device.
    if (m_link.IsOpen() && m_link.IsHungUp()) CloseLink();
    if (m_link.IsOpen()) return true;
    if (!m_link.Open(m_port)) {
        const platform::OpenError error = m_link.LastOpenError();
        // Another station (or program) has this fixture: it is not ours for this run.
        if (error == platform::OpenError::InUse && !m_everOpened) m_inUseAtStart = true;
        if (error == platform::OpenError::InUse)
            State(FixtureState::InUse, "port in use");
        else
            State(FixtureState::NoPort, "no port (" + platform::DescribeOpenError(error) + ")");
        return false;
    }
    m_everOpened = true;
    m_engine = std::make_unique<loader::CEngine>(m_link, nullptr);
    m_engine->SetLinkRate(loader::kBaseRate);
    return true;
}

void CStationPort::CloseLink()
{
    m_engine.reset();
    m_link.Close();
}

FixtureEnd CStationPort::Run()
{
    if (std::string refusal; !m_attempt.Prepare(refusal, m_refusalCode)) {
        State(StateChanged{FixtureState::Fail, "FAIL: " + refusal, 0, 0, {}, {}, std::nullopt, refusal});
        return FixtureEnd::UpgradeRefused;
    }
    if (waitUntilGoneFirst) WaitUntilGone(false);
    while (!Stopping()) {
        if (nextSerial && !m_serialScanned) {
            State(FixtureState::Scan, "scan the next serial");
            if (!nextSerial(m_scannedSerial)) break;
            m_serialScanned = true;
        }
        if (!WaitForPanel()) break;
        // Its ID check passed since its power-on, and not in this loop: an earlier run
        // (or this one, before the adapter was pulled) handled it. Flashed again only when
        // the journal says that attempt did not pass.
        if (m_found.IdVerified() && m_attempt.LastAttemptPassed(m_port)) {
            State(FixtureState::PassedEarlier, "PASS (earlier run)");
            WaitUntilGone(true);
            continue;
        }
        WaitUntilGone(FlashPanel());
    }
    CloseLink();
    if (m_inUseAtStart) return FixtureEnd::PortInUse;
    State(FixtureState::Stopped, "stopped");
    return m_recordFailed ? FixtureEnd::RecordLost : FixtureEnd::Stopped;
}

bool CStationPort::WaitForPanel()
{
    const uint32_t remembered = m_attempt.RememberedRate(m_port);
    for (uint32_t round = 1; !Stopping(); ++round) {
        if (!OpenLink()) {
            if (m_inUseAtStart) return false;
            Pause(kStationReopenGap);
            continue;
        }
        State(FixtureState::Waiting, "waiting");
        // A panel fresh from power-on answers at 9600 bit/s: one rate keeps the probe
        // short, so that it is taken within a second of its first answer. Now and then
        // the status request (which nothing can mistake for a command) goes at the
        // remembered rate too, where a killed run may have left a panel.
        std::vector<uint32_t> rates{loader::kBaseRate};
        if (remembered != loader::kBaseRate && round % kStationRememberedEvery == 0)
            rates.push_back(remembered);
        const loader::PanelSearch search = loader::FindPanel(*m_engine, rates);
        if (search.found) {
            m_found = search.status;
            return true;
        }
        if (search.outcome == loader::Outcome::PortLost) {
            CloseLink();
            continue;
        }
        Pause(kStationProbeGap);
    }
    return false;
}

// Port, host, time and the attempt's id: stations of several PCs, fixtures of one name
// and one backup folder never meet in one name, and the record names its own file.
std::string CStationPort::BackupName(const std::string& attemptId) const
{
    auto tidy = [](std::string text) {
        for (char& c : text)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
        return text;
    };
    const std::string name = tidy(platform::CPath::FromUtf8(m_port).FileName());
    std::string stamp = records::LocalText(records::NowMs()).substr(0, 19); // 2026-12-09T13:06:01
    for (char& c : stamp)
        if (c == ':') c = '-';
    return (platform::CPath::FromUtf8(m_backupDir) /
            (name + "-" + tidy(platform::HostName()) + "-" + stamp + "-" + attemptId + ".mot"))
        .Utf8();
}

bool CStationPort::FlashPanel()
{
    // The port stays open (and locked) from the probe that found the panel to the end:
    // no other program gets in between.
    State(FixtureState::Flashing, "flashing");
    AttemptRequest request;
    request.attemptId = CRecordStore::NewAttemptId();
    request.scannedSerial = m_scannedSerial;
    m_scannedSerial.clear();
    m_serialScanned = false;
    if (!m_backupDir.empty()) {
        request.backupFile = BackupName(request.attemptId);
        // Taken before anything is read into it; a name already there is never reused.
        std::string error;
        while (platform::CreateNewFile(platform::CPath::FromUtf8(request.backupFile), error) ==
               platform::NewFileStatus::Exists) {
            request.attemptId = CRecordStore::NewAttemptId();
            request.backupFile = BackupName(request.attemptId);
        }
    }
    Steps steps(m_emit);
    const AttemptReport report =
        m_attempt.Run(request, m_link, steps, [this](const std::string& id) { m_emit(AttemptBegun{id}); });
    if (!request.backupFile.empty()) {
        // The name taken for a backup that was never read is no backup.
        const platform::CPath backup = platform::CPath::FromUtf8(request.backupFile);
        if (platform::FileSize(backup) == uint64_t{0}) platform::RemoveFile(backup);
    }
    // The panel is what it is; a missing record is said beside it.
    m_recordFailed = m_recordFailed || report.recordLost;
    const std::string note = report.recordLost ? " (record not written)" : "";
    const std::string last = ClockTime();
    const records::Yield yield = YieldOf(report);
    if (yield == records::Yield::StoppedPartWay) {
        State(FixtureState::StoppedPartWay, "stopped part-way" + note, last, report.exitCode);
    } else if (records::CountsAsPassed(yield)) {
        ++m_passed;
        State(FixtureState::Pass, "PASS" + note, last, report.exitCode);
    } else if (records::CountsAsFailed(yield)) {
        ++m_failed;
        State(StateChanged{FixtureState::Fail, report.FailText() + note, 0, 0, last, report.exitCode,
                           report.failure ? std::optional(report.failure->step) : std::nullopt,
                           report.FailReason()});
    } else {
        State(FixtureState::Stopped, "stopped before the erase" + note, last, report.exitCode);
    }
    return report.idAnswered;
}

// idAnswered: the attempt read the ID-check field as verified or mismatched. The boot
// loader keeps that until its power goes; "not yet" then means another panel, even one
// swapped in faster than the second of silence that tells an empty fixture.
void CStationPort::WaitUntilGone(bool idAnswered)
{
    uint32_t lastAnswer = GetTickCount();
    while (!Stopping()) {
        // The adapter went, and the panel with it as far as this fixture can tell: the row
        // is told so before it says the adapter is missing.
        if (m_link.IsOpen() && m_link.IsHungUp()) {
            CloseLink();
            break;
        }
        if (!OpenLink()) break;
        // Every rate: a panel that a failure left at another one is still there.
        const loader::PanelSearch search =
            loader::FindPanel(*m_engine, loader::SearchOrder(loader::kBaseRate));
        if (search.outcome == loader::Outcome::PortLost) {
            CloseLink();
            break;
        }
        if (search.found && idAnswered && search.status.IdField() == 0) break;
        if (search.found)
            lastAnswer = GetTickCount();
        else if (GetTickCount() - lastAnswer >= kStationGoneAfter)
            break;
        Pause(kStationProbeGap);
    }
    if (!Stopping()) State(FixtureState::Removed, "removed");
}

} // namespace station
