#pragma once
// One panel on one port: the real program (application object, start-up sequence,
// panel and commands) under the console host, with every dialog answered from the
// options and every message box turned into an outcome.
#include <cstdint>
#include <functional>
#include <string>

#include "cli/ExitCode.h"
#include "cli/Options.h"
#include "cli/Reporter.h"

class CDialog;
class CTorvaneApp;

class CSession
{
public:
    CSession(const CliOptions& options, CReporter& reporter);
    ExitCode Run();

    // For tests: called at every message box, with the program still running.
    std::function<void(const std::string&)> onMessage;
    // For tests: called at every move of a progress bar (title, position).
    std::function<void(const std::string&, int)> onProgress;

private:
    void Fail(ExitCode code);
    bool Going() const;
    void OnMessage(const std::string& text);
    void AnswerUpgradeDialog(CDialog& dialog);
    void RunPanel(CDialog& panel);
    void Program(CDialog& panel);
    bool CheckReady();
    bool ReadInto(uint32_t start, uint32_t end, const std::string& path);
    bool Backup();
    void Verify(uint32_t start, uint32_t end);
    void Read();

    const CliOptions& m_options;
    CReporter& m_reporter;
    CTorvaneApp* m_app = nullptr;
    ExitCode m_outcome = ExitCode::Ok;
    bool m_programOk = false, m_eraseOk = false, m_sawDevice = false;
    int m_rateDialogs = 0;
    uint32_t m_pages = 0;
    bool m_verified = false;
    bool m_sawPortDialog = false;
    bool m_done = false;
    uint32_t m_baud = 0;
    uint32_t m_programStart = 0, m_programMs = 0, m_verifyMs = 0;
    std::string m_written;
};
