#pragma once
// What one exchange with the boot loader came to. The engine never decides what a
// result means for the user: each front end does.
#include <cstdint>
#include <string>

#include "loader/Protocol.h"

namespace loader {

enum class Outcome {
    Done,
    Silent,      // no (complete) reply within the read time-out
    LineError,   // a framing, parity or overrun error, or a reply that is not the one expected
    DeviceError, // the boot loader answered, and its status reports a failure
    Mismatch,    // a page read back differs (address: the first differing byte)
    Cancelled,   // the front end asked to stop between pages
    PortLost,    // the port is closed or went away (a USB adapter pulled out)
};

// A short lower-case word for logs and JSON: "done", "silent", ...
const char* OutcomeName(Outcome outcome);

struct StatusRegister
{
    uint8_t srd1 = 0;
    uint8_t srd2 = 0;

    bool Ready() const { return (srd1 & status::kSrd1Ready) != 0; }
    bool EraseError() const { return (srd1 & status::kSrd1EraseError) != 0; }
    bool ProgramError() const { return (srd1 & status::kSrd1ProgramError) != 0; }
    int IdField() const { return status::IdField(srd2); }
    bool IdVerified() const { return IdField() == status::kIdVerified; }
};

struct Result
{
    Outcome outcome = Outcome::Done;
    StatusRegister status; // the last status read, where there was one
    uint32_t address = 0;  // the page concerned, or the first differing byte for Mismatch
    uint32_t pagesSent = 0;

    bool Ok() const { return outcome == Outcome::Done; }
};

} // namespace loader
