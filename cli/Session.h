#pragma once
// One panel on one port, the road composed on the boot-loader engine: the file judged
// first, then the port, the panel found (at whatever rate a run left it), its status,
// the ID check, the command, and the panel back at 9600 bit/s on every way out that
// still has a link. Each engine result maps straight to an exit code.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/ExitCode.h"
#include "cli/Options.h"
#include "cli/Reporter.h"
#include "image/MotFile.h"
#include "link/SerialComm.h"
#include "loader/Engine.h"
#include "loader/Road.h"
#include "upgrade/UpgradeFile.h"

class CCommandRecords;
struct CAttempt;

class CSession
{
public:
    // With records, the attempt is begun before anything else and completed at the end.
    CSession(const CliOptions& options, CReporter& reporter, CCommandRecords* records = nullptr);
    ~CSession();
    ExitCode Run();

    // The upgrade file judged as the command judges it: its SHA-256 when one is
    // expected, its signature when keys are trusted, its records, and for the commands
    // that program or compare it, the area it fills.
    static upgrade::UpgradeVerdict JudgeUpgradeFile(const CliOptions& options,
                                                    const upgrade::UpgradeSource& source, CMotFile& image);
    // What the user is told of a verdict: the refusal, or a warning about what is not
    // programmed.
    static std::vector<std::string> VerdictLines(const upgrade::UpgradeVerdict& verdict,
                                                 const std::string& file);

    // The upgrade already read by the caller (it outlives the session); without it, Run
    // reads the file once itself.
    void PinUpgrade(const upgrade::UpgradeSource& upgrade) { m_upgrade = &upgrade; }
    // A port the caller keeps open (and locked) before and after the session.
    void UseOpenLink(CSerialComm& link) { m_link = &link; }
    // Each step of the run with its result, rate and time.
    const loader::RunReport& Report() const { return m_report; }
    // The panel's ID-check field told verified or mismatched during the run: a later
    // "not yet" can only come from a panel fresh from power-on.
    bool IdAnswered() const { return m_idAnswered; }

    // For tests: called at every line for the user, with the session still running.
    std::function<void(const std::string&)> onMessage;
    // For tests: called after every page of a range (operation, pages done).
    std::function<void(const std::string&, uint32_t)> onProgress;
    // Hears the road's typed events as they go (steps begun and ended, pages, waits); the
    // session's own listener goes on working. May be null.
    void Listen(loader::IProgress* listener) { m_listener = listener; }

private:
    class Progress;

    ExitCode LoadFile();
    ExitCode OpenPort();
    ExitCode Connect();
    ExitCode SetWorkingRate(uint32_t wanted);
    ExitCode CheckId();
    ExitCode RunCommand();
    ExitCode Program();
    ExitCode Erase();
    ExitCode Backup();
    ExitCode ReadInto(uint32_t start, uint32_t end, const std::string& path, loader::Step step);
    ExitCode Check(uint32_t start, uint32_t end, loader::CheckMode mode, const std::string& title,
                   loader::Step step);
    ExitCode Status();
    ExitCode ReadSerial();
    ExitCode PlanKeep();
    ExitCode ReadKept();
    ExitCode WriteBackKept();
    ExitCode PreCheck();
    void TellResult();
    // The erase began or a page was written: a failure now leaves no whole firmware.
    bool FlashTouched() const;
    std::string IncompleteFlashAdvice() const;
    void ReturnTo9600();
    ExitCode CompleteRecord(ExitCode code);
    void RecordSteps(CAttempt& attempt, ExitCode code) const;

    void Message(const std::string& text);
    void Message(unsigned stringId);
    ExitCode Failure(const loader::Result& result, const std::string& during);
    loader::PageSource ImagePages();

    const CliOptions& m_options;
    CReporter& m_reporter;
    CCommandRecords* m_records;
    const std::string m_port;
    upgrade::UpgradeSource m_ownUpgrade;
    const upgrade::UpgradeSource* m_upgrade = nullptr;
    CMotFile m_image;
    bool m_imageLoaded = false;
    CSerialComm m_ownLink;
    CSerialComm* m_link = &m_ownLink;
    bool m_idAnswered = false;
    bool m_idAlready = false; // verified since power-on before this run asked
    bool m_idRefused = false; // a command that needs the ID met a panel that did not pass it
    bool m_rateSettled = false;
    uint32_t m_rateWanted = 0; // the working rate being moved to
    loader::IProgress* m_listener = nullptr;
    std::unique_ptr<Progress> m_progress;
    std::unique_ptr<loader::CEngine> m_engine;
    bool m_found = false; // the panel has answered: it can be sent back to 9600 bit/s
    loader::StatusRegister m_status;
    loader::RunReport m_report;
    std::vector<uint32_t> m_pagesToKeep;
    loader::KeptPages m_kept;
    nlohmann::json m_figures;
};
