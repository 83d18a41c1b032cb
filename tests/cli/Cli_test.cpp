// torvane-cli's outcomes against the in-process panel on the virtual clock: one case
// per exit code with the flash checked after it, the backup that puts the old flash
// back, and the JSON events.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/Session.h"
#include "fixtures/CliFixture.h"
#include "link/SerialComm.h"
#include "loader/Engine.h"
#include "platform/Paths.h"

namespace {

class Cli : public CliFixture
{
protected:
    Cli()
    {
        m_upgrade = Pattern(kArea, kAreaLength, 3);
        m_file = WriteFile("panel.mot", MakeSRecords({{kArea, m_upgrade}})).string();
        WriteFile("panel.id", kIdFile);
    }
    bool AreaBlank()
    {
        const std::vector<uint8_t> area = Area();
        return std::all_of(area.begin(), area.end(), [](uint8_t b) { return b == 0xFF; });
    }

    // The JSON events of the last run.
    std::vector<nlohmann::json> Events()
    {
        std::vector<nlohmann::json> events;
        std::istringstream lines(m_out.str());
        for (std::string line; std::getline(lines, line);)
            events.push_back(nlohmann::json::parse(line));
        return events;
    }
    static size_t Lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

    // What a run that failed part-way at this rate leaves behind: the panel there.
    void LeavePanelAt(uint32_t rate)
    {
        CSerialComm link;
        ASSERT_TRUE(link.Open("COM1"));
        link.SetTimeout(1000);
        loader::CEngine engine(link);
        engine.SetLinkRate(9600);
        ASSERT_TRUE(engine.NegotiateRate(9600, rate).Ok());
        ASSERT_EQ(Device().Baud(), rate);
    }

    std::vector<uint8_t> m_upgrade;
    std::string m_file;
};

TEST_F(Cli, ProgramWithVerifyLeavesTheFileInFlashAndReportsItAsJson)
{
    ASSERT_EQ(Run({"program", m_file, "--port", "COM1", "--baud", "115200", "--verify", "--json"}), 0)
        << m_err.str();
    EXPECT_EQ(Area(), m_upgrade);
    EXPECT_EQ(Device().Baud(), 9600u) << "the link goes back to 9600 bit/s";
    EXPECT_NE(SettingsText().find("Baundrate=115200"), std::string::npos);

    std::vector<nlohmann::json> events;
    std::istringstream lines(m_out.str());
    for (std::string line; std::getline(lines, line);)
        events.push_back(nlohmann::json::parse(line));
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front()["event"], "start");
    EXPECT_EQ(events.front()["port"], "COM1");
    const nlohmann::json& result = events.back();
    EXPECT_EQ(result["event"], "result");
    EXPECT_EQ(result["exit_code"], 0);
    EXPECT_EQ(result["pages"], 256);
    EXPECT_EQ(result["baud"], 115200);
    EXPECT_EQ(result["verified"], true);
    EXPECT_GT(result["seconds"].get<double>(), 0);
    std::vector<std::string> messages;
    uint32_t lastProgramPages = 0;
    for (const nlohmann::json& e : events) {
        if (e["event"] == "message") messages.push_back(e["text"]);
        if (e["event"] == "progress" && e["operation"] == "Program") {
            EXPECT_EQ(e["pages_total"], 256);
            EXPECT_GE(e["pages_done"].get<uint32_t>(), lastProgramPages);
            lastProgramPages = e["pages_done"];
            EXPECT_GE(e["bytes_per_second"].get<double>(), 0);
        }
    }
    EXPECT_GT(lastProgramPages, 250u);
    EXPECT_EQ(messages, (std::vector<std::string>{"Erase OK.", "Program OK."}));
}

TEST_F(Cli, EachFailureHasItsExitCodeAndLeavesTheFlashAsTheDeviceHasIt)
{
    // Silent panel: nothing written, one line saying what was tried.
    Device().SetSilent(true);
    EXPECT_EQ(Run({"program", m_file, "--port", "COM1"}), 5);
    EXPECT_NE(m_err.str().find("the panel does not answer"), std::string::npos) << m_err.str();
    EXPECT_TRUE(AreaBlank());
    Device().SetSilent(false);

    // A file the loader refuses, and one that is not there.
    const std::string text = WriteFile("panel.txt", "S0030000FC\n").string();
    EXPECT_EQ(Run({"program", text, "--port", "COM1"}), 6);
    EXPECT_NE(m_err.str().find("panel.txt: refused: line 2: the file ends without its end record"),
              std::string::npos)
        << m_err.str();
    EXPECT_EQ(Run({"program", m_file + ".missing", "--port", "COM1"}), 6);
    EXPECT_TRUE(AreaBlank());

    // No such port.
    EXPECT_EQ(Run({"status", "--port", "COM9"}), 3);
    EXPECT_EQ(Run({"program", m_file, "--port", "COM1", "--baud", "12345"}), 2);
}

TEST_F(Cli, IdMismatchStopsBeforeTheErase)
{
    Device().WriteFlash(kArea + 5, 0x12);
    Device().SetId({1, 2, 3, 4, 5, 6, 7});
    EXPECT_EQ(Run({"program", m_file, "--port", "COM1"}), 7);
    EXPECT_NE(m_err.str().find("Not match ID."), std::string::npos);
    EXPECT_EQ(Device().ReadFlash(kArea + 5), 0x12);
    EXPECT_EQ(m_err.str().find("no complete firmware"), std::string::npos) << "the old firmware is there";
}

TEST_F(Cli, EraseAndProgramErrors)
{
    Device().WriteFlash(kArea + 5, 0x12);
    Device().FailErase(true);
    EXPECT_EQ(Run({"program", m_file, "--port", "COM1"}), 8);
    EXPECT_NE(m_err.str().find("Erase error."), std::string::npos);
    EXPECT_EQ(Device().ReadFlash(kArea + 5), 0x12) << "a failed erase keeps the flash";
    const std::string advice =
        "torvane-cli: COM1: the panel holds no complete firmware: toggle its power and run the same "
        "command again";
    EXPECT_NE(m_err.str().find(advice + "\n"), std::string::npos) << "an erase that began may have taken it";
    Device().FailErase(false);

    // Run again with the same --backup, the half-written flash must not take the old firmware's place.
    Device().FailProgramAtPage(0xF8000);
    const std::string backup = (m_dir / "old.mot").string();
    EXPECT_EQ(Run({"program", m_file, "--port", "COM1", "--backup", backup}), 9);
    EXPECT_NE(m_err.str().find("Program error."), std::string::npos);
    EXPECT_NE(m_err.str().find(advice + " without --backup: " + backup + " holds the firmware it had\n"),
              std::string::npos)
        << m_err.str();
    const std::vector<uint8_t> area = Area();
    EXPECT_TRUE(std::equal(area.begin(), area.begin() + 0x8000, m_upgrade.begin()))
        << "pages before it written";
    EXPECT_TRUE(std::all_of(area.begin() + 0x8000, area.end(), [](uint8_t b) { return b == 0xFF; }))
        << "nothing from the failing page on";
}

TEST_F(Cli, VerifyFindsTheOneByteTheFlashKeptWrong)
{
    Device().StickByte(kArea + 0x1234, static_cast<uint8_t>(m_upgrade[0x1234] ^ 0x5A));
    EXPECT_EQ(Run({"program", m_file, "--port", "COM1", "--verify"}), 10);
    EXPECT_NE(m_err.str().find("Program OK."), std::string::npos);
    EXPECT_NE(m_err.str().find("Find not match at address0F1234"), std::string::npos) << m_err.str();
    EXPECT_EQ(Run({"verify", m_file, "--port", "COM1"}), 10);
    // Without the stuck cell the same flash verifies.
    Device().WriteFlash(kArea + 0x1234, m_upgrade[0x1234]);
    EXPECT_EQ(Run({"verify", m_file, "--port", "COM1", "--quiet"}), 0);
    EXPECT_EQ(m_err.str(), "");
    EXPECT_EQ(m_out.str().rfind("verify COM1: ok", 0), 0u) << m_out.str();
}

TEST_F(Cli, CtrlCStopsAfterThePageAndReturnsTo9600)
{
    WriteSavedRate(57600);
    CliOptions options;
    options.command = "program";
    options.file = m_file;
    options.ports = {"COM1"};
    std::ostringstream out, err;
    CReporter reporter(OutputMode::Text, out, err, false, 80);
    CSession session(options, reporter);
    session.onProgress = [](const std::string& title, uint32_t pages) {
        if (title == "Program" && pages == 41) platform::SimulateInterrupt();
    };
    EXPECT_EQ(session.Run(), ExitCode::Stopped);
    EXPECT_NE(err.str().find("Stop programming."), std::string::npos);
    // The 41st page's frame has gone out: that page is the last.
    const std::vector<uint32_t> pages = Device().ProgrammedPages();
    ASSERT_FALSE(pages.empty());
    EXPECT_EQ(pages.back(), kArea + 40 * 256);
    const std::vector<uint8_t> area = Area();
    EXPECT_TRUE(std::equal(area.begin(), area.begin() + 41 * 256, m_upgrade.begin()));
    EXPECT_TRUE(std::all_of(area.begin() + 41 * 256, area.end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(Device().Baud(), 9600u);
}

TEST_F(Cli, BackupThenProgramOfTheBackupRestoresTheOldFlash)
{
    std::vector<uint8_t> old = Pattern(kArea, kAreaLength, 77);
    std::fill(old.begin() + 0x300, old.begin() + 0x520, 0xFF); // erased stretches come back erased
    Device().SetIdVerified(true);
    for (uint32_t i = 0; i < kAreaLength; ++i)
        Device().WriteFlash(kArea + i, old[i]);
    const std::string backup = (m_dir / "old.mot").string();
    ASSERT_EQ(Run({"program", m_file, "--port", "COM1", "--backup", backup}), 0) << m_err.str();
    EXPECT_EQ(Area(), m_upgrade);
    ASSERT_EQ(Run({"program", backup, "--port", "COM1", "--verify"}), 0) << m_err.str();
    EXPECT_EQ(Area(), old);
    // read writes the same S-records for a range.
    const std::string part = (m_dir / "part.mot").string();
    ASSERT_EQ(Run({"read", "--port", "COM1", "--range", "F0100-F02FF", "-o", part}), 0) << m_err.str();
    CMotFile image;
    image.LoadFile(part);
    uint8_t page[256];
    ASSERT_TRUE(image.GetPage(page, 0xF01));
    EXPECT_TRUE(std::equal(page, page + 256, old.begin() + 0x100));
    // An upgrade without an .id is backed up without one, and an .id of an earlier backup goes.
    const std::string bare = WriteFile("bare.mot", MakeSRecords({{kArea, m_upgrade}})).string();
    const std::filesystem::path staleId = WriteFile("again.id", kIdFile);
    ASSERT_EQ(Run({"program", bare, "--port", "COM1", "--backup", (m_dir / "again.mot").string()}), 0)
        << m_err.str();
    EXPECT_FALSE(std::filesystem::exists(staleId));
}

TEST_F(Cli, AnAdapterThatHoldsRepliesIsToldOnceARun)
{
    const std::string told = "the adapter holds replies for ";
    auto count = [&](const std::string& text) {
        size_t n = 0;
        for (size_t at = text.find(told); at != std::string::npos; at = text.find(told, at + 1))
            ++n;
        return n;
    };
    ASSERT_EQ(Run({"program", m_file, "--port", "COM1", "--baud", "115200"}), 0) << m_err.str();
    EXPECT_EQ(count(m_out.str() + m_err.str()), 0u);
    Device().SetAdapterLatencyMs(16);
    m_out.str("");
    m_err.str("");
    ASSERT_EQ(Run({"program", m_file, "--port", "COM1", "--baud", "115200"}), 0) << m_err.str();
    const std::string said = m_out.str() + m_err.str();
    EXPECT_EQ(count(said), 1u) << said;
    EXPECT_NE(said.find(": set its latency timer to 1 ms"), std::string::npos) << said;
}

TEST_F(Cli, KeepPutsThePanelsOwnBytesBackAfterTheEraseAStopIncluded)
{
    Device().SetIdVerified(true);
    std::vector<uint8_t> serial(16), calibration(4);
    for (uint32_t i = 0; i < serial.size(); ++i)
        Device().WriteFlash(0xE0000 + i, serial[i] = static_cast<uint8_t>('A' + i));
    for (uint32_t i = 0; i < calibration.size(); ++i)
        Device().WriteFlash(0xD0080 + i, calibration[i] = static_cast<uint8_t>(0x10 + i));
    const std::vector<uint8_t> old = Pattern(kArea, kAreaLength, 77);
    for (uint32_t i = 0; i < kAreaLength; ++i)
        Device().WriteFlash(kArea + i, old[i]);
    const std::string backup = (m_dir / "old.mot").string();
    ASSERT_EQ(Run({"program", m_file, "--port", "COM1", "--backup", backup, "--serial-at", "E0000:16",
                   "--keep", "D0080:4"}),
              0)
        << m_err.str();
    EXPECT_EQ(Area(), m_upgrade);
    EXPECT_EQ(Device().ReadFlashRange(0xE0000, 16), serial) << "--serial-at keeps its range";
    EXPECT_EQ(Device().ReadFlashRange(0xD0080, 4), calibration);
    // The restore of a backup keeps them the same way.
    ASSERT_EQ(Run({"program", backup, "--port", "COM1", "--keep", "E0000:16", "--keep", "D0080:4"}), 0)
        << m_err.str();
    EXPECT_EQ(Area(), old);
    EXPECT_EQ(Device().ReadFlashRange(0xE0000, 16), serial);
    EXPECT_EQ(Device().ReadFlashRange(0xD0080, 4), calibration);

    // Ctrl-C the moment the erase has ended: the kept page goes back first.
    struct StopAfterErase : loader::IProgress
    {
        void OnStepEnd(loader::Step step, const loader::Result&) override
        {
            if (step == loader::Step::Erase) platform::SimulateInterrupt();
        }
    } stop;
    CliOptions options;
    options.command = "program";
    options.file = m_file;
    options.ports = {"COM1"};
    options.keep = {{0xE0000, 16}};
    std::ostringstream out, err;
    CReporter reporter(OutputMode::Text, out, err, false, 80);
    CSession session(options, reporter);
    session.Listen(&stop);
    EXPECT_EQ(session.Run(), ExitCode::Stopped);
    EXPECT_EQ(Device().ReadFlashRange(0xE0000, 16), serial);
    EXPECT_TRUE(AreaBlank());
    EXPECT_EQ(Device().ReadFlashRange(0xD0080, 4), std::vector<uint8_t>(4, 0xFF)) << "not asked to be kept";

    // Inside the area the upgrade replaces, or more than 16 pages: refused before the port is touched.
    platform::ResetInterrupts();
    const size_t sent = HostBytes().size();
    EXPECT_EQ(Run({"program", m_file, "--port", "COM1", "--keep", "F8000:16"}), 2);
    EXPECT_EQ(Run({"program", m_file, "--port", "COM1", "--keep", "D0000:4096", "--serial-at", "E0000:16"}),
              2);
    EXPECT_NE(m_err.str().find("cannot keep 17 pages: at most 16 are kept"), std::string::npos)
        << m_err.str();
    EXPECT_EQ(HostBytes().size(), sent);
}

TEST_F(Cli, ReadWritesIntelHexOrRawBytesByTheOutputName)
{
    if (std::system("command -v srec_cat >/dev/null 2>&1") != 0) GTEST_SKIP() << "srec_cat is not installed";
    Device().SetIdVerified(true);
    std::vector<uint8_t> old = Pattern(kArea, kAreaLength, 5);
    std::fill(old.begin() + 0x180, old.begin() + 0x1A0, 0xFF);
    for (uint32_t i = 0; i < kAreaLength; ++i)
        Device().WriteFlash(kArea + i, old[i]);
    const std::vector<uint8_t> expected(old.begin() + 0x100, old.begin() + 0x300);
    const auto readBack = [](const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    for (const char* name : {"part.hex", "part.BIN"}) {
        ASSERT_EQ(Run({"read", "--port", "COM1", "--range", "F0100-F02FF", "-o", (m_dir / name).string()}), 0)
            << m_err.str();
    }
    EXPECT_EQ(readBack(m_dir / "part.BIN"), expected);
    // srec_cat reads the Intel HEX back; the erased stretch left out comes back as 0xFF.
    const std::string convert = "srec_cat '" + (m_dir / "part.hex").string() +
                                "' -intel -fill 0xFF 0xF0100 0xF0300 -offset -0xF0100 -o '" +
                                (m_dir / "check.bin").string() + "' -binary";
    ASSERT_EQ(std::system(convert.c_str()), 0);
    EXPECT_EQ(readBack(m_dir / "check.bin"), expected);
}

TEST_F(Cli, PortsListsTheAliasesAsTextAndJsonLines)
{
    namespace fs = std::filesystem;
    fs::create_directories(platform::PortsDir());
    std::error_code ec;
    fs::create_symlink("/dev/torvane-no-such-adapter", platform::PortsDir() / "COM2", ec);
    if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
    ASSERT_EQ(Run({"ports"}), 0) << m_err.str();
    EXPECT_NE(m_out.str().find("  COM2 -> /dev/torvane-no-such-adapter  (absent)\n"), std::string::npos)
        << m_out.str();

    ASSERT_EQ(Run({"ports", "--json"}), 0);
    std::istringstream lines(m_out.str());
    std::vector<nlohmann::json> aliases;
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json event = nlohmann::json::parse(line);
        if (event["event"] == "alias")
            aliases.push_back(event);
        else
            EXPECT_EQ(event["event"], "port");
    }
    fs::remove_all(platform::PortsDir());
    ASSERT_EQ(aliases.size(), 1u);
    EXPECT_EQ(aliases[0]["name"], "COM2");
    EXPECT_EQ(aliases[0]["present"], false);
    EXPECT_EQ(Run({"ports", "--port", "COM1"}), 2) << "ports takes no port";
}

TEST_F(Cli, AMissingPortIsOneLineAtOnce)
{
    const uint32_t started = GetTickCount();
    EXPECT_EQ(Run({"program", m_file, "--port", "COM79", "--baud", "115200"}), 3);
    EXPECT_LT(GetTickCount() - started, 100u);
    EXPECT_EQ(Lines(m_err.str()), 1u) << m_err.str();
    EXPECT_NE(m_err.str().find("COM79"), std::string::npos);
    EXPECT_NE(m_err.str().find("no such port"), std::string::npos);
    EXPECT_EQ(m_err.str().find("Timeout"), std::string::npos);
    EXPECT_EQ(m_out.str().find("bit/s"), std::string::npos) << "no rate was used: " << m_out.str();

    EXPECT_EQ(Run({"status", "--port", "COM79", "--quiet"}), 3);
    EXPECT_EQ(m_err.str(), "");
    EXPECT_EQ(m_out.str().rfind("status COM79: port-open", 0), 0u) << m_out.str();

    EXPECT_EQ(Run({"status", "--port", "COM79", "--json"}), 3);
    EXPECT_EQ(Events().back()["reason"], "no such port");
}

TEST_F(Cli, ASilentPanelIsToldWithinSixSecondsWithWhatWasTried)
{
    Device().SetSilent(true);
    const uint32_t started = GetTickCount();
    EXPECT_EQ(Run({"status", "--port", "COM1", "--baud", "57600"}), 5);
    EXPECT_LT(GetTickCount() - started, 6000u);
    EXPECT_EQ(Lines(m_err.str()), 1u) << m_err.str();
    EXPECT_NE(
        m_err.str().find("synchronisation at 9600 bit/s, status request at 9600, 19200, 38400, 57600 and "
                         "115200 bit/s"),
        std::string::npos)
        << m_err.str();
}

TEST_F(Cli, APanelLeftAtAFastRateIsFoundAndEveryWayOutReturnsItTo9600)
{
    WriteSavedRate(9600);
    LeavePanelAt(115200);
    ASSERT_EQ(Run({"program", m_file, "--port", "COM1"}), 0) << m_err.str();
    EXPECT_EQ(Area(), m_upgrade);
    EXPECT_EQ(Device().Baud(), 9600u);

    // A program error at 115200 bit/s: the panel is back at 9600 all the same.
    Device().FailProgramAtPage(0xF8000);
    EXPECT_EQ(Run({"program", m_file, "--port", "COM1", "--baud", "115200"}), 9);
    EXPECT_EQ(Device().Baud(), 9600u);
}

TEST_F(Cli, EachPortTakesOneValueAndAStrayWordIsAUsageError)
{
    EXPECT_EQ(Run({"version", "--port", "SIM", "sim"}), 2);
    EXPECT_TRUE(HostBytes().empty());
    EXPECT_EQ(Run({"program", m_file, "--port", "COM1", "extra"}), 2);
    EXPECT_TRUE(HostBytes().empty());
}

TEST_F(Cli, VersionPrintsTheToolsOwnVersion)
{
    EXPECT_EQ(Run({"--version"}), 0) << m_err.str();
    EXPECT_TRUE(std::regex_match(m_out.str(), std::regex("torvane-cli [0-9]+\\.[0-9]+\\.[0-9]+\n")))
        << m_out.str();
    EXPECT_TRUE(HostBytes().empty());
}

TEST_F(Cli, AFailingPortNeverChangesTheRateRememberedForAnother)
{
    WriteSettings("[torvane-cli port COM1]\nBaud rate=115200\n");
    EXPECT_EQ(Run({"status", "--port", "COM9"}), 3);
    Device().SetSilent(true);
    EXPECT_EQ(Run({"status", "--port", "COM1"}), 5);
    Device().SetSilent(false);
    EXPECT_NE(SettingsText().find("Baud rate=115200"), std::string::npos) << SettingsText();

    ASSERT_EQ(Run({"status", "--port", "COM1", "--json"}), 0) << m_err.str();
    EXPECT_EQ(Events().back()["baud"], 115200) << "the port's own rate, not the windows' 9600";
    EXPECT_NE(SettingsText().find("Baud rate=115200"), std::string::npos) << SettingsText();
}

TEST_F(Cli, TheFileIsJudgedBeforeThePortIsTouched)
{
    const std::string text = WriteFile("panel.txt", "S0030000FC\n").string();
    EXPECT_EQ(Run({"program", text, "--port", "COM1", "--baud", "115200"}), 6);
    EXPECT_NE(m_err.str().find("panel.txt: refused: line 2: the file ends without its end record"),
              std::string::npos)
        << m_err.str();
    EXPECT_EQ(m_out.str().find("bit/s"), std::string::npos) << m_out.str();
    // Nothing for the area that is programmed.
    const std::string elsewhere =
        WriteFile("elsewhere.mot", MakeSRecords({{0xC0000, Pattern(0xC0000, 0x100)}})).string();
    EXPECT_EQ(Run({"program", elsewhere, "--port", "COM1"}), 6);
    EXPECT_TRUE(HostBytes().empty());

    // Data beside the area: one warning, and the area programmed.
    const std::string both =
        WriteFile("both.mot", MakeSRecords({{0xC0000, Pattern(0xC0000, 0x100)}, {kArea, m_upgrade}}))
            .string();
    EXPECT_EQ(Run({"program", both, "--port", "COM1"}), 0) << m_err.str();
    EXPECT_NE(m_err.str().find("warning"), std::string::npos);
    EXPECT_EQ(Area(), m_upgrade);
}

TEST_F(Cli, OnlyThePagesTheFileHoldsAreSentAndTheVerifyProvesTheRest)
{
    MemoryMap memory; // 21 pages spread over the area
    std::vector<uint8_t> expected(kAreaLength, 0xFF);
    for (uint32_t i = 0; i < 21; ++i) {
        const uint32_t address = kArea + i * 12 * 256;
        memory[address] = Pattern(address, 256, 9);
        std::copy(memory[address].begin(), memory[address].end(), expected.begin() + (address - kArea));
    }
    const std::string sparse = WriteFile("sparse.mot", MakeSRecords(memory)).string();
    Device().ResetCounters();
    ASSERT_EQ(Run({"program", sparse, "--port", "COM1", "--json"}), 0) << m_err.str();
    EXPECT_EQ(Device().Counters().pageFrames, 21u);
    EXPECT_EQ(Area(), expected);
    const std::vector<nlohmann::json> events = Events();
    EXPECT_EQ(events.back()["pages"], 21);
    EXPECT_EQ(events.back()["verified"], true);
    for (const nlohmann::json& e : events)
        if (e["event"] == "progress" && e["operation"] == "Program") {
            EXPECT_EQ(e["pages_total"], 21);
        }

    for (const char* option : {"--all-pages", "--no-verify"}) {
        Device().ResetCounters();
        ASSERT_EQ(Run({"program", sparse, "--port", "COM1", option}), 0) << option;
        EXPECT_EQ(Device().Counters().pageFrames, 256u) << option;
        EXPECT_EQ(Area(), expected);
    }

    // An erase that says it succeeded but left old data in a page the file does not hold.
    Device().WriteFlash(kArea + 0x507, 0x12);
    Device().EraseLeavesPage(kArea + 0x500);
    EXPECT_EQ(Run({"program", sparse, "--port", "COM1"}), 10);
    EXPECT_NE(m_err.str().find("0F0507"), std::string::npos) << m_err.str();
}

TEST_F(Cli, AShortPagePauseNeverSendsAFrameIntoABusyPanel)
{
    EXPECT_EQ(Run({"program", m_file, "--port", "COM1", "--page-pause", "7"}), 2);
    EXPECT_TRUE(HostBytes().empty());
    Device().SetBusyAfterPageMs(20);
    Device().ResetCounters();
    ASSERT_EQ(Run({"program", m_file, "--port", "COM1", "--page-pause", "5"}), 0) << m_err.str();
    EXPECT_EQ(Device().Counters().pageFrames, 256u);
    EXPECT_EQ(Device().Counters().pageFramesWhileBusy, 0u);
    EXPECT_EQ(Area(), m_upgrade);
}

TEST_F(Cli, IfDifferentLeavesAFlashThatAlreadyHoldsTheFile)
{
    ASSERT_EQ(Run({"program", m_file, "--port", "COM1"}), 0) << m_err.str();
    Device().ResetCounters();
    ASSERT_EQ(Run({"program", m_file, "--port", "COM1", "--if-different", "--json"}), 0) << m_err.str();
    EXPECT_EQ(Device().Counters().eraseCommands, 0u);
    EXPECT_EQ(Device().Counters().pageFrames, 0u);
    EXPECT_EQ(Events().back()["up_to_date"], true);

    Device().WriteFlash(kArea + 0x77, 0x00);
    ASSERT_EQ(Run({"program", m_file, "--port", "COM1", "--if-different"}), 0) << m_err.str();
    EXPECT_EQ(Device().Counters().eraseCommands, 1u);
    EXPECT_EQ(Area(), m_upgrade);
}

} // namespace
