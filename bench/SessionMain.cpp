// torvane-bench-session: the whole program without a window system. The scripted host
// answers the dialogs like a technician (COM1, the upgrade file, Erase, Program, Exit)
// on the real clock, over the port the simulator serves; every phase is timed and the
// process's CPU time taken over the whole session.
//   torvane-bench-session session --rate N --upgrade FILE [--timer-slack-ns NS]
//   torvane-bench-session growth
//   torvane-bench-session probe --rate N [--rounds K] [--timer-slack-ns NS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/TorvaneApp.h"
#include "bench/ProcessCpu.h"
#include "bench/UpgradeFile.h"
#include "commands/Command.h"
#include "framework/ScriptedHost.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "res/Resource.h"
#include "sim/SimulatedPanel.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr uint32_t kAreaStart = 0xF0000;
constexpr uint32_t kAreaLength = 0x10000;
constexpr uint32_t kAreaPages = kAreaLength / kPageSize;
constexpr uint32_t kPagePause = 40;

double SecondsBetween(SteadyClock::time_point from, SteadyClock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

double ProcessCpuSeconds()
{
    return bench::ProcessCpu().Total();
}

bool WriteSavedRate(uint32_t rate)
{
    const std::filesystem::path file = platform::SettingsFilePath();
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << "[Last Comm State]\nBaundrate=" << rate << "\nByte=8\nStop Bit=0\nParity=0\n";
    return static_cast<bool>(out);
}

int RunSession(uint32_t rate, const std::string& upgradeFile)
{
    const SteadyClock::time_point sessionStart = SteadyClock::now();
    if (!bench::WriteS2File(upgradeFile, kAreaStart, kAreaLength) || !WriteSavedRate(rate)) {
        std::fprintf(stderr, "torvane-bench-session: cannot write the upgrade or settings file\n");
        return 1;
    }

    std::map<std::string, SteadyClock::time_point> marks;
    std::map<std::string, double> cpuMarks;
    auto mark = [&marks, &cpuMarks](const char* name) {
        return [&marks, &cpuMarks, name](CDialog&) {
            marks[name] = SteadyClock::now();
            cpuMarks[name] = ProcessCpuSeconds();
        };
    };

    CScriptedHost host;
    IHost* previousHost = SetHost(&host);
    std::vector<std::string> failures;
    host.onFailure = [&failures](const std::string& what) { failures.push_back(what); };
    host.onMessageBox = [&marks, &cpuMarks](const MessageBoxRecord& box) {
        const char* name = box.text == "Erase OK."     ? "erase_ok"
                           : box.text == "Program OK." ? "program_ok"
                                                       : nullptr;
        if (name) {
            marks[name] = SteadyClock::now();
            cpuMarks[name] = ProcessCpuSeconds();
        }
    };
    // One pump round per page, right after its frame has been written.
    std::vector<SteadyClock::time_point> pageMarks;
    pageMarks.reserve(kAreaPages);
    for (uint32_t round = 1; round <= kAreaPages; ++round)
        host.AtPumpRound(static_cast<int>(round), [&pageMarks] { pageMarks.push_back(SteadyClock::now()); });

    host.Expect(IDD_S_PRG, CDialogScript().SetText(IDC_PORT, "COM1").Press(IDOK));
    host.Expect(IDD_IDCHECK,
                CDialogScript().Do(mark("load_dialog")).SetText(IDC_FILENAME, upgradeFile).Press(IDOK));
    host.Expect(IDD_PREWRITE, CDialogScript().Do(mark("program_start")).Press(IDOK));
    host.Expect(IDD_TORVANE_DIALOG, CDialogScript()
                                        .Do(mark("panel"))
                                        .Press(IDC_ERASE)
                                        .Do(mark("erase_done"))
                                        .Press(IDC_PROGRAM)
                                        .Do(mark("exit_start"))
                                        .Press(IDCANCEL));
    {
        CTorvaneApp app;
        app.InitInstance();
    }
    const SteadyClock::time_point sessionEnd = SteadyClock::now();
    const double cpuEnd = ProcessCpuSeconds();
    const bench::CpuTimes usage = bench::ProcessCpu();
    SetHost(previousHost);

    const std::vector<std::string> boxes = host.MessageTexts();
    const bool upgraded = boxes == std::vector<std::string>{"Erase OK.", "Program OK."} && failures.empty() &&
                          host.PendingScripts() == 0 && marks.size() == 7 && pageMarks.size() == kAreaPages;
    std::printf("rate=%u\n", rate);
    for (const std::string& box : boxes) {
        std::string line = box;
        std::replace(line.begin(), line.end(), '\n', ' ');
        std::printf("box=%s\n", line.c_str());
    }
    for (const std::string& failure : failures)
        std::printf("failure=%s\n", failure.c_str());
    if (!upgraded) {
        std::printf("upgraded=0\n");
        return 1;
    }
    std::printf("upgraded=1\n");
    std::printf("startup_s=%.4f\n", SecondsBetween(sessionStart, marks["load_dialog"]));
    std::printf("load_s=%.4f\n", SecondsBetween(marks["load_dialog"], marks["panel"]));
    std::printf("erase_s=%.4f\n", SecondsBetween(marks["panel"], marks["erase_ok"]));
    std::printf("program_s=%.4f\n", SecondsBetween(marks["program_start"], marks["program_ok"]));
    std::printf("exit_s=%.4f\n", SecondsBetween(marks["exit_start"], sessionEnd));
    // CPU per phase from the scheduler's own run-time count, in milliseconds.
    std::printf("startup_cpu_ms=%.2f\n", cpuMarks["load_dialog"] * 1000.0);
    std::printf("load_cpu_ms=%.2f\n", (cpuMarks["panel"] - cpuMarks["load_dialog"]) * 1000.0);
    std::printf("erase_cpu_ms=%.2f\n", (cpuMarks["erase_ok"] - cpuMarks["panel"]) * 1000.0);
    std::printf("program_cpu_ms=%.2f\n", (cpuMarks["program_ok"] - cpuMarks["program_start"]) * 1000.0);
    std::printf("exit_cpu_ms=%.2f\n", (cpuEnd - cpuMarks["exit_start"]) * 1000.0);
    std::printf("first_frame_s=%.4f\n", SecondsBetween(marks["program_start"], pageMarks.front()));
    std::printf("after_last_frame_s=%.4f\n", SecondsBetween(pageMarks.back(), marks["program_ok"]));
    std::vector<double> periods;
    for (size_t i = 1; i < pageMarks.size(); ++i)
        periods.push_back(SecondsBetween(pageMarks[i - 1], pageMarks[i]) * 1000.0);
    std::sort(periods.begin(), periods.end());
    double sum = 0;
    for (double p : periods)
        sum += p;
    std::printf("page_mean_ms=%.4f\n", sum / static_cast<double>(periods.size()));
    std::printf("page_min_ms=%.4f\n", periods.front());
    std::printf("page_median_ms=%.4f\n", periods[periods.size() / 2]);
    std::printf("page_max_ms=%.4f\n", periods.back());
    const double wall = SecondsBetween(sessionStart, sessionEnd);
    const double cpu = usage.Total();
    std::printf("total_s=%.4f\n", wall);
    std::printf("cpu_s=%.4f\n", cpu);
    std::printf("cpu_user_s=%.4f\n", usage.user);
    std::printf("cpu_sys_s=%.4f\n", usage.system);
    std::printf("cpu_ratio_pct=%.4f\n", 100.0 * cpu / wall);
    return 0;
}

// Programs a number of pages through the shared page loop against the in-process
// simulator on the virtual clock: the protocol's time, free of any scheduler.
class CGrowthProgram : public CCheckMemorryCmd
{
public:
    bool Program(CSerialComm& link, uint32_t start, uint32_t pages)
    {
        return ProgramRange(link, start, start + pages * kPageSize, kPagePause) == ProgramOutcome::Done &&
               CheckStatusBit(link, "program") == 0;
    }
};

int RunGrowth()
{
    platform::CVirtualClock clock;
    platform::CScopedClock scopedClock(clock);
    CScriptedHost host;
    IHost* previousHost = SetHost(&host);
    int exitCode = 0;
    {
        sim::BootLoaderConfig config;
        config.idVerifiedAtStart = true;
        config.programTimeMs = 0;
        sim::CSimulatedPanel panel("BENCHPANEL", config);
        CTorvaneApp app;
        if (!app.m_link.Open(panel.PortName())) {
            std::fprintf(stderr, "torvane-bench-session: cannot open the in-process panel\n");
            exitCode = 1;
        }
        app.ApplyLinkState(app.m_link, 9600, 8, 0, 0);
        app.m_link.SetTimeout(linktime::kNormalReadTimeout);
        const uint32_t counts[] = {16, 64, 256};
        for (uint32_t rate : {9600u, 115200u}) {
            if (exitCode != 0) break;
            if (rate != 9600 &&
                app.ChangeBaudRate(app.m_link, rate, 8, 0, 0, IDS_COMM_ERROR_SETTING) != rate) {
                std::fprintf(stderr, "torvane-bench-session: the in-process panel refused %u bit/s\n", rate);
                exitCode = 1;
                break;
            }
            uint32_t start = 0x10000;
            for (uint32_t pages : counts) {
                CGrowthProgram program;
                const uint64_t virtualStart = clock.Now();
                const SteadyClock::time_point wallStart = SteadyClock::now();
                const bool ok = program.Program(app.m_link, start, pages);
                const double wall = SecondsBetween(wallStart, SteadyClock::now());
                const uint64_t virtualMs = clock.Now() - virtualStart;
                if (!ok || panel.Device().ProgrammedPages().size() == 0) exitCode = 1;
                std::printf("growth rate=%u pages=%u virtual_ms=%llu per_page_ms=%.3f wall_ms=%.3f ok=%d\n",
                            rate, pages, static_cast<unsigned long long>(virtualMs),
                            static_cast<double>(virtualMs) / pages, wall * 1000.0, ok ? 1 : 0);
                start += pages * kPageSize;
            }
        }
    }
    SetHost(previousHost);
    return exitCode;
}

struct Spread
{
    double mean = 0, median = 0, max = 0;
};

Spread SpreadOf(std::vector<double> values)
{
    Spread s;
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    for (double v : values)
        s.mean += v;
    s.mean /= static_cast<double>(values.size());
    s.median = values[values.size() / 2];
    s.max = values.back();
    return s;
}

void PrintSpread(const char* name, const Spread& s, double ideal)
{
    std::printf("%s ideal_us=%.1f mean_us=%.1f median_us=%.1f max_us=%.1f excess_median_us=%.1f\n", name,
                ideal, s.mean, s.median, s.max, s.median - ideal);
}

// Times the three steps of a page on the real port, one by one, to show where a
// page's time beyond the wire and the pause goes.
int RunProbe(uint32_t rate, int rounds, long timerSlackNs)
{
    if (timerSlackNs >= 0) bench::SetTimerSlackNs(timerSlackNs);
    CScriptedHost host;
    IHost* previousHost = SetHost(&host);
    int exitCode = 0;
    {
        CTorvaneApp app;
        CSerialComm& link = app.m_link;
        if (!link.Open("COM1")) {
            std::fprintf(stderr, "torvane-bench-session: cannot open COM1\n");
            SetHost(previousHost);
            return 1;
        }
        app.ApplyLinkState(link, 9600, 8, 0, 0);
        link.SetTimeout(linktime::kNormalReadTimeout);
        if (rate != 9600 && app.ChangeBaudRate(link, rate, 8, 0, 0, IDS_COMM_ERROR_SETTING) != rate) {
            std::fprintf(stderr, "torvane-bench-session: the panel refused %u bit/s\n", rate);
            exitCode = 1;
        }
        const double characterUs = 10e6 / rate;
        std::vector<double> frameUs, pauseUs, statusUs;
        uint8_t frame[3 + kPageSize];
        std::fill(std::begin(frame), std::end(frame), 0xFF);
        frame[0] = bootcode::kPageProgram;
        link.SetTimeout(linktime::kPageStatusTimeout);
        for (int i = 0; i < rounds && exitCode == 0; ++i) {
            auto t0 = SteadyClock::now();
            if (link.Write(frame, sizeof frame) != sizeof frame) exitCode = 1;
            auto t1 = SteadyClock::now();
            Sleep(kPagePause);
            auto t2 = SteadyClock::now();
            const uint8_t request = bootcode::kReadStatus;
            uint8_t reply[2];
            if (link.Write(&request, 1) != 1 || link.Read(reply, 2) != 2) exitCode = 1;
            auto t3 = SteadyClock::now();
            frameUs.push_back(SecondsBetween(t0, t1) * 1e6);
            pauseUs.push_back(SecondsBetween(t1, t2) * 1e6);
            statusUs.push_back(SecondsBetween(t2, t3) * 1e6);
        }
        link.SetTimeout(linktime::kNormalReadTimeout);
        std::printf("probe rate=%u rounds=%d timer_slack_ns=%d ok=%d\n", rate, rounds, bench::TimerSlackNs(),
                    exitCode == 0 ? 1 : 0);
        PrintSpread("frame_write", SpreadOf(frameUs), sizeof frame * characterUs);
        PrintSpread("page_pause", SpreadOf(pauseUs), kPagePause * 1000.0);
        PrintSpread("status_exchange", SpreadOf(statusUs), 3 * characterUs);
        if (rate != 9600) app.ReturnTo9600(link);
    }
    SetHost(previousHost);
    return exitCode;
}

int Usage()
{
    std::fprintf(
        stderr,
        "usage: torvane-bench-session session --rate N --upgrade FILE [--timer-slack-ns NS] | growth | probe "
        "--rate N [--rounds K] [--timer-slack-ns NS]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc % 2 != 0) return Usage();
    const std::string mode = argv[1];
    std::map<std::string, std::string> options;
    for (int i = 2; i + 1 < argc; i += 2)
        options[argv[i]] = argv[i + 1];
    auto number = [&options](const char* name, long fallback) {
        const auto it = options.find(name);
        return it == options.end() ? fallback : std::strtol(it->second.c_str(), nullptr, 10);
    };
    const uint32_t rate = static_cast<uint32_t>(number("--rate", 0));
    // As the program's own main does.
    platform::UsePreciseTimers();
    if (mode == "growth" && options.empty()) return RunGrowth();
    if (mode == "probe" && rate != 0)
        return RunProbe(rate, static_cast<int>(number("--rounds", 50)), number("--timer-slack-ns", -1));
    if (mode == "session" && rate != 0 && options.count("--upgrade")) {
        // Trying another timer slack for the whole program (the kernel's own is 50000 ns).
        if (const long slack = number("--timer-slack-ns", -1); slack >= 0) bench::SetTimerSlackNs(slack);
        return RunSession(rate, options["--upgrade"]);
    }
    return Usage();
}
