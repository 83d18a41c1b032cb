#include "cli/Session.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "app/TorvaneApp.h"
#include "cli/FlashAccess.h"
#include "cli/OutputTargets.h"
#include "cli/SRecordWriter.h"
#include "commands/StatesDlg.h"
#include "commands/VersionDlg.h"
#include "framework/Dialog.h"
#include "framework/console/ConsoleHost.h"
#include "image/shell/IDCheckDlg.h"
#include "link/SerialCommState.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/Paths.h"
#include "res/Resource.h"

namespace {

constexpr uint32_t kAreaStart = 0xF0000;
constexpr uint32_t kAreaEnd = 0x100000;

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

CSession::CSession(const CliOptions& options, CReporter& reporter) : m_options(options), m_reporter(reporter)
{
}

void CSession::Fail(ExitCode code)
{
    if (m_outcome == ExitCode::Ok) m_outcome = code;
}

bool CSession::Going() const
{
    return m_outcome == ExitCode::Ok && platform::InterruptCount() == 0;
}

void CSession::OnMessage(const std::string& text)
{
    m_reporter.Message(text);
    if (onMessage) onMessage(text);
    auto is = [&text](unsigned id) { return text == AfxLoadString(id); };
    if (StartsWith(text, AfxLoadString(IDS_NOT_MATCH)) || StartsWith(text, AfxLoadString(IDS_NOT_BLANK))) {
        Fail(ExitCode::VerifyMismatch);
    } else if (StartsWith(text, "Can not open ")) {
        Fail(m_app && m_app->m_link.LastOpenError() == platform::OpenError::InUse ? ExitCode::PortInUse
                                                                                  : ExitCode::PortOpen);
    } else if (is(IDS_TIMEOUT_ERROR) || is(IDS_CAN_NOT_COMMUNICATE) || is(IDS_NO_OUTSIDE)) {
        // Silence from a port that never opened is the port's fault, not the panel's.
        if (m_app && !m_app->m_link.IsOpen())
            Fail(m_app->m_link.LastOpenError() == platform::OpenError::InUse ? ExitCode::PortInUse
                                                                             : ExitCode::PortOpen);
        Fail(ExitCode::Silent);
    } else if (is(IDS_CAN_NOT_ACCEPT_FILE) || is(IDS_NO_ID_FILE) || is(IDS_NO_FILENAME)) {
        Fail(ExitCode::FileRefused);
    } else if (is(IDS_NOT_MATCH_ID) || is(IDS_DID_NOT_PASS_ID)) {
        Fail(ExitCode::IdFailed);
    } else if (is(IDS_ERASE_ERROR)) {
        Fail(ExitCode::EraseError);
    } else if (is(IDS_ERASE_OK)) {
        m_eraseOk = true;
    } else if (is(IDS_PROGRAM_ERROR)) {
        Fail(ExitCode::ProgramError);
    } else if (is(IDS_PROGRAM_OK)) {
        m_programOk = true;
        m_programMs = GetTickCount() - m_programStart;
    } else if (is(IDS_STOP_PROGRAMMING)) {
        Fail(ExitCode::Stopped);
    } else if (is(IDS_TOO_SMALL_START)) {
        Fail(ExitCode::Usage);
    }
}

ExitCode CSession::Run()
{
    const std::string& port = m_options.ports.front();
    m_reporter.Start(m_options.command, port);
    nlohmann::json figures;

    if (!m_options.file.empty() &&
        !std::filesystem::is_regular_file(platform::PathFromUtf8(m_options.file))) {
        m_reporter.Message("torvane-cli: " + m_options.file + ": no such file");
        m_reporter.Result(ExitCode::FileRefused, figures);
        return ExitCode::FileRefused;
    }

    CConsoleHost host;
    IHost* previousHost = SetHost(&host);
    host.onMessageBox = [this](const MessageBoxRecord& box) { OnMessage(box.text); };
    host.onProgressStart = [this](const CConsoleHost::Progress& p) { m_reporter.ProgressStart(p.title); };
    host.onProgress = [this](const CConsoleHost::Progress& p) {
        m_reporter.Progress(p.title, p.position, p.upper);
        if (onProgress) onProgress(p.title, p.position);
    };
    host.onProgressEnd = [this](const CConsoleHost::Progress&) { m_reporter.ProgressEnd(); };
    host.stopRequested = [] { return platform::InterruptCount() > 0; };

    host.SetAnswer(IDD_S_PRG, [&port, this](CDialog& d) {
        // Offered again after a port that did not open: that is the answer.
        if (m_sawPortDialog) return;
        m_sawPortDialog = true;
        CConsoleHost::SetText(d, IDC_PORT, port);
        CConsoleHost::Press(d, IDOK);
    });
    host.SetAnswer(IDD_FIRSTSET, [this](CDialog& d) {
        if (Going()) CConsoleHost::Press(d, IDOK);
    });
    host.SetAnswer(IDD_SETCOMM, [this](CDialog& d) {
        // One answer after a time-out: a panel that stays silent must end the chain.
        if (m_outcome != ExitCode::Ok && m_outcome != ExitCode::Silent) return;
        if (m_outcome == ExitCode::Silent && ++m_rateDialogs > 1) return;
        if (m_options.baud) CConsoleHost::SetText(d, IDC_BAUDRATE, std::to_string(*m_options.baud));
        CConsoleHost::Press(d, IDOK);
    });
    host.SetAnswer(IDD_IDCHECK, [this, &host](CDialog& d) {
        if (!Going() || m_options.file.empty()) return;
        host.SetFileAnswer(m_options.file);
        CConsoleHost::Press(d, IDC_LOAD);
        if (Going()) CConsoleHost::Press(d, IDOK);
    });
    host.SetAnswer(IDD_TORVANE_DIALOG, [this](CDialog& d) { RunPanel(d); });
    auto ok = [this](CDialog& d) {
        if (Going()) CConsoleHost::Press(d, IDOK);
    };
    host.SetAnswer(IDD_PREWRITE, [this](CDialog& d) {
        m_programStart = GetTickCount();
        if (Going()) CConsoleHost::Press(d, IDOK);
    });
    host.SetAnswer(IDD_PREERASE, ok);
    host.SetAnswer(IDD_SETADDRESS, [this](CDialog& d) {
        if (!Going()) return;
        if (m_options.rangeStart) {
            CConsoleHost::SetText(d, IDC_START_ADDRESS, CCheckMemorryCmd::ToHex6(*m_options.rangeStart));
            CConsoleHost::SetText(d, IDC_END_ADDRESS, CCheckMemorryCmd::ToHex6(*m_options.rangeEnd));
        }
        CConsoleHost::Press(d, IDOK);
    });
    host.SetAnswer(IDD_STATES, [this](CDialog& d) {
        auto& s = static_cast<CStatesDlg&>(d);
        const std::pair<const char*, const std::string*> rows[] = {
            {"ready", &s.m_strReady},
            {"erase", &s.m_strErase},
            {"program", &s.m_strProgram},
            {"block", &s.m_strAfterBlock},
            {"check_sum", &s.m_strCheckSum},
            {"id_check", &s.m_strIdCheck},
            {"receive_timeout", &s.m_strReceiveTimeout},
            {"over_number", &s.m_strOverNumber}};
        for (const auto& [name, value] : rows)
            m_reporter.Value(name, *value);
        m_done = true;
        CConsoleHost::Press(d, IDOK);
    });
    host.SetAnswer(IDD_VERSION, [this](CDialog& d) {
        m_reporter.Value("version", static_cast<CVersionDlg&>(d).m_strVersion);
        m_done = true;
        CConsoleHost::Press(d, IDOK);
    });

    {
        CTorvaneApp app;
        m_app = &app;
        app.m_bSingleInstance = FALSE;
        app.InitInstance();
        if (m_baud) figures["baud"] = m_baud;
        m_app = nullptr;
    }
    SetHost(previousHost);

    if (m_outcome == ExitCode::Ok && platform::InterruptCount() > 0) m_outcome = ExitCode::Stopped;
    if (m_outcome == ExitCode::Ok && !m_done) m_outcome = ExitCode::Failed;
    if (m_pages) figures["pages"] = m_pages;
    if (m_options.verify) figures["verified"] = m_verified;
    // The phases' own times, for the benchmark: "Program" confirmed to "Program OK.", the compare alone.
    if (m_programOk) figures["program_seconds"] = m_programMs / 1000.0;
    if (m_verified) figures["verify_seconds"] = m_verifyMs / 1000.0;
    if (!m_written.empty()) figures["output"] = m_written;
    m_reporter.Result(m_outcome, figures);
    return m_outcome;
}

bool CSession::CheckReady()
{
    if (!m_app->m_bLinkOk) {
        AfxMessageBox(IDS_CAN_NOT_COMMUNICATE, MB_ICONINFORMATION);
        return false;
    }
    if (!m_app->m_bIdPassed) {
        AfxMessageBox(IDS_DID_NOT_PASS_ID, MB_ICONINFORMATION);
        return false;
    }
    return true;
}

void CSession::RunPanel(CDialog& panel)
{
    if (Going() && m_options.baud) CConsoleHost::Press(panel, IDC_SETTING);
    if (Going()) {
        const std::string& c = m_options.command;
        if (c == "program") {
            Program(panel);
        } else if (c == "status") {
            CConsoleHost::Press(panel, IDC_STATUS);
        } else if (c == "version") {
            CConsoleHost::Press(panel, IDC_VERSION);
        } else if (c == "erase") {
            CConsoleHost::Press(panel, IDC_ERASE);
            m_done = m_eraseOk;
            if (!m_eraseOk) Fail(ExitCode::EraseError);
        } else if (c == "blank") {
            CConsoleHost::Press(panel, IDC_BLANK);
            m_done = Going();
        } else if (c == "read") {
            Read();
        } else if (c == "verify") {
            if (CheckReady()) Verify(kAreaStart, kAreaEnd);
            m_done = m_verified;
        }
    }
    CSerialCommState state;
    if (m_app->m_link.GetState(state)) m_baud = state.m_dwBaudRate;
    // A silent panel or a port that never opened cannot be asked to change speed.
    if (m_outcome == ExitCode::Silent || m_outcome == ExitCode::PortOpen || m_outcome == ExitCode::PortInUse)
        panel.EndDialog(IDCANCEL);
    else
        CConsoleHost::Press(panel, IDCANCEL); // "Exit": back to 9600 bit/s
}

void CSession::Program(CDialog& panel)
{
    if (!m_options.backup.empty() && !Backup()) return;
    if (!Going()) return;
    CConsoleHost::Press(panel, IDC_ERASE);
    if (!m_eraseOk) {
        Fail(ExitCode::EraseError);
        return;
    }
    if (!Going()) return;
    CConsoleHost::Press(panel, IDC_PROGRAM);
    if (!m_programOk) {
        Fail(ExitCode::ProgramError);
        return;
    }
    m_pages = (kAreaEnd - kAreaStart) / kPageSize;
    if (m_options.verify) {
        if (!Going()) return;
        Verify(kAreaStart, kAreaEnd);
        if (!m_verified) return;
    }
    m_done = true;
}

bool CSession::ReadInto(uint32_t start, uint32_t end, const std::string& path)
{
    if (!CheckReady()) return false;
    CFlashAccess flash;
    std::vector<uint8_t> bytes;
    if (!flash.Read(start, end, bytes)) {
        Fail(platform::InterruptCount() > 0 ? ExitCode::Stopped : ExitCode::Silent);
        return false;
    }
    if (std::string error; !WriteSRecordFile(path, start, bytes, error)) {
        m_reporter.Message("torvane-cli: " + error);
        Fail(ExitCode::Failed);
        return false;
    }
    m_written = path;
    return true;
}

bool CSession::Backup()
{
    if (!ReadInto(kAreaStart, kAreaEnd, m_options.backup)) return false;
    // The backup is an upgrade file of its own: its ID file goes beside it.
    const std::string idFrom = CIDCheckDlg::IdFileName(m_options.file);
    const std::string idTo = CIDCheckDlg::IdFileName(m_options.backup);
    if (std::string error; !idFrom.empty() && !idTo.empty() && !CopyIdFile(idFrom, idTo, error)) {
        m_reporter.Message("torvane-cli: " + error);
        Fail(ExitCode::Failed);
        return false;
    }
    return true;
}

void CSession::Verify(uint32_t start, uint32_t end)
{
    CFlashAccess flash;
    const uint32_t started = GetTickCount();
    const CFlashAccess::VerifyOutcome outcome = flash.Compare(start, end);
    m_verifyMs = GetTickCount() - started;
    switch (outcome) {
    case CFlashAccess::VerifyOutcome::Passed:
        m_verified = true;
        m_pages = std::max(m_pages, (end - start) / kPageSize);
        break;
    case CFlashAccess::VerifyOutcome::Mismatch:
        Fail(ExitCode::VerifyMismatch);
        break;
    case CFlashAccess::VerifyOutcome::ReadFailed:
        Fail(ExitCode::Silent);
        break;
    case CFlashAccess::VerifyOutcome::Cancelled:
        Fail(ExitCode::Stopped);
        break;
    }
}

void CSession::Read()
{
    const uint32_t start = *m_options.rangeStart - *m_options.rangeStart % kPageSize;
    const uint32_t end = *m_options.rangeEnd - *m_options.rangeEnd % kPageSize + kPageSize;
    if (ReadInto(start, end, m_options.output)) {
        m_pages = (end - start) / kPageSize;
        m_done = true;
    }
}
