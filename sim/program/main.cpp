// torvane-sim: the panel's boot loader on a pseudo-terminal, reachable as COM1, so
// that the tool can be run and shown without a panel attached.
#include <CLI/CLI.hpp>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "platform/Clock.h"
#include "platform/Paths.h"
#include "sim/BootLoader.h"
#include "sim/FlashRecords.h"
#include "sim/program/PtyServer.h"

namespace {

std::atomic<bool> g_stop{false};
std::atomic<bool> g_togglePower{false};

constexpr char kPowerKey = 'p';
constexpr int kPowerPollMs = 50;

extern "C" void OnStopSignal(int)
{
    g_stop = true;
}

extern "C" void OnPowerSignal(int)
{
    g_togglePower = true;
}

void InstallStopHandlers()
{
    struct sigaction action
    {
    };
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: poll must wake up
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    action.sa_handler = OnPowerSignal;
    sigaction(SIGUSR1, &action, nullptr);
}

// The technician's power switch: "p" in the simulator's terminal or SIGUSR1. Off, the
// panel stops whatever it was doing, hears and answers nothing; on again, it starts as
// from power-on (9600 bit/s, ID check reset, flash kept), as a real panel does after
// "toggle power supply".
class CPowerSwitch
{
public:
    explicit CPowerSwitch(sim::CBootLoader& device, bool startsOff) : m_device(device), m_off(startsOff)
    {
        if (m_off) m_device.PowerOff();
        // Keys arrive one by one, without echo, only when the terminal is ours.
        m_terminal = isatty(STDIN_FILENO) && tcgetpgrp(STDIN_FILENO) == getpgrp() &&
                     tcgetattr(STDIN_FILENO, &m_saved) == 0;
        if (m_terminal) {
            termios raw = m_saved;
            raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
            raw.c_cc[VMIN] = 0;
            raw.c_cc[VTIME] = 0;
            m_terminal = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
        }
    }
    ~CPowerSwitch()
    {
        if (m_terminal) tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    }
    CPowerSwitch(const CPowerSwitch&) = delete;
    CPowerSwitch& operator=(const CPowerSwitch&) = delete;

    // Watches the key and the signal until stop is set; tick runs on every round.
    void Run(const std::atomic<bool>& stop, const std::function<void()>& tick)
    {
        while (!stop) {
            pollfd pfd{m_terminal ? STDIN_FILENO : -1, POLLIN, 0};
            const int ready = ::poll(&pfd, 1, kPowerPollMs);
            if (ready > 0 && (pfd.revents & POLLIN)) {
                char key = 0;
                if (::read(STDIN_FILENO, &key, 1) == 1 && (key == kPowerKey || key == 'P')) Toggle();
            }
            if (g_togglePower.exchange(false)) Toggle();
            tick();
        }
    }

private:
    void Toggle()
    {
        m_off = !m_off;
        if (m_off)
            m_device.PowerOff();
        else
            m_device.PowerOn();
        std::cerr << "torvane-sim: power " << (m_off ? "off" : "on") << std::endl;
    }

    sim::CBootLoader& m_device;
    bool m_off;
    bool m_terminal = false;
    termios m_saved{};
};

bool ParseHex(const std::string& text, uint32_t& value)
{
    try {
        size_t used = 0;
        const unsigned long parsed = std::stoul(text, &used, 16);
        if (used != text.size() || parsed > 0xFFFFFFFFul) return false;
        value = static_cast<uint32_t>(parsed);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool ParseId(const std::string& text, std::array<uint8_t, 7>& id)
{
    if (text.size() != 14) return false;
    for (size_t i = 0; i < id.size(); ++i) {
        uint32_t value = 0;
        if (!ParseHex(text.substr(2 * i, 2), value)) return false;
        id[i] = static_cast<uint8_t>(value);
    }
    return true;
}

bool WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

std::string FormatStatus(const sim::CBootLoader& device)
{
    const sim::FrameCounters c = device.Counters();
    std::ostringstream text;
    text << "power=" << (device.PoweredOn() ? "on" : "off") << "\n"
         << "page_frames=" << c.pageFrames << "\n"
         << "page_frames_while_busy=" << c.pageFramesWhileBusy << "\n"
         << "erase_commands=" << c.eraseCommands << "\n"
         << "page_reads=" << c.pageReads << "\n"
         << "status_requests=" << c.statusRequests << "\n"
         << "bytes_lost=" << c.bytesLost << "\n"
         << "baud=" << device.Baud() << "\n";
    return text.str();
}

// A reader never sees half a file: the new text replaces the old one in one rename.
class CStatusFile
{
public:
    explicit CStatusFile(std::string path) : m_path(std::move(path)) {}

    bool Update(const sim::CBootLoader& device)
    {
        if (m_path.empty()) return true;
        const std::string text = FormatStatus(device);
        if (text == m_written) return true;
        const std::string temporary = m_path + ".tmp";
        if (!WriteFile(temporary, text) || std::rename(temporary.c_str(), m_path.c_str()) != 0) return false;
        m_written = text;
        return true;
    }

private:
    std::string m_path;
    std::string m_written;
};

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Serves a simulated panel boot loader on a pseudo-terminal and prints its path.\n"
                 "Press p in this terminal, or send SIGUSR1 (kill -USR1 PID), to toggle the\n"
                 "panel's power: off it stops an erase or a page where it stands, drops the\n"
                 "replies on their way and hears nothing; on again it starts as from power-on\n"
                 "(9600 bit/s, ID check reset, flash kept).\n"
                 "--status-file FILE keeps FILE up to date (within 50 ms, and at exit) with lines\n"
                 "name=value: power (on/off), page_frames, page_frames_while_busy,\n"
                 "erase_commands, page_reads, status_requests, bytes_lost (received while off),\n"
                 "baud (the panel's rate now).",
                 "torvane-sim"};
    app.set_version_flag("--version", "torvane-sim 1.0.0");

    std::string portName = "COM1";
    std::string idText;
    bool idVerified = false;
    bool noIdGate = false;
    uint32_t eraseMs = 2000;
    uint32_t programMs = 2;
    std::string versionText;
    bool silent = false;
    std::optional<uint32_t> silentAfter;
    std::vector<std::string> refusedCodes;
    std::vector<std::string> failingPages;
    bool failErase = false;
    std::optional<uint32_t> powerCycleAfter;
    std::optional<uint32_t> lineErrorAfter;
    uint32_t replyDelayMs = 0;
    uint32_t adapterLatencyMs = 0;
    bool realtime = false;
    bool busyWait = false;
    std::string traceFile;
    std::string flashOut;
    std::string flashIn;
    std::string eraseLeavesPage;
    uint32_t busyAfterPageMs = 0;
    std::string statusFile;

    app.add_option("--port", portName, "Alias created in the ports folder")->capture_default_str();
    app.add_option("--id", idText, "The device's ID code, 14 hex digits (default B6B6B6B6B6B6B6)");
    app.add_flag("--id-verified", idVerified, "The ID check counts as passed from power-on");
    app.add_flag("--no-id-gate", noIdGate, "Accept flash commands before the ID check");
    app.add_option("--erase-ms", eraseMs, "Time an erase takes")->capture_default_str();
    app.add_option("--program-ms", programMs, "Time a page program takes")->capture_default_str();
    app.add_option("--version-text", versionText, "Reply to the version request (8 characters)");
    app.add_flag("--silent", silent, "Start with the power off: answer nothing until it is switched on");
    app.add_option("--silent-after", silentAfter, "Fall silent after N received bytes");
    app.add_option("--refuse-baud-code", refusedCodes, "Do not echo (nor switch on) this speed code, hex");
    app.add_option("--fail-program-at", failingPages, "Fail the program of the page at this hex address");
    app.add_flag("--fail-erase", failErase, "Report every erase as failed, flash kept");
    app.add_option("--erase-leaves-page", eraseLeavesPage,
                   "Erase reports success but the page at this hex address keeps its old data");
    app.add_option("--busy-after-page-ms", busyAfterPageMs,
                   "After each page the ready bit (SRD1 bit 7) stays clear this long; a page frame "
                   "begun meanwhile is dropped and counted");
    app.add_option("--status-file", statusFile, "Keep the power state and frame counters in this file");
    app.add_option("--power-cycle-after", powerCycleAfter,
                   "Power-cycle after N received bytes (9600 bit/s, status and ID reset, flash kept)");
    app.add_option("--line-error-after", lineErrorAfter,
                   "After N received bytes garble the next byte to the host");
    app.add_option("--reply-delay-ms", replyDelayMs, "Extra delay before every reply");
    app.add_option("--adapter-latency-ms", adapterLatencyMs,
                   "Hold replies as a USB adapter's latency timer does (FTDI: 16 by default)");
    app.add_flag("--realtime", realtime, "Model the wire time of the host's bytes as well");
    app.add_flag("--busy-wait", busyWait, "Never sleep, for exact reply timing (uses a whole core)");
    app.add_option("--trace", traceFile, "Write the wire trace to this file at exit");
    app.add_option("--flash-out", flashOut, "Write the flash contents at exit as S-records");
    app.add_option("--flash-in", flashIn, "Start with this S-record file in the flash (the old firmware)");
    CLI11_PARSE(app, argc, argv);

    sim::BootLoaderConfig config;
    if (!idText.empty() && !ParseId(idText, config.id)) {
        std::cerr << "torvane-sim: --id needs 14 hex digits\n";
        return 2;
    }
    config.idVerifiedAtStart = idVerified;
    config.ignoreFlashUntilId = !noIdGate;
    config.eraseTimeMs = eraseMs;
    config.programTimeMs = programMs;

    sim::CBootLoader device(config);
    if (!versionText.empty()) device.SetVersion(versionText);
    if (silentAfter) device.SilentAfterBytes(*silentAfter);
    for (const std::string& text : refusedCodes) {
        uint32_t code = 0;
        if (!ParseHex(text, code) || code > 0xFF) {
            std::cerr << "torvane-sim: bad speed code " << text << "\n";
            return 2;
        }
        device.RefuseBaudCode(static_cast<uint8_t>(code));
    }
    for (const std::string& text : failingPages) {
        uint32_t address = 0;
        if (!ParseHex(text, address) || address > 0xFFFFFF) {
            std::cerr << "torvane-sim: bad page address " << text << "\n";
            return 2;
        }
        device.FailProgramAtPage(address);
    }
    device.FailErase(failErase);
    if (!eraseLeavesPage.empty()) {
        uint32_t address = 0;
        if (!ParseHex(eraseLeavesPage, address) || address > 0xFFFFFF) {
            std::cerr << "torvane-sim: bad page address " << eraseLeavesPage << "\n";
            return 2;
        }
        device.EraseLeavesPage(address);
    }
    device.SetBusyAfterPageMs(busyAfterPageMs);
    if (powerCycleAfter) device.PowerCycleAfterBytes(*powerCycleAfter);
    device.SetReplyDelayMs(replyDelayMs);
    device.SetAdapterLatencyMs(adapterLatencyMs);
    if (!flashIn.empty()) {
        std::ifstream in(flashIn, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            std::cerr << "torvane-sim: cannot read " << flashIn << "\n";
            return 2;
        }
        std::string error;
        if (!sim::LoadSRecordsIntoFlash(device, text, error)) {
            std::cerr << "torvane-sim: " << flashIn << ": " << error << "\n";
            return 2;
        }
    }

    InstallStopHandlers();
    int exitCode = 0;
    CStatusFile status(statusFile);
    {
        sim::CPtyServer server(device, {realtime, lineErrorAfter, busyWait});
        std::string error;
        if (!server.Open(error) || !server.CreateAlias((platform::PortsDir() / portName).Native(), error)) {
            std::cerr << "torvane-sim: " << error << "\n";
            return 1;
        }
        std::cout << server.SlavePath() << std::endl;
        // This simulator's own number, so the power switch reaches it and no other user's.
        std::cerr << "torvane-sim: the panel's power switch: p here, or kill -USR1 " << getpid() << std::endl;
        // A device's UART keeps time to the bit; the replies must not wait for a lazy timer.
        platform::UsePreciseTimers();
        CPowerSwitch power(device, silent);
        status.Update(device);
        std::thread watcher([&] { power.Run(g_stop, [&] { status.Update(device); }); });
        server.Run(g_stop);
        g_stop = true;
        watcher.join();
    }

    if (!status.Update(device)) {
        std::cerr << "torvane-sim: cannot write " << statusFile << "\n";
        exitCode = 1;
    }
    if (!traceFile.empty()) {
        std::string text;
        for (const sim::WireEvent& e : device.Trace())
            text += sim::FormatWireEvent(e) + "\n";
        if (!WriteFile(traceFile, text)) {
            std::cerr << "torvane-sim: cannot write " << traceFile << "\n";
            exitCode = 1;
        }
    }
    if (!flashOut.empty() && !WriteFile(flashOut, sim::FormatFlashAsSRecords(device))) {
        std::cerr << "torvane-sim: cannot write " << flashOut << "\n";
        exitCode = 1;
    }
    return exitCode;
}
