#pragma once
// The exit codes of torvane-cli; the larger code is the worse one, so the outcome of
// several panels is the largest of theirs.
#include <string>

enum class ExitCode : int {
    Ok = 0,
    Failed = 1, // anything else that went wrong (an output file could not be written)
    Usage = 2,
    PortOpen = 3, // the port cannot be opened (absent, no permission)
    PortInUse = 4,
    Silent = 5,      // the device did not answer in time
    FileRefused = 6, // the upgrade file or its .id file was refused
    IdFailed = 7,
    EraseError = 8,
    ProgramError = 9,
    VerifyMismatch = 10, // the flash differs from the file (or is not blank)
    Stopped = 11,        // Ctrl-C
};

// A short name for the result lines: "ok", "silent", "stopped", ...
std::string ExitCodeName(ExitCode code);
