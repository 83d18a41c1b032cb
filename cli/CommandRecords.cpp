#include "cli/CommandRecords.h"

#include <CLI/CLI.hpp>

#include "platform/Paths.h"
#include "records/RecordStore.h"
#include "upgrade/UpgradeFile.h"

CCommandRecords::CCommandRecords() = default;
CCommandRecords::~CCommandRecords() = default;

void CCommandRecords::AddOptions(CLI::App* command, RecordsChoice& choice)
{
    CLI::Option* file = command->add_option(
        "--records", choice.file,
        "the records database to write (default: " + CRecordStore::DefaultPath().Utf8() + ")");
    command->add_flag("--no-records", choice.none, "write no record")->excludes(file);
}

bool CCommandRecords::Open(const RecordsChoice& choice, std::ostream& err, Default required)
{
    if (choice.none) return true;
    std::string error;
    if (!choice.file.empty()) {
        m_store = CRecordStore::Open(platform::CPath::FromUtf8(choice.file), RecordsFile::Named, error);
        if (!m_store) err << "torvane-cli: records file refused: " << error << '\n';
        return m_store != nullptr;
    }
    m_store = CRecordStore::Open(CRecordStore::DefaultPath(), RecordsFile::Default, error);
    if (!m_store && required == Default::Required) {
        err << "torvane-cli: records file refused: " << error << '\n';
        return false;
    }
    if (!m_store) err << "torvane-cli: warning: no records are kept: " << error << '\n';
    return true;
}

bool CCommandRecords::Begin(const CliOptions& options, const std::string& port,
                            const upgrade::UpgradeSource* upgrade)
{
    m_problem.clear();
    m_attempt = CAttempt();
    m_attempt.id = options.attemptId;
    // A station's attempts are programs, told apart by their own command.
    m_attempt.command = options.stationRun.empty() ? options.command : "station";
    m_attempt.port = port;
    m_attempt.device = platform::PortDevice(port).Utf8();
    if (options.baud) m_attempt.baudRate = *options.baud;
    if (!options.file.empty()) {
        m_attempt.fileName = platform::Absolute(platform::CPath::FromUtf8(options.file)).Utf8();
        upgrade::UpgradeSource ownRead;
        if (!upgrade) upgrade = &(ownRead = upgrade::ReadUpgrade(options.file));
        if (upgrade->read) {
            m_attempt.fileSize = static_cast<int64_t>(upgrade->bytes.size());
            m_attempt.fileSha256 = upgrade->sha256;
        }
    }
    if (!m_store) {
        // Kept for an --on-result hook, which hears of every attempt, stored or not.
        CRecordStore::StampBegun(m_attempt);
        m_begun = true;
        return true;
    }
    if (!m_store->Begin(m_attempt)) {
        m_problem = "torvane-cli: cannot write the record: " + m_store->LastError();
        return false;
    }
    m_begun = true;
    if (onBegun) onBegun(m_attempt.id);
    return true;
}

void CCommandRecords::Message(const std::string& line)
{
    m_attempt.messages.push_back(line);
}

ExitCode CCommandRecords::Complete(ExitCode code, const nlohmann::json& figures)
{
    m_problem.clear();
    if (!m_begun) return code;
    CAttempt& a = m_attempt;
    a.exitCode = static_cast<int>(code);
    const bool programs = a.command == "program" || a.command == "station";
    if (figures.contains("output") && programs)
        a.backupFile =
            platform::Absolute(platform::CPath::FromUtf8(figures["output"].get<std::string>())).Utf8();

    if (!m_store) {
        CRecordStore::StampEnded(a);
        return code;
    }
    if (m_store->Complete(a)) return code;
    m_problem = "torvane-cli: cannot write the record: " + m_store->LastError();
    return code == ExitCode::Ok ? ExitCode::Failed : code;
}

void CCommandRecords::NoteAfterCompletion(const std::string& line)
{
    if (!m_store || !m_begun) return;
    m_attempt.messages.push_back(line);
    if (!m_store->Complete(m_attempt))
        m_problem = "torvane-cli: cannot write the record: " + m_store->LastError();
}
