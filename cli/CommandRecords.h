#pragma once
// The record of one program, verify or erase: the options that choose the records
// file, the file opened and checked before any panel is touched, the row begun before
// the work and completed after it.
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/ExitCode.h"
#include "cli/Options.h"
#include "records/Attempt.h"

namespace CLI {
class App;
}
class CRecordStore;
namespace upgrade {
struct UpgradeSource;
}

class CCommandRecords
{
public:
    CCommandRecords();
    ~CCommandRecords();

    static void AddOptions(CLI::App* command, RecordsChoice& choice);

    // False only when a file named with --records is refused: the line is on err and
    // the command ends with ExitCode::Failed before it touches a panel. The default file
    // that cannot be used gives one warning and no records, unless records are required
    // (a station, which promises every attempt recorded): then it is refused as well.
    enum class Default { Optional, Required };
    bool Open(const RecordsChoice& choice, std::ostream& err, Default required = Default::Optional);
    bool Enabled() const { return m_store != nullptr; }
    // The open journal (null without records), for SendRecordsAtEnd (cli/RecordsServerOptions.h).
    CRecordStore* Store() const { return m_store.get(); }

    // Inserts the attempt as unfinished (without records, only keeps it for the
    // --on-result hook), with what the command line tells: command,
    // port and its device, the upgrade file with its size and SHA-256, the rate asked
    // for. False when it cannot be written (the line in Problem()): the caller should not
    // flash a panel it cannot record. The size and digest are those of the upgrade's bytes
    // as the caller read them (read here when it gives none).
    bool Begin(const CliOptions& options, const std::string& port,
               const upgrade::UpgradeSource* upgrade = nullptr);
    // The attempt, for the caller to fill what it learns on the way (the boot loader's
    // version, the steps' results, pages sent, page pause, serial, backup file).
    CAttempt& Attempt() { return m_attempt; }
    // Told the id of each attempt once its unfinished row is written.
    std::function<void(const std::string& id)> onBegun;
    // A line the user was shown.
    void Message(const std::string& line);
    // Completes the record: the caller has set its outcome and steps from the run; the
    // exit code is kept, and the figures' "output" (a backup read) for a program. Returns the exit code to
    // end with: ExitCode::Failed when the write failed and code was Ok (the line in Problem(), for the caller
    // to show with the result).
    ExitCode Complete(ExitCode code, const nlohmann::json& figures);
    // A line said after the record was completed (an on-result hook that failed): kept
    // with the record, whose outcome stays as it is.
    void NoteAfterCompletion(const std::string& line);
    // Why the last Begin or Complete failed, as one line; empty when they did not.
    const std::string& Problem() const { return m_problem; }

private:
    std::unique_ptr<CRecordStore> m_store;
    CAttempt m_attempt;
    bool m_begun = false;
    std::string m_problem;
};
