#include "cli/StationPort.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "cli/CommandRecords.h"
#include "cli/RateMemory.h"
#include "cli/Reporter.h"
#include "cli/Session.h"
#include "cli/records/RecordStore.h"
#include "cli/records/RecordTime.h"
#include "loader/Engine.h"
#include "loader/RateSearch.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/OutputFile.h"
#include "platform/Paths.h"
#include "platform/SerialDriver.h"
#include "platform/ThisProcess.h"

namespace {

// Hands every line the session's reporter writes (one JSON event each) to the sink.
class CEventLines final : public std::stringbuf
{
public:
    explicit CEventLines(const CStationPort::EventSink& emit) : m_emit(emit) {}

protected:
    int sync() override
    {
        std::string text = str();
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            const nlohmann::json event =
                nlohmann::json::parse(text.substr(start, end - start), nullptr, false);
            if (!event.is_discarded()) m_emit(event);
        }
        str(text.substr(start));
        return 0;
    }

private:
    const CStationPort::EventSink& m_emit;
};

std::string ClockTime()
{
    const std::string local = records::LocalText(records::NowMs()); // 2026-12-09T13:06:01+01:00
    return local.size() >= 19 ? local.substr(11, 8) : local;
}

} // namespace

CStationPort::CStationPort(const CliOptions& options, const std::string& backupDir, CCommandRecords* records,
                           EventSink emit)
    : m_options(options), m_port(options.ports.front()), m_backupDir(backupDir), m_records(records),
      m_emit(std::move(emit))
{
    m_options.command = "program";
    m_options.ports = {m_port};
    m_options.backup.clear();
    m_options.ifDifferent = false;
    m_options.mode = OutputMode::Json;
    // The station records the attempt itself if this process dies in the middle of it.
    if (m_records)
        m_records->onBegun = [this](const std::string& id) { m_emit({{"event", "attempt"}, {"id", id}}); };
}

CStationPort::~CStationPort()
{
    if (m_records) m_records->onBegun = nullptr;
}

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

void CStationPort::State(const std::string& state, const std::string& text, nlohmann::json extra)
{
    if (state == m_state && text == m_text) return;
    m_state = state;
    m_text = text;
    nlohmann::json event = {{"event", "state"}, {"port", m_port},     {"state", state},
                            {"text", text},     {"passed", m_passed}, {"failed", m_failed}};
    if (extra.is_object()) event.update(extra);
    m_emit(event);
}

bool CStationPort::OpenLink()
{
    if (m_link.IsOpen()) return true;
    if (!m_link.Open(m_port)) {
        const platform::OpenError error = m_link.LastOpenError();
        // Another station (or program) has this fixture: it is not ours for this run.
        if (error == platform::OpenError::InUse && !m_everOpened) m_inUseAtStart = true;
        State(error == platform::OpenError::InUse ? "in use" : "no port",
              error == platform::OpenError::InUse ? "port in use"
                                                  : "no port (" + platform::DescribeOpenError(error) + ")");
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

int CStationPort::Run()
{
    if (!m_upgrade) {
        m_ownUpgrade = ReadUpgradeFile(m_options.file);
        m_upgrade = &m_ownUpgrade;
    }
    {
        CMotFile image;
        std::vector<std::string> lines;
        if (const ExitCode judged = CSession::JudgeUpgradeFile(m_options, *m_upgrade, image, lines);
            judged != ExitCode::Ok) {
            std::string reason = ExitCodeName(judged);
            for (const std::string& line : lines)
                if (line.rfind("torvane-cli: warning:", 0) != 0) reason = CReporter::OneLine(line);
            State("fail", "FAIL: " + reason);
            return static_cast<int>(judged);
        }
    }
    if (waitUntilGoneFirst) WaitUntilGone(false);
    while (!Stopping()) {
        if (nextSerial) {
            State("scan", "scan the next serial");
            std::string serial;
            if (!nextSerial(serial)) break;
            m_options.scannedSerial = serial;
        }
        if (!WaitForPanel()) break;
        WaitUntilGone(FlashPanel());
    }
    CloseLink();
    if (m_inUseAtStart) return static_cast<int>(ExitCode::PortInUse);
    State("stopped", "stopped");
    return m_recordFailed ? 1 : 0;
}

bool CStationPort::WaitForPanel()
{
    const uint32_t remembered = RememberedRate(m_port);
    for (uint32_t round = 1; !Stopping(); ++round) {
        if (!OpenLink()) {
            if (m_inUseAtStart) return false;
            Pause(kStationReopenGap);
            continue;
        }
        State("waiting", "waiting");
        // A panel fresh from power-on answers at 9600 bit/s: one rate keeps the probe
        // short, so that it is taken within a second of its first answer. Now and then
        // the status request (which nothing can mistake for a command) goes at the
        // remembered rate too, where a killed run may have left a panel.
        std::vector<uint32_t> rates{loader::kBaseRate};
        if (remembered != loader::kBaseRate && round % kStationRememberedEvery == 0)
            rates.push_back(remembered);
        const loader::PanelSearch search = loader::FindPanel(*m_engine, rates);
        if (search.found) return true;
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
    State("flashing", "flashing");
    CliOptions options = m_options;
    options.attemptId = CRecordStore::NewAttemptId();
    if (!m_backupDir.empty()) {
        options.backup = BackupName(options.attemptId);
        // Taken before anything is read into it; a name already there is never reused.
        std::string error;
        while (platform::CreateNewFile(platform::CPath::FromUtf8(options.backup), error) ==
               platform::NewFileStatus::Exists) {
            options.attemptId = CRecordStore::NewAttemptId();
            options.backup = BackupName(options.attemptId);
        }
    }
    CEventLines lines(m_emit);
    std::ostream out(&lines), none(nullptr);
    CReporter reporter(OutputMode::Json, out, none, false, 80);
    CSession session(options, reporter, m_records);
    session.PinUpgrade(*m_upgrade);
    if (m_link.IsOpen()) session.UseOpenLink(m_link);
    std::string lastMessage;
    session.onMessage = [&lastMessage](const std::string& text) { lastMessage = CReporter::OneLine(text); };
    const ExitCode code = session.Run();
    out.flush();
    m_options.scannedSerial.clear();
    if (!options.backup.empty()) {
        // The name taken for a backup that was never read is no backup.
        const platform::CPath backup = platform::CPath::FromUtf8(options.backup);
        if (platform::FileSize(backup) == uint64_t{0}) platform::RemoveFile(backup);
    }
    const bool idAnswered = session.IdAnswered();

    bool passed = code == ExitCode::Ok;
    std::string note;
    if (m_records && m_records->Enabled() && !m_records->Problem().empty()) {
        // The panel is what it is; the missing record is said beside it.
        m_recordFailed = true;
        passed = m_records->Attempt().outcome == outcome::kPass;
        note = " (record not written)";
        if (!passed && lastMessage.empty()) lastMessage = m_records->Problem();
    }
    const nlohmann::json extra = {{"last", ClockTime()}, {"exit_code", static_cast<int>(code)}};
    if (code == ExitCode::Stopped) {
        State("stopped", "stopped part-way" + note, extra);
        return idAnswered;
    }
    if (passed) {
        ++m_passed;
        State("pass", "PASS" + note, extra);
        return idAnswered;
    }
    ++m_failed;
    const std::string reason = !lastMessage.empty() ? lastMessage : ExitCodeName(code);
    State("fail", "FAIL: " + reason + note, extra);
    return idAnswered;
}

// idAnswered: the attempt read the ID-check field as verified or mismatched. The boot
// loader keeps that until its power goes; "not yet" then means another panel, even one
// swapped in faster than the second of silence that tells an empty fixture.
void CStationPort::WaitUntilGone(bool idAnswered)
{
    uint32_t lastAnswer = GetTickCount();
    while (!Stopping()) {
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
    if (!Stopping()) State("removed", "removed");
}
