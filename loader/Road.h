#pragma once
// The road: the steps every front end takes with a panel, composed once on the engine.
// Each step tells the engine's listener that it begins (and how long it may take), how
// it goes, and how it ended, and leaves its result in the run's report. The order of
// the steps, and what a result means for the user, stay with each front end.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "loader/Engine.h"
#include "loader/Progress.h"
#include "loader/Result.h"

namespace loader {

// The ID the windows and the command line send, whatever an ID file holds.
constexpr std::array<uint8_t, kIdLength> kDefaultId{0xB6, 0xB6, 0xB6, 0xB6, 0xB6, 0xB6, 0xB6};
constexpr uint32_t kStartupFillerPause = 20;  // after each filler byte at start-up
constexpr uint32_t kRecoveryFillerPause = 15; // after each filler byte in the windows' recovery

// A short lower-case name: "program", "ID check", "return to 9600 bit/s"...
const char* StepName(Step step);

struct StepReport
{
    Step step = Step::Connect;
    Result result;
    uint32_t milliseconds = 0;
    uint32_t rate = 0; // the PC's speed when the step ended
};

// What one run with a panel came to, step by step.
struct RunReport
{
    std::vector<StepReport> steps;
    uint32_t rate = 0;           // the working speed agreed with the panel
    uint32_t pagesSent = 0;      // page frames programmed
    std::string version;         // the boot loader's version text, when it was asked
    std::vector<uint8_t> serial; // the serial number's bytes, when they were read

    // The last report of a step, or none.
    const StepReport* Find(Step step) const;
    // The first step that did not end done, or none.
    const StepReport* Failure() const;
    // Why the run failed, naming the step: "program page 0F2100: no reply at 115200 bit/s".
    // Empty when every step ended done.
    std::string FailReason() const;
};

// "program page 0F2100: no reply at 115200 bit/s", "erase: the panel reported an error".
std::string DescribeStep(const StepReport& step);
// Why the step ended so, without the step's name or its page: "no reply at 115200 bit/s",
// "differs". Failures of one kind at many pages are one reason.
std::string DescribeOutcome(const StepReport& step);

// The status register in the words the windows' status dialog and the command line show.
struct StatusTexts
{
    const char* ready;
    const char* erase;
    const char* program;
    const char* block;
    const char* checkSum;
    const char* idCheck; // empty for the field's unused value
    const char* receiveTimeout;
    const char* overNumber;
};
StatusTexts DescribeStatus(const StatusRegister& status);

struct ConnectOptions
{
    // The read time-out in force from here on (the windows' 5 s, the command line's 1 s).
    uint32_t replyTimeout = linktime::kNormalReadTimeout;
    // How long the synchronisation's echo is awaited.
    uint32_t echoTimeout = linktime::kNormalReadTimeout;
    uint32_t fillerPause = kStartupFillerPause;
    // Where the echo does not come, the rates to search in turn; none: no search.
    std::vector<uint32_t> searchRates;
};

// The link at 9600 bit/s with the reply time-out, stale input discarded, the
// synchronisation burst sent and its echo read (a wrong echo is a LineError).
[[nodiscard]] Result Synchronise(CEngine& engine, RunReport& report, const ConnectOptions& options);
// Stale input discarded and the burst sent, its echo left unread (the windows' recovery,
// whose rate change that follows starts with a purge).
[[nodiscard]] Result SendSync(CEngine& engine, uint32_t fillerPause);
// After the echo: the boot loader's settle time, then the input purged.
void Settle(CEngine& engine);
// Synchronise; where the echo came, settle and read the status; where it did not and
// rates are given, search them. The link is left where the panel answered.
[[nodiscard]] Result Connect(CEngine& engine, RunReport& report, const ConnectOptions& options,
                             StatusRegister& status);

struct RateChangeOptions
{
    // After a refused negotiation, confirm the old speed once more (the windows do).
    bool confirmAfterRefusal = false;
    // A confirm that gets no echo: search for the panel from the new speed on.
    bool searchOnLostConfirm = false;
    // Called the moment the panel refuses the new speed, before anything else is sent.
    std::function<void()> refused;
};

struct RateChange
{
    Result result;        // Done: both ends agree on `rate`
    uint32_t rate = 0;    // where the PC's end is now
    bool refused = false; // the panel did not take the new speed
};

// Negotiate the new speed from the PC's current one, move the PC's end, confirm.
[[nodiscard]] RateChange ChangeRate(CEngine& engine, RunReport& report, uint32_t newRate,
                                    const RateChangeOptions& options = {});

// The status read; with `step` Status the register is only read, with ProgramStatus its
// program-error bit is a DeviceError.
[[nodiscard]] Result ReadStatus(CEngine& engine, RunReport& report, StatusRegister& status,
                                Step step = Step::Status);
// The same after a rate change: what the change left in the input is purged first, and
// a reply that did not come whole is purged after.
[[nodiscard]] Result ReadFreshStatus(CEngine& engine, RunReport& report, StatusRegister& status);
// The ID frame and its verdict; a verdict other than verified is a DeviceError.
[[nodiscard]] Result CheckId(CEngine& engine, RunReport& report, StatusRegister& after,
                             const std::array<uint8_t, kIdLength>& id = kDefaultId);
[[nodiscard]] Result ReadVersion(CEngine& engine, RunReport& report);
// Pages read into bytes: Backup, SerialRead (kept in the report) or Read.
[[nodiscard]] Result ReadRange(CEngine& engine, RunReport& report, Step step, uint32_t start, uint32_t end,
                               uint32_t pageTimeout, std::vector<uint8_t>& bytes);
// The whole flash erased; up to 40 s.
[[nodiscard]] Result Erase(CEngine& engine, RunReport& report);

// Bytes of the panel's own (its serial, its calibration) that the erase would take with it.
struct KeptRange
{
    uint32_t address = 0, length = 0;
};
constexpr uint32_t kMostKeptPages = 16;

// The pages that hold the ranges, ascending and each once. Empty, with the reason, when a
// range is empty or reaches into 0F0000-0FFFFF (the upgrade's), or the pages are more than 16.
std::vector<uint32_t> PagesToKeep(const std::vector<KeptRange>& ranges, std::string& refusal);

// The kept pages as they were read, whole.
struct KeptPages
{
    std::vector<uint32_t> addresses;
    std::vector<uint8_t> bytes; // 256 for each address, in the same order
};

// Before the erase: every page read (Step::Keep); a stop is heeded, nothing is lost yet.
[[nodiscard]] Result ReadKeptPages(CEngine& engine, RunReport& report, const std::vector<uint32_t>& pages,
                                   uint32_t pageTimeout, KeptPages& kept);
// After the erase, before anything else: the pages programmed back as they were read and
// read back (Step::Keep). A stop asked meanwhile waits until they are back.
[[nodiscard]] Result WriteBackKeptPages(CEngine& engine, RunReport& report, const KeptPages& kept,
                                        const ProgramOptions& options, uint32_t pageTimeout);
// Every page of the range, or with options.skipBlankPages only those with data.
[[nodiscard]] Result Program(CEngine& engine, RunReport& report, const PageSource& image, uint32_t start,
                             uint32_t end, const ProgramOptions& options);
// The boot-program download: every page of the range sent back to back, no reply read.
// The caller refuses a range longer than the size field holds.
[[nodiscard]] Result Download(CEngine& engine, RunReport& report, const PageSource& image, uint32_t start,
                              uint32_t end, uint32_t pagePause);
// Verify, BlankCheck or Compare, as the mode says.
[[nodiscard]] Result Check(CEngine& engine, RunReport& report, Step step, const PageSource& image,
                           uint32_t start, uint32_t end, CheckMode mode, uint32_t pageTimeout);

// Back to 9600 bit/s at the end of a run; refused when the negotiation failed. With
// search, a panel that does not take it is looked for (a failure part-way may have left
// it at this speed or at 9600 bit/s already) and asked again where it answers.
[[nodiscard]] RateChange ReturnTo9600(CEngine& engine, RunReport& report, bool search);

} // namespace loader
