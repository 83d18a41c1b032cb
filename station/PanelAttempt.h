#pragma once
// One panel's attempt as the station asks a front end to run it: the road on an open
// link, its steps told as they go, and a report at the end. The station knows nothing of
// options or output; the command line runs its own session behind this.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "station/FixtureState.h"

class CSerialComm;

namespace station {

// What the road tells while it works.
class IStepSink
{
public:
    virtual ~IStepSink() = default;
    // expectedMs: how long the step may take, when it has no pages to count (the erase's 40 s).
    virtual void StepBegun(Step step, uint32_t expectedMs) = 0;
    virtual void PageDone(uint32_t done, uint32_t total) = 0;
    // Called while a step waits for the panel, often (at least every 100 ms).
    virtual void Waiting() = 0;
};

// The step that failed and why: "program page 0F2100: no reply at 115200 bit/s".
struct StepFailure
{
    Step step = Step::Connect;
    std::optional<uint32_t> page;
    std::string why;
    std::string Text() const;
};

enum class AttemptEnd {
    Passed,
    Failed,
    Stopped,
};

struct AttemptReport
{
    AttemptEnd end = AttemptEnd::Failed;
    int exitCode = 0; // the front end's, told with the result
    // The panel's ID-check field told verified or mismatched: the boot loader keeps that
    // until its power goes.
    bool idAnswered = false;
    bool recordLost = false; // the panel's result stands, its record could not be written
    // The erase or the programming began: a stop has left the panel unusable.
    bool flashTouched = false;
    std::optional<StepFailure> failure;
    std::string otherReason; // without a failed step: what the front end said last

    // "program page 0F2100: no reply at 115200 bit/s"; without a failed step, what the
    // front end said last (or its code).
    std::string FailReason() const;
    // "FAIL: " and the reason.
    std::string FailText() const;
};

struct AttemptRequest
{
    std::string attemptId;
    std::string backupFile; // "" for none
    std::string scannedSerial;
};

class IPanelAttempt
{
public:
    virtual ~IPanelAttempt() = default;
    // The upgrade judged, once, before any panel: false with the reason and the front
    // end's code when it must not be flashed.
    virtual bool Prepare(std::string& refusal, int& code) = 0;
    // The rate a run that was killed may have left a panel at on this port.
    virtual uint32_t RememberedRate(const std::string& port) = 0;
    // The journal's last attempt on this port passed (false without a journal, or with
    // no attempt there yet).
    virtual bool LastAttemptPassed(const std::string& port) = 0;
    // attemptBegun: the record's id, as soon as the record exists.
    virtual AttemptReport Run(const AttemptRequest& request, CSerialComm& link, IStepSink& steps,
                              const std::function<void(const std::string& id)>& attemptBegun) = 0;
};

} // namespace station
