#include "loader/Road.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <tuple>
#include <utility>

#include "link/SerialComm.h"
#include "loader/RateSearch.h"
#include "platform/Clock.h"

namespace loader {

namespace {

std::string Hex6(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(value));
    return text;
}

bool NamesAPage(Step step)
{
    switch (step) {
    case Step::SerialRead:
    case Step::Backup:
    case Step::Compare:
    case Step::Program:
    case Step::Verify:
    case Step::BlankCheck:
    case Step::Read:
    case Step::Keep:
    case Step::Download:
        return true;
    default:
        return false;
    }
}

// One step from its beginning to its entry in the report, told to the listener at both ends.
class CStepScope
{
public:
    CStepScope(CEngine& engine, RunReport& report, Step step, uint32_t expectedMs = 0)
        : m_engine(engine), m_report(report), m_step(step), m_started(GetTickCount())
    {
        std::ignore = m_engine.TakeNoReply();
        if (IProgress* listener = m_engine.Progress()) listener->OnStepBegin(step, expectedMs);
    }
    CStepScope(const CStepScope&) = delete;
    CStepScope& operator=(const CStepScope&) = delete;

    const Result& End(const Result& result)
    {
        // A recovery run inside the step is the user's time, and its speed not the one that failed.
        const std::optional<CEngine::NoReplyMark> silent = m_engine.TakeNoReply();
        const bool failedThere = silent && (result.outcome == Outcome::Silent || result.outcome == Outcome::LineError ||
                                             result.outcome == Outcome::PortLost);
        m_report.steps.push_back({m_step, result, (failedThere ? silent->tick : GetTickCount()) - m_started,
                                  failedThere ? silent->rate : m_engine.LinkRate()});
        if (IProgress* listener = m_engine.Progress()) listener->OnStepEnd(m_step, result);
        return result;
    }

private:
    CEngine& m_engine;
    RunReport& m_report;
    Step m_step;
    uint32_t m_started;
};

Result WithOutcome(Outcome outcome)
{
    Result result;
    result.outcome = outcome;
    return result;
}

// Stops asked while it lives wait until it ends, on every way out.
class CStopsHeld
{
public:
    explicit CStopsHeld(CEngine& engine) : m_engine(engine) { m_engine.HoldStops(true); }
    ~CStopsHeld() { m_engine.HoldStops(false); }
    CStopsHeld(const CStopsHeld&) = delete;
    CStopsHeld& operator=(const CStopsHeld&) = delete;

private:
    CEngine& m_engine;
};

// Runs of consecutive pages as [start, end) ranges, so that each goes as one range.
std::vector<std::pair<uint32_t, uint32_t>> PageRuns(const std::vector<uint32_t>& pages)
{
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    for (const uint32_t page : pages) {
        if (!runs.empty() && runs.back().second == page)
            runs.back().second += kPageSize;
        else
            runs.emplace_back(page, page + kPageSize);
    }
    return runs;
}

Result SynchroniseLink(CEngine& engine, const ConnectOptions& options)
{
    CSerialComm& link = engine.Link();
    // A speed the adapter refuses shows as no echo.
    std::ignore = engine.SetLinkRate(kBaseRate);
    link.SetTimeout(options.replyTimeout);
    engine.Pause(linktime::kSyncEdgePause);
    Result result = SendSync(engine, options.fillerPause);
    if (!result.Ok()) return result;
    uint8_t echo = 0;
    link.SetTimeout(options.echoTimeout);
    result = engine.ReadByte(echo);
    link.SetTimeout(options.replyTimeout);
    if (result.Ok() && echo != bootcode::kBaud9600) result.outcome = Outcome::LineError;
    return result;
}

Result SearchFor(CEngine& engine, RunReport& report, const std::vector<uint32_t>& rates,
                 StatusRegister& status)
{
    CStepScope step(engine, report, Step::RateSearch);
    const PanelSearch search = FindPanel(engine, rates);
    Result result = WithOutcome(search.found ? Outcome::Done : search.outcome);
    if (search.found) status = search.status;
    result.status = search.status;
    return step.End(result);
}

} // namespace

const char* StepName(Step step)
{
    switch (step) {
    case Step::Connect:
        return "connect";
    case Step::RateSearch:
        return "rate search";
    case Step::RateChange:
        return "rate change";
    case Step::Status:
        return "status";
    case Step::IdCheck:
        return "ID check";
    case Step::Version:
        return "version";
    case Step::SerialRead:
        return "serial number";
    case Step::Backup:
        return "backup";
    case Step::Compare:
        return "compare";
    case Step::Erase:
        return "erase";
    case Step::Keep:
        return "keep";
    case Step::Program:
        return "program";
    case Step::ProgramStatus:
        return "program status";
    case Step::Verify:
        return "verify";
    case Step::BlankCheck:
        return "blank check";
    case Step::Read:
        return "read";
    case Step::ReturnTo9600:
        return "return to 9600 bit/s";
    case Step::Download:
        return "download";
    }
    return "?";
}

std::string DescribeStep(const StepReport& report)
{
    const Result& result = report.result;
    std::string text = StepName(report.step);
    if (NamesAPage(report.step) && result.outcome != Outcome::Mismatch && result.outcome != Outcome::Done &&
        result.outcome != Outcome::Cancelled)
        text += " page " + Hex6(result.address - result.address % kPageSize);
    if (result.outcome == Outcome::Mismatch) return text + ": differs at " + Hex6(result.address);
    return text + ": " + DescribeOutcome(report);
}

std::string DescribeOutcome(const StepReport& report)
{
    const std::string rate = std::to_string(report.rate) + " bit/s";
    switch (report.result.outcome) {
    case Outcome::Done:
        return "done";
    case Outcome::Silent:
        return "no reply at " + rate;
    case Outcome::LineError:
        return "garbled reply at " + rate;
    case Outcome::PortLost:
        return "the port went away";
    case Outcome::Mismatch:
        return "differs";
    case Outcome::Cancelled:
        return "stopped";
    case Outcome::DeviceError:
        break;
    }
    switch (report.step) {
    case Step::IdCheck:
        return "the panel refused the ID";
    case Step::Erase:
        return "the panel reported an erase error";
    case Step::Program:
    case Step::ProgramStatus:
    case Step::Keep:
        return "the panel reported a program error";
    default:
        return "the panel reported an error";
    }
}

const StepReport* RunReport::Find(Step step) const
{
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
        if (it->step == step) return &*it;
    }
    return nullptr;
}

const StepReport* RunReport::Failure() const
{
    for (const StepReport& step : steps) {
        if (!step.result.Ok()) return &step;
    }
    return nullptr;
}

std::string RunReport::FailReason() const
{
    const StepReport* failed = Failure();
    return failed ? DescribeStep(*failed) : std::string();
}

StatusTexts DescribeStatus(const StatusRegister& status)
{
    auto errorText = [](bool set) { return set ? "Error" : "Right"; };
    const char* idText = "";
    switch (status.IdField()) {
    case status::kIdNotYet:
        idText = "Not yet";
        break;
    case status::kIdMismatch:
        idText = "Not match";
        break;
    case status::kIdVerified:
        idText = "Match";
        break;
    default:
        break;
    }
    return {status.Ready() ? "Ready" : "Busy",
            errorText(status.EraseError()),
            errorText(status.ProgramError()),
            errorText((status.srd1 & status::kSrd1BlockError) != 0),
            (status.srd2 & status::kSrd2CheckSum) ? "Match" : "Not match",
            idText,
            (status.srd2 & status::kSrd2ReceiveTimeout) ? "Timeout" : "Right",
            (status.srd2 & status::kSrd2OverNumber) ? "Over" : "Right"};
}

Result SendSync(CEngine& engine, uint32_t fillerPause)
{
    engine.DiscardStaleInput();
    return engine.SendSyncBurst(fillerPause);
}

void Settle(CEngine& engine)
{
    engine.Pause(linktime::kCodeSettleTime);
    engine.Link().Purge(0);
}

Result Synchronise(CEngine& engine, RunReport& report, const ConnectOptions& options)
{
    CStepScope step(engine, report, Step::Connect);
    return step.End(SynchroniseLink(engine, options));
}

Result Connect(CEngine& engine, RunReport& report, const ConnectOptions& options, StatusRegister& status)
{
    CStepScope step(engine, report, Step::Connect);
    Result result = SynchroniseLink(engine, options);
    if (result.outcome == Outcome::PortLost) return step.End(result);
    if (result.Ok()) {
        // A panel fresh from power-on answers the burst at 9600 bit/s.
        Settle(engine);
        result = engine.ReadStatus(status);
    }
    // A run that ended part-way may have left it at another rate.
    if (!result.Ok() && !options.searchRates.empty())
        result = SearchFor(engine, report, options.searchRates, status);
    if (result.Ok()) report.rate = engine.LinkRate();
    result.status = status;
    return step.End(result);
}

RateChange ChangeRate(CEngine& engine, RunReport& report, uint32_t newRate, const RateChangeOptions& options)
{
    CStepScope step(engine, report, Step::RateChange);
    RateChange change;
    change.rate = engine.LinkRate();
    const Result negotiated = engine.NegotiateRate(change.rate, newRate);
    change.refused = !negotiated.Ok();
    if (change.refused) {
        if (options.refused) options.refused();
        if (!options.confirmAfterRefusal || negotiated.outcome == Outcome::PortLost) {
            // Nothing moved: both ends stay at the old speed, which the next reply proves.
            change.result =
                WithOutcome(negotiated.outcome == Outcome::PortLost ? Outcome::PortLost : Outcome::Done);
            step.End(change.result);
            return change;
        }
    } else {
        change.rate = newRate;
    }
    // A speed the adapter refuses shows as a lost confirm.
    std::ignore = engine.SetLinkRate(change.rate);
    change.result = engine.ConfirmRate(change.rate);
    if (!change.result.Ok() && change.result.outcome != Outcome::PortLost && options.searchOnLostConfirm) {
        StatusRegister status;
        change.result = SearchFor(engine, report, SearchOrder(newRate), status);
        change.rate = engine.LinkRate();
    }
    if (change.result.Ok()) report.rate = change.rate;
    step.End(change.result);
    return change;
}

Result ReadStatus(CEngine& engine, RunReport& report, StatusRegister& status, Step stepName)
{
    CStepScope step(engine, report, stepName);
    Result result = engine.ReadStatus(status);
    if (result.Ok() && stepName == Step::ProgramStatus && status.ProgramError())
        result.outcome = Outcome::DeviceError;
    return step.End(result);
}

Result ReadFreshStatus(CEngine& engine, RunReport& report, StatusRegister& status)
{
    engine.Link().Purge(0);
    const Result result = ReadStatus(engine, report, status);
    if (!result.Ok()) engine.Link().Purge(0);
    return result;
}

Result CheckId(CEngine& engine, RunReport& report, StatusRegister& after,
               const std::array<uint8_t, kIdLength>& id)
{
    CStepScope step(engine, report, Step::IdCheck);
    Result result = engine.CheckId(id, after);
    if (result.Ok() && !after.IdVerified()) {
        result.outcome = Outcome::DeviceError;
        // Whatever the refused panel still sends must not answer the next request.
        engine.Link().Purge(0);
    }
    return step.End(result);
}

Result ReadVersion(CEngine& engine, RunReport& report)
{
    CStepScope step(engine, report, Step::Version);
    std::string text;
    const Result result = engine.ReadVersion(text);
    if (result.Ok()) report.version = text;
    return step.End(result);
}

Result ReadRange(CEngine& engine, RunReport& report, Step stepName, uint32_t start, uint32_t end,
                 uint32_t pageTimeout, std::vector<uint8_t>& bytes)
{
    CStepScope step(engine, report, stepName);
    const Result result = engine.ReadRange(start, end, pageTimeout, bytes);
    if (result.Ok() && stepName == Step::SerialRead) report.serial = bytes;
    return step.End(result);
}

Result Erase(CEngine& engine, RunReport& report)
{
    CStepScope step(engine, report, Step::Erase, linktime::kEraseStatusTimeout);
    return step.End(engine.EraseAll());
}

std::vector<uint32_t> PagesToKeep(const std::vector<KeptRange>& ranges, std::string& refusal)
{
    std::set<uint32_t> pages;
    for (const KeptRange& range : ranges) {
        const std::string named = Hex6(range.address) + ":" + std::to_string(range.length);
        if (range.length == 0) {
            refusal = "cannot keep " + named + ": it holds no byte";
            return {};
        }
        if (uint64_t{range.address} + range.length > kAreaStart) {
            refusal = "cannot keep " + named + ": only bytes below 0F0000 are kept (the upgrade replaces " +
                      "0F0000-0FFFFF)";
            return {};
        }
        const uint32_t last = range.address + range.length - 1;
        for (uint32_t page = range.address - range.address % kPageSize; page <= last; page += kPageSize)
            pages.insert(page);
    }
    if (pages.size() > kMostKeptPages) {
        refusal = "cannot keep " + std::to_string(pages.size()) + " pages: at most " +
                  std::to_string(kMostKeptPages) + " are kept";
        return {};
    }
    return {pages.begin(), pages.end()};
}

Result ReadKeptPages(CEngine& engine, RunReport& report, const std::vector<uint32_t>& pages,
                     uint32_t pageTimeout, KeptPages& kept)
{
    CStepScope step(engine, report, Step::Keep);
    kept = {};
    for (const auto& [start, end] : PageRuns(pages)) {
        std::vector<uint8_t> bytes;
        const Result result = engine.ReadRange(start, end, pageTimeout, bytes);
        if (!result.Ok()) return step.End(result);
        kept.bytes.insert(kept.bytes.end(), bytes.begin(), bytes.end());
    }
    kept.addresses = pages;
    return step.End({});
}

Result WriteBackKeptPages(CEngine& engine, RunReport& report, const KeptPages& kept,
                          const ProgramOptions& options, uint32_t pageTimeout)
{
    CStepScope step(engine, report, Step::Keep);
    // Erased flash is 0xFF: a panel let go now would lose these pages for good.
    const CStopsHeld held(engine);
    const PageSource source = [&kept](uint8_t* page, uint32_t index) {
        const auto found = std::find(kept.addresses.begin(), kept.addresses.end(), index * kPageSize);
        if (found == kept.addresses.end()) return false;
        const size_t offset = static_cast<size_t>(found - kept.addresses.begin()) * kPageSize;
        std::copy_n(kept.bytes.begin() + static_cast<std::ptrdiff_t>(offset), kPageSize, page);
        return true;
    };
    ProgramOptions keepOptions = options;
    // The read-back below proves the blank ones erased.
    keepOptions.skipBlankPages = true;
    const std::vector<std::pair<uint32_t, uint32_t>> runs = PageRuns(kept.addresses);
    for (const auto& [start, end] : runs) {
        const Result result = engine.ProgramRange(source, start, end, keepOptions);
        if (!result.Ok()) return step.End(result);
    }
    for (const auto& [start, end] : runs) {
        const Result result = engine.CheckRange(source, start, end, CheckMode::CompareAll, pageTimeout);
        if (!result.Ok()) return step.End(result);
    }
    return step.End({});
}

Result Program(CEngine& engine, RunReport& report, const PageSource& image, uint32_t start, uint32_t end,
               const ProgramOptions& options)
{
    CStepScope step(engine, report, Step::Program);
    const Result result = engine.ProgramRange(image, start, end, options);
    report.pagesSent += result.pagesSent;
    return step.End(result);
}

Result Download(CEngine& engine, RunReport& report, const PageSource& image, uint32_t start, uint32_t end,
                uint32_t pagePause)
{
    CStepScope step(engine, report, Step::Download);
    return step.End(engine.DownloadRange(image, start, end, pagePause));
}

Result Check(CEngine& engine, RunReport& report, Step stepName, const PageSource& image, uint32_t start,
             uint32_t end, CheckMode mode, uint32_t pageTimeout)
{
    CStepScope step(engine, report, stepName);
    return step.End(engine.CheckRange(image, start, end, mode, pageTimeout));
}

RateChange ReturnTo9600(CEngine& engine, RunReport& report, bool search)
{
    CStepScope step(engine, report, Step::ReturnTo9600);
    RateChange change;
    change.rate = engine.LinkRate();
    if (search && change.rate == kBaseRate) {
        step.End(change.result);
        return change;
    }
    Result result = engine.NegotiateRate(change.rate, kBaseRate);
    if (!result.Ok() && search) {
        const PanelSearch found = FindPanel(engine, SearchOrder(change.rate));
        change.rate = engine.LinkRate();
        if (found.found && found.rate == kBaseRate) {
            step.End(change.result);
            return change;
        }
        result = found.found ? engine.NegotiateRate(found.rate, kBaseRate) : WithOutcome(found.outcome);
    }
    if (!result.Ok()) {
        change.refused = true;
        change.result = result;
        step.End(result);
        return change;
    }
    std::ignore = engine.SetLinkRate(kBaseRate);
    change.rate = kBaseRate;
    change.result = engine.ConfirmRate(kBaseRate);
    step.End(change.result);
    return change;
}

} // namespace loader
