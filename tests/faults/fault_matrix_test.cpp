// Every step of the visible road (start-up, "Load Upgrade File", Erase, Program, Exit)
// against every fault the simulated panel can show. The faults land exactly where a
// step starts: the panel is reached through a pass-through port that counts the bytes
// the host sends and injects the fault just before the chosen one.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/FirstSetDlg.h"
#include "fixtures/AppFixture.h"
#include "framework/Dialog.h"
#include "platform/SerialDriver.h"
#include "res/Resource.h"

namespace {

const std::string kTimeout = "Timeout Error.\nPlease reset Orvex ( toggle power supply ).";
const std::string kCommError = "Communication error.\nPlease reset Orvex ( toggle power supply ).";
const std::string kNo9600 = "Can not set baudrate to 9600bps.";
const std::string kEraseOk = "Erase OK.";
const std::string kEraseError = "Erase error.";
const std::string kProgramOk = "Program OK.";
const std::string kProgramError = "Program error.";
const std::string kNoId = "Did not pass ID.";
const std::string kNoLink = "Can not communicate.";
const std::string kNoOutside = "Can not communicate to outside.";

std::string SettingsAt(uint32_t rate)
{
    return "[Last Comm State]\nBaundrate=" + std::to_string(rate) + "\nByte=8\nStop Bit=0\nParity=0\n";
}

// Host byte counts at which the steps of the road start (settings file at 57600).
namespace road {
constexpr size_t kSync = 0;         // 0xB0, sixteen 0x00
constexpr size_t kBaudRestore = 17; // 0xB0 0xB3 at 9600, 0xB3 at 57600
constexpr size_t kStatus = 20;      // 0x70, then 0x50
constexpr size_t kIdCheck = 22;     // 0x70, the ID frame, 0x70
constexpr size_t kErase = 36;       // the panel's 0x70, then 0x50 0x75 0xA7 0xD0 0x70
constexpr size_t kProgram = 42;     // the panel's 0x70, then 0x50
constexpr size_t PageAt(size_t index)
{
    return 44 + index * 260;
} // 259-byte frame, 0x70
constexpr size_t kFinalStatus = PageAt(256);
constexpr size_t kExit = kFinalStatus + 1; // 0xB3 0xB0 at 57600, 0xB0 at 9600
constexpr size_t kTotal = kExit + 3;
} // namespace road

// Runs actions just before the host sends byte number n (0-based) of the session.
struct ByteTriggers
{
    size_t sent = 0;
    std::multimap<size_t, std::function<void()>> actions;

    void FireDue()
    {
        while (!actions.empty() && actions.begin()->first <= sent) {
            auto action = std::move(actions.begin()->second);
            actions.erase(actions.begin());
            action();
        }
    }
    size_t ChunkBeforeNext(size_t count) const
    {
        if (actions.empty()) return count;
        return std::min(count, actions.begin()->first - sent);
    }
};

class CCountingPort final : public platform::ISerialDriver
{
public:
    CCountingPort(std::unique_ptr<platform::ISerialDriver> inner, std::shared_ptr<ByteTriggers> triggers)
        : m_inner(std::move(inner)), m_triggers(std::move(triggers))
    {
    }

    bool GetSettings(platform::SerialLineSettings& s) override { return m_inner->GetSettings(s); }
    bool SetSettings(const platform::SerialLineSettings& s) override { return m_inner->SetSettings(s); }
    bool TakeErrors(uint32_t& errors, uint32_t& queued) override
    {
        return m_inner->TakeErrors(errors, queued);
    }
    int Read(uint8_t* buffer, uint32_t count) override { return m_inner->Read(buffer, count); }
    bool DiscardInput() override { return m_inner->DiscardInput(); }
    bool RaiseDtr() override { return m_inner->RaiseDtr(); }
    platform::WaitResult WaitForInput(uint32_t queued, uint32_t wanted, uint32_t ms) override
    {
        return m_inner->WaitForInput(queued, wanted, ms);
    }
    int Write(const uint8_t* buffer, uint32_t count) override
    {
        uint32_t done = 0;
        while (done < count) {
            m_triggers->FireDue();
            const auto chunk = static_cast<uint32_t>(m_triggers->ChunkBeforeNext(count - done));
            if (m_inner->Write(buffer + done, chunk) < 0) return -1;
            m_triggers->sent += chunk;
            done += chunk;
        }
        return static_cast<int>(count);
    }

private:
    std::unique_ptr<platform::ISerialDriver> m_inner;
    std::shared_ptr<ByteTriggers> m_triggers;
};

enum class Fault { None, Silence, PowerCycle, RefusedBaudCode, FlashFailure, LineError };

const char* FaultName(Fault fault)
{
    switch (fault) {
    case Fault::None:
        return "NoFault";
    case Fault::Silence:
        return "Silence";
    case Fault::PowerCycle:
        return "PowerCycle";
    case Fault::RefusedBaudCode:
        return "RefusedBaudCode";
    case Fault::FlashFailure:
        return "FlashFailure";
    case Fault::LineError:
        return "LineError";
    }
    return "?";
}

struct Buttons
{
    BOOL erase, program, exit;
    bool operator==(const Buttons&) const = default;
};
constexpr Buttons kReadyToErase{TRUE, FALSE, FALSE};
constexpr Buttons kReadyToProgram{FALSE, TRUE, FALSE};
constexpr Buttons kDone{FALSE, FALSE, TRUE};

struct Flags
{
    BOOL linkOk, idPassed;
    bool operator==(const Flags&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Buttons& b)
{
    return out << "{erase " << b.erase << ", program " << b.program << ", exit " << b.exit << "}";
}
std::ostream& operator<<(std::ostream& out, const Flags& f)
{
    return out << "{link " << f.linkOk << ", id " << f.idPassed << "}";
}

struct Cell
{
    const char* step;
    size_t at; // host byte count where the fault lands
    Fault fault;
    uint32_t page; // flash failures: the page that fails (0 = the erase)
    std::vector<std::string> boxes;
    Flags flags;
    Buttons buttons;
    uint32_t settingsRate; // what the settings file holds afterwards
};

void PrintTo(const Cell& cell, std::ostream* out)
{
    *out << FaultName(cell.fault) << " at " << cell.step;
}

std::string CellName(const ::testing::TestParamInfo<Cell>& info)
{
    return std::string(FaultName(info.param.fault)) + "_At" + info.param.step;
}

MemoryMap UpgradeImage()
{
    return {{0xF0000, Pattern(0xF0000, 0x1234)},
            {0xF8010, Pattern(0xF8010, 0x300, 5)},
            {0xFFF80, Pattern(0xFFF80, 0x80, 9)}};
}

std::vector<uint8_t> ExpectedArea()
{
    std::vector<uint8_t> area(0x10000, 0xFF);
    for (const auto& [base, bytes] : UpgradeImage())
        for (size_t i = 0; i < bytes.size(); ++i)
            area[base + i - 0xF0000] = bytes[i];
    return area;
}

class FaultMatrix : public AppFixture, public ::testing::WithParamInterface<Cell>
{
protected:
    FaultMatrix()
    {
        // The panel is served under a private name; "COM1" counts the bytes on the way.
        m_panel = std::make_unique<sim::CSimulatedPanel>("FAULTSIM", DefaultConfig());
        platform::RegisterSerialPort(
            "COM1",
            [triggers = m_triggers](platform::OpenError& error) -> std::unique_ptr<platform::ISerialDriver> {
                auto inner = platform::OpenSerialDriver("FAULTSIM", error);
                if (!inner) return nullptr;
                return std::make_unique<CCountingPort>(std::move(inner), triggers);
            });
        m_host.onFailure = [this](const std::string& what) {
            // Later showings of "Set baudrate" are answered like Escape (the host cancels them).
            if (what.rfind("unexpected dialog " + std::to_string(IDD_SETCOMM), 0) == 0) return;
            if (m_draining && what.rfind("unexpected dialog", 0) == 0) return;
            ADD_FAILURE() << "scripted host: " << what;
        };
        m_host.onMessageBox = [this](const MessageBoxRecord& box) { OnBox(box); };
        WriteSavedRate(57600);
        FillOldFirmware();
        m_file = WriteFile("panel.mot", MakeSRecords(UpgradeImage())).string();
        WriteFile("panel.id", "FFFDF B6\nFFFE3 B6\n");
    }

    ~FaultMatrix() override
    {
        m_app->m_link.Close();
        platform::UnregisterSerialPort("COM1");
    }

    void FillOldFirmware()
    {
        for (uint32_t address : {0xF0000u, 0xF4321u, 0xFFF00u, 0xC0000u})
            for (uint32_t i = 0; i < 64; ++i)
                Device().WriteFlash(address + i, static_cast<uint8_t>(i));
    }

    void OnBox(const MessageBoxRecord& box)
    {
        if (box.text == kTimeout) {
            if (!m_setCommAnswered) AnswerSetCommOk();
            // The technician does what the box asks.
            Device().PowerCycleNow();
            m_clock.Advance(3000);
        } else if (box.text == kEraseOk) {
            EXPECT_TRUE(Device().NonBlankPages().empty()) << "\"Erase OK.\" over a flash that is not blank";
        } else if (box.text == kProgramOk) {
            EXPECT_EQ(Device().ReadFlashRange(0xF0000, 0x10000), ExpectedArea())
                << "\"Program OK.\" over a flash that does not hold the upgrade";
        }
    }

    void AnswerSetCommOk()
    {
        m_setCommAnswered = true;
        m_host.Expect(IDD_SETCOMM, CDialogScript().Press(IDOK));
    }

    void Inject(const Cell& cell)
    {
        sim::CBootLoader& device = Device();
        switch (cell.fault) {
        case Fault::None:
            break;
        case Fault::Silence:
            m_triggers->actions.emplace(cell.at, [&device] { device.SetSilent(true); });
            break;
        case Fault::PowerCycle:
            m_triggers->actions.emplace(cell.at, [&device] { device.PowerCycleNow(); });
            break;
        case Fault::RefusedBaudCode:
            m_triggers->actions.emplace(cell.at, [&device] { device.RefuseBaudCode(0xB3); });
            break;
        case Fault::FlashFailure:
            m_triggers->actions.emplace(cell.at, [&device, page = cell.page] {
                if (page == 0)
                    device.FailErase(true);
                else
                    device.FailProgramAtPage(page);
            });
            break;
        case Fault::LineError:
            m_triggers->actions.emplace(cell.at, [&device] { device.LineErrorOnNextRead(); });
            break;
        }
    }

    void RunRoad()
    {
        ExpectPortDialogOk();
        m_host.AnswerFileDialog(m_file);
        m_host.Expect(IDD_FIRSTSET, CDialogScript()
                                        .Do([this](CDialog&) {
                                            if (!m_setCommAnswered && !m_draining) AnswerSetCommOk();
                                        })
                                        .Press(IDOK));
        m_host.Expect(IDD_IDCHECK, CDialogScript().Press(IDC_LOAD).Press(IDOK).Escape());
        m_host.Expect(IDD_TORVANE_DIALOG, CDialogScript().Do([this](CDialog& panel) { RunPanel(panel); }));
        EXPECT_FALSE(m_app->InitInstance());

        // The first-setting answer was queued for a start-up that might not need it.
        if (!Shown(IDD_FIRSTSET)) {
            m_draining = true;
            CFirstSetDlg unused;
            unused.DoModal();
            m_draining = false;
        }
        m_boxes = Boxes();
    }

    void RunPanel(CDialog& panel)
    {
        auto enabled = [&panel](int id) { return panel.GetDlgItem(id)->IsWindowEnabled(); };
        if (enabled(IDC_ERASE)) panel.OnCommand(IDC_ERASE);
        if (enabled(IDC_PROGRAM)) {
            m_host.Expect(IDD_PREWRITE, CDialogScript().Enter());
            panel.OnCommand(IDC_PROGRAM);
        }
        m_flags = {m_app->m_bLinkOk, m_app->m_bIdPassed};
        m_buttons = {enabled(IDC_ERASE), enabled(IDC_PROGRAM), enabled(IDCANCEL)};
        m_boxesBeforeExit = Boxes().size();
        // "Exit", or the close box while it is still disabled: both run the exit procedure.
        panel.OnCommand(IDCANCEL);
    }

    bool Shown(int templateId) const
    {
        const auto& events = m_host.Events();
        return std::find(events.begin(), events.end(), "dialog " + std::to_string(templateId)) !=
               events.end();
    }

    std::shared_ptr<ByteTriggers> m_triggers = std::make_shared<ByteTriggers>();
    std::string m_file;
    bool m_setCommAnswered = false;
    bool m_draining = false;
    std::vector<std::string> m_boxes;
    size_t m_boxesBeforeExit = 0;
    Flags m_flags{-1, -1};
    Buttons m_buttons{-1, -1, -1};
};

class CleanRoad : public FaultMatrix
{
};

TEST_F(CleanRoad, StepsStartWhereTheMatrixInjects)
{
    RunRoad();
    const auto bytes = m_panel->HostBytesWithBaud();
    ASSERT_EQ(bytes.size(), road::kTotal);
    using Sent = std::pair<uint8_t, uint32_t>;
    EXPECT_EQ(bytes[road::kSync], Sent(0xB0, 9600));
    EXPECT_EQ(bytes[road::kBaudRestore + 1], Sent(0xB3, 9600));
    EXPECT_EQ(bytes[road::kStatus], Sent(0x70, 57600));
    EXPECT_EQ(bytes[road::kIdCheck], Sent(0x70, 57600));
    EXPECT_EQ(bytes[road::kIdCheck + 1], Sent(0xF5, 57600));
    EXPECT_EQ(bytes[road::kErase], Sent(0x70, 57600));
    EXPECT_EQ(bytes[road::kErase + 3], Sent(0xA7, 57600));
    EXPECT_EQ(bytes[road::kProgram], Sent(0x70, 57600));
    for (size_t page : {0u, 128u, 255u}) {
        EXPECT_EQ(bytes[road::PageAt(page)].first, 0x41) << page;
        EXPECT_EQ(bytes[road::PageAt(page) + 1].first, page & 0xFF) << page;
        EXPECT_EQ(bytes[road::PageAt(page) + 259].first, 0x70) << page;
    }
    EXPECT_EQ(bytes[road::kFinalStatus], Sent(0x70, 57600));
    EXPECT_EQ(bytes[road::kExit], Sent(0xB3, 57600));
    EXPECT_EQ(bytes[road::kTotal - 1], Sent(0xB0, 9600));
    EXPECT_EQ(m_boxes, (std::vector<std::string>{kEraseOk, kProgramOk}));
}

TEST_P(FaultMatrix, ShowsTheRightMessagesAndNeverClaimsWhatTheFlashDoesNotHold)
{
    const Cell& cell = GetParam();
    Inject(cell);
    RunRoad();

    EXPECT_EQ(m_boxes, cell.boxes);
    EXPECT_EQ(m_flags, cell.flags);
    EXPECT_EQ(m_buttons, cell.buttons);
    // The settings file is rewritten whole, never left half-written.
    EXPECT_EQ(SettingsText(), SettingsAt(cell.settingsRate));
    const bool recovered = std::find(m_boxes.begin(), m_boxes.end(), kTimeout) != m_boxes.end();
    if (recovered) {
        EXPECT_EQ(cell.settingsRate, 9600u);
    }
    // "Erase OK." and "Program OK." are checked against the flash when they show (OnBox),
    // and the upgrade must still be there at the end.
    const bool programOk = std::find(m_boxes.begin(), m_boxes.end(), kProgramOk) != m_boxes.end();
    if (programOk) {
        EXPECT_EQ(Device().ReadFlashRange(0xF0000, 0x10000), ExpectedArea());
    }
    // The exit procedure always returns the device to 9600 bit/s unless it says otherwise.
    const bool no9600 = std::find(m_boxes.begin(), m_boxes.end(), kNo9600) != m_boxes.end();
    if (!no9600) {
        EXPECT_EQ(Device().Baud(), 9600u);
    }
    EXPECT_FALSE(m_app->m_link.IsOpen());
    EXPECT_FALSE(m_app->m_hMutex.IsHeld());
}

using B = std::vector<std::string>;
constexpr Flags kBothOk{TRUE, TRUE};

// What each cell must show. The technician toggles the power at every time-out box and
// answers the first "Set baudrate" with OK (9600, the rate the recovery has just stored);
// later showings are cancelled, so a device that stays silent ends its recovery chain.
constexpr Flags kLinkDown{FALSE, FALSE};
constexpr Flags kLinkNoId{TRUE, FALSE};
// clang-format off
const Cell kCells[] = {
    {"Nothing", 0, Fault::None, 0, B{kEraseOk, kProgramOk}, kBothOk, kDone, 57600},

    // A cable that stays out: every exchange times out; the panel ends up refusing.
    {"Sync", road::kSync, Fault::Silence, 0,
     B{kTimeout, kCommError, kTimeout,      // sync; the recovery's 9600 fails, handed back once
       kCommError, kTimeout,                // the restore of the (now 9600) saved rate
       kTimeout, kTimeout,                  // "Load Upgrade File": status, then ID status
       kNoLink, kNo9600}, kLinkDown, kReadyToErase, 9600},
    {"BaudRestore", road::kBaudRestore, Fault::Silence, 0,
     B{kCommError, kTimeout, kCommError, kTimeout, kTimeout, kTimeout, kNoLink, kNo9600},
     kLinkDown, kReadyToErase, 9600},
    // The first-setting dialog's "Set baudrate" (57600 from the file) meets silence too.
    {"Status", road::kStatus, Fault::Silence, 0,
     B{kCommError, kTimeout, kTimeout, kTimeout, kNoLink, kNo9600}, kLinkDown, kReadyToErase, 9600},
    {"IdCheck", road::kIdCheck, Fault::Silence, 0,
     B{kTimeout, kCommError, kTimeout, kTimeout, kNoLink, kNo9600}, kLinkDown, kReadyToErase, 9600},
    {"Erase", road::kErase + 1, Fault::Silence, 0,
     B{kTimeout, kCommError, kTimeout, kEraseError, kNo9600}, kLinkDown, kReadyToErase, 9600},
    {"FirstPage", road::PageAt(0), Fault::Silence, 0,
     B{kEraseOk, kTimeout, kCommError, kTimeout, kProgramError, kNo9600}, kLinkDown, kReadyToProgram, 9600},
    {"MiddlePage", road::PageAt(128), Fault::Silence, 0,
     B{kEraseOk, kTimeout, kCommError, kTimeout, kProgramError, kNo9600}, kLinkDown, kReadyToProgram, 9600},
    {"LastPage", road::PageAt(255), Fault::Silence, 0,
     B{kEraseOk, kTimeout, kCommError, kTimeout, kProgramError, kNo9600}, kLinkDown, kReadyToProgram, 9600},
    {"FinalStatus", road::kFinalStatus, Fault::Silence, 0,
     B{kEraseOk, kTimeout, kCommError, kTimeout, kProgramError, kNo9600}, kLinkDown, kReadyToProgram, 9600},
    {"Exit", road::kExit, Fault::Silence, 0, B{kEraseOk, kProgramOk, kNo9600}, kBothOk, kDone, 57600},

    // The panel restarts at 9600 with its ID not verified and ignores flash commands.
    {"Sync", road::kSync, Fault::PowerCycle, 0, B{kEraseOk, kProgramOk}, kBothOk, kDone, 57600},
    {"BaudRestore", road::kBaudRestore, Fault::PowerCycle, 0, B{kEraseOk, kProgramOk}, kBothOk, kDone, 57600},
    // No status at 57600: the first setting's 57600 fails, the recovery's toggle brings the
    // panel back, and "Load Upgrade File" passes the ID over a link the flag calls dead.
    {"Status", road::kStatus, Fault::PowerCycle, 0, B{kCommError, kTimeout, kNoLink},
     Flags{FALSE, TRUE}, kReadyToErase, 9600},
    {"IdCheck", road::kIdCheck, Fault::PowerCycle, 0, B{kTimeout, kEraseOk, kProgramOk}, kBothOk, kDone, 9600},
    {"Erase", road::kErase + 1, Fault::PowerCycle, 0, B{kTimeout, kEraseError}, kLinkNoId, kReadyToErase, 9600},
    {"FirstPage", road::PageAt(0), Fault::PowerCycle, 0, B{kEraseOk, kTimeout, kProgramError},
     kLinkNoId, kReadyToProgram, 9600},
    {"MiddlePage", road::PageAt(128), Fault::PowerCycle, 0, B{kEraseOk, kTimeout, kProgramError},
     kLinkNoId, kReadyToProgram, 9600},
    {"LastPage", road::PageAt(255), Fault::PowerCycle, 0, B{kEraseOk, kTimeout, kProgramError},
     kLinkNoId, kReadyToProgram, 9600},
    {"FinalStatus", road::kFinalStatus, Fault::PowerCycle, 0, B{kEraseOk, kTimeout, kProgramError},
     kLinkNoId, kReadyToProgram, 9600},
    {"Exit", road::kExit, Fault::PowerCycle, 0, B{kEraseOk, kProgramOk, kNo9600}, kBothOk, kDone, 57600},

    // The panel will not take 57600: only the restore and the exit ask for it.
    {"Sync", road::kSync, Fault::RefusedBaudCode, 0, B{kCommError, kEraseOk, kProgramOk}, kBothOk, kDone, 9600},
    {"BaudRestore", road::kBaudRestore, Fault::RefusedBaudCode, 0, B{kCommError, kEraseOk, kProgramOk},
     kBothOk, kDone, 9600},
    {"Status", road::kStatus, Fault::RefusedBaudCode, 0, B{kEraseOk, kProgramOk, kNo9600}, kBothOk, kDone, 57600},
    {"IdCheck", road::kIdCheck, Fault::RefusedBaudCode, 0, B{kEraseOk, kProgramOk, kNo9600}, kBothOk, kDone, 57600},
    {"Erase", road::kErase + 1, Fault::RefusedBaudCode, 0, B{kEraseOk, kProgramOk, kNo9600}, kBothOk, kDone, 57600},
    {"FirstPage", road::PageAt(0), Fault::RefusedBaudCode, 0, B{kEraseOk, kProgramOk, kNo9600}, kBothOk, kDone,
     57600},
    {"MiddlePage", road::PageAt(128), Fault::RefusedBaudCode, 0, B{kEraseOk, kProgramOk, kNo9600}, kBothOk, kDone,
     57600},
    {"LastPage", road::PageAt(255), Fault::RefusedBaudCode, 0, B{kEraseOk, kProgramOk, kNo9600}, kBothOk, kDone,
     57600},
    {"FinalStatus", road::kFinalStatus, Fault::RefusedBaudCode, 0, B{kEraseOk, kProgramOk, kNo9600}, kBothOk,
     kDone, 57600},
    {"Exit", road::kExit, Fault::RefusedBaudCode, 0, B{kEraseOk, kProgramOk, kNo9600}, kBothOk, kDone, 57600},

    // One read fails on a framing error.
    {"Sync", road::kSync, Fault::LineError, 0, B{kTimeout, kEraseOk, kProgramOk}, kBothOk, kDone, 9600},
    // The error fails the first echo before the echo itself arrives: it lands after the
    // purge, and the settled purge before the ID check throws it away.
    {"BaudRestore", road::kBaudRestore, Fault::LineError, 0, B{kCommError, kEraseOk, kProgramOk}, kBothOk, kDone,
     9600},
    // The failed start-up status offers the first setting, whose 57600 then works.
    {"Status", road::kStatus, Fault::LineError, 0, B{kEraseOk, kProgramOk}, kBothOk, kDone, 57600},
    {"IdCheck", road::kIdCheck, Fault::LineError, 0, B{kTimeout, kEraseOk, kProgramOk}, kBothOk, kDone, 9600},
    {"Erase", road::kErase + 1, Fault::LineError, 0, B{kTimeout, kEraseError}, kLinkNoId, kReadyToErase, 9600},
    {"FirstPage", road::PageAt(0), Fault::LineError, 0, B{kEraseOk, kTimeout, kProgramError},
     kLinkNoId, kReadyToProgram, 9600},
    {"MiddlePage", road::PageAt(128), Fault::LineError, 0, B{kEraseOk, kTimeout, kProgramError},
     kLinkNoId, kReadyToProgram, 9600},
    {"LastPage", road::PageAt(255), Fault::LineError, 0, B{kEraseOk, kTimeout, kProgramError},
     kLinkNoId, kReadyToProgram, 9600},
    {"FinalStatus", road::kFinalStatus, Fault::LineError, 0, B{kEraseOk, kTimeout, kProgramError},
     kLinkNoId, kReadyToProgram, 9600},
    {"Exit", road::kExit, Fault::LineError, 0, B{kEraseOk, kProgramOk, kNo9600}, kBothOk, kDone, 57600},

    // The flash itself fails: the command says so and its button stays offered.
    {"Erase", road::kErase + 1, Fault::FlashFailure, 0, B{kEraseError}, kBothOk, kReadyToErase, 57600},
    {"FirstPage", road::PageAt(0), Fault::FlashFailure, 0xF0000, B{kEraseOk, kProgramError}, kBothOk,
     kReadyToProgram, 57600},
    {"MiddlePage", road::PageAt(128), Fault::FlashFailure, 0xF8000, B{kEraseOk, kProgramError}, kBothOk,
     kReadyToProgram, 57600},
    {"LastPage", road::PageAt(255), Fault::FlashFailure, 0xFFF00, B{kEraseOk, kProgramError}, kBothOk,
     kReadyToProgram, 57600},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Road, FaultMatrix, ::testing::ValuesIn(kCells), CellName);

} // namespace
