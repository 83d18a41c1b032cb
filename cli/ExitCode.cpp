#include "cli/ExitCode.h"

std::string ExitCodeName(ExitCode code)
{
    switch (code) {
    case ExitCode::Ok:
        return "ok";
    case ExitCode::Failed:
        return "failed";
    case ExitCode::Usage:
        return "usage";
    case ExitCode::PortOpen:
        return "port-open";
    case ExitCode::PortInUse:
        return "port-in-use";
    case ExitCode::Silent:
        return "silent";
    case ExitCode::FileRefused:
        return "file-refused";
    case ExitCode::IdFailed:
        return "id-failed";
    case ExitCode::EraseError:
        return "erase-error";
    case ExitCode::ProgramError:
        return "program-error";
    case ExitCode::VerifyMismatch:
        return "verify-mismatch";
    case ExitCode::Stopped:
        return "stopped";
    }
    return "failed";
}
