#pragma once
// The windows' record of every command that writes the panel's flash (erase, program,
// the two combined sequences), in the same records file as
// torvane-cli: a service technician's work is listed, counted and sent to the line's
// server like a station's. The row is written after the command has ended, so a busy or
// broken records file never delays a byte of the road; it is then skipped with one
// line on standard error, never a box.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "loader/Road.h"
#include "records/Attempt.h"

struct ServiceRun
{
    std::string command; // "erase", "program", "erase-program-verify", "blank-program-verify"
    std::string port;    // as the settings name it
    std::string fileName;
    std::optional<int64_t> fileSize;
    std::string fileSha256;
    uint32_t pagePause = 0;
    int64_t startedMs = 0;             // records::NowMs() when the command began
    std::vector<std::string> messages; // the boxes the technician was shown, in order
};

// The attempt as the records keep it, from the run's report; nullopt when the road never
// reached the panel (a confirmation answered with Cancel writes nothing).
std::optional<CAttempt> ServiceAttempt(const ServiceRun& run, const loader::RunReport& report);

// Writes it to the default records file; false (and one line on standard error) when
// the file cannot be used or is busy.
bool WriteServiceAttempt(CAttempt& attempt);

// Held around one command of the main panel: notes when it began and every box shown
// while it runs; Finish writes the record from the command's report.
class CServiceRecording
{
public:
    explicit CServiceRecording(std::string command);
    ~CServiceRecording();
    CServiceRecording(const CServiceRecording&) = delete;
    CServiceRecording& operator=(const CServiceRecording&) = delete;

    void Finish(const loader::RunReport& report);

private:
    ServiceRun m_run;
    bool m_finished = false;
};
