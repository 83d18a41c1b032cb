#pragma once
// One attempt at a panel (a program, verify or erase, or one panel of a station), as
// the records database keeps it. The front end fills what it knows; the store fills
// the id, the times and who wrote it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The outcomes a record can have.
namespace outcome {
inline constexpr char kPass[] = "pass";
inline constexpr char kFail[] = "fail";
inline constexpr char kStopped[] = "stopped";
inline constexpr char kUnchanged[] = "unchanged"; // --if-different: the panel held the file already
inline constexpr char kUnfinished[] = "unfinished";
} // namespace outcome

// The results of the single steps: empty (not run), or one of these.
namespace step {
inline constexpr char kOk[] = "ok";
inline constexpr char kFailed[] = "failed";
inline constexpr char kStopped[] = "stopped";
inline constexpr char kMismatch[] = "mismatch"; // verify
inline constexpr char kAlready[] = "already";   // ID check: passed since power-on
} // namespace step

struct CAttempt
{
    // Filled by the store when it begins the attempt (unless already set).
    std::string id;         // random 128-bit, as a UUID (version 4)
    std::string startedUtc; // "2026-12-09T12:06:01.123Z"
    std::string endedUtc;   // empty while unfinished
    std::string host, user;
    uint32_t processId = 0;
    std::string processStart; // platform::ProcessStartStamp of the writer
    std::string toolVersion;

    // Filled by the front end.
    std::string port;    // as the user named it ("COM1", a /dev/serial/by-path name)
    std::string device;  // what it resolved to ("/dev/ttyS0", "\\.\COM1")
    std::string command; // program, verify, erase, station
    std::string fileName;
    std::optional<int64_t> fileSize;
    std::string fileSha256; // lower-case hex
    std::optional<int64_t> pagesSent;
    std::optional<int64_t> baudRate;
    std::optional<int64_t> pagePauseMs;
    std::string loaderVersion;
    std::string serialHex, serialText;
    std::string idCheck, eraseResult, programResult, verifyResult; // step:: values
    std::string backupFile;
    std::string outcome = outcome::kUnfinished;
    std::optional<int64_t> exitCode;
    // The step that failed or was stopped ("program"), and why, naming it: "program page
    // 0F0100: no reply at 115200 bit/s". A failure outside the road's steps has no step.
    std::string failStep;
    std::string failReason;
    // The reason's kind, without the step or the page: "no reply at 115200 bit/s". The
    // line counts failures by it; the reason keeps the detail.
    std::string failKind;
    std::vector<std::string> messages; // the lines the user was shown
    std::optional<int64_t> durationMs; // filled from the start when left empty
    std::string tag;
    std::string stationRun; // the id shared by every attempt of one station run
    std::string signer;     // the trusted key that signed the upgrade; empty when none was asked

    // Kept by the store for a sender to a server: every write raises the revision; a
    // sender marks the revision it delivered.
    int64_t revision = 0;
    int64_t sentRevision = 0;
};

// The messages of an attempt as the journal and the server keep them: one per line
// (a line break inside a message becomes a space).
std::string JoinMessages(const std::vector<std::string>& messages);
std::vector<std::string> SplitMessages(const std::string& text);
