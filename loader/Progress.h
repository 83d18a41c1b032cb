#pragma once
// What a front end hears while the road runs: which step begins and how long it may
// take, pages done, a call at least every 100 ms through every long wait (with the time
// gone and the time allowed where the wait has a deadline of its own), the moment a
// reply fails to come, each step's end with its result, and its stop.
#include <cstdint>

namespace loader {

struct Result;

// The steps of the road, as a report and a front end name them.
enum class Step {
    Connect,
    RateSearch,
    RateChange,
    Status,
    IdCheck,
    Version,
    SerialRead,
    Backup,
    Compare,
    Erase,
    Keep, // the panel's own pages read before the erase, written back and read back after it
    Program,
    ProgramStatus,
    Verify,
    BlankCheck,
    Read,
    ReturnTo9600,
    Download,
};

class IProgress
{
public:
    virtual ~IProgress() = default;

    // A step of the road begins; expectedMs is the longest it may take when that is known
    // (the erase: up to 40 s), else 0.
    virtual void OnStepBegin(Step step, uint32_t expectedMs) {}
    // The step has ended with this result.
    virtual void OnStepEnd(Step step, const Result& result) {}
    // Before the first page of a range: how many pages it will send or read.
    virtual void OnStart(uint32_t totalPages) {}
    // After each page of a range: `done` of `total` pages; `address` is the page's.
    virtual void OnPage(uint32_t done, uint32_t total, uint32_t address) {}
    // Read between pages: true stops the range before its next page.
    virtual bool Cancelled() { return false; }
    // During every wait for the boot loader (a reply, a pause), at least every 100 ms.
    virtual void OnWait() {}
    // During a wait with a deadline of its own (the erase's status): the time gone and
    // the time allowed, in milliseconds, after each OnWait.
    virtual void OnWaiting(uint32_t elapsedMs, uint32_t deadlineMs) {}
    // A reply did not come whole (silence, a line error, a lost port) in an exchange that
    // runs with a time-out of its own (the erase's status, a page's status, a page read),
    // called while that time-out is still in force, before the engine restores the one
    // in force before it.
    virtual void OnNoReply() {}
    // The status replies come this much later than the wire takes (the median of the first
    // few): a USB adapter holding short replies for its latency timer. Told once.
    virtual void OnRepliesHeld(uint32_t heldMs) {}
};

} // namespace loader
