// The record each program, verify and erase leaves, against the in-process panel on the
// virtual clock: the steps, figures and outcome of each row, and the files that end a
// command before any panel is touched.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/CommandRecords.h"
#include "cli/Session.h"
#include "fixtures/CliFixture.h"
#include "platform/Sha256.h"
#include "records/Outcomes.h"
#include "records/RecordFilter.h"
#include "records/RecordStore.h"

namespace {

class CliRecords : public CliFixture
{
protected:
    CliRecords()
    {
        m_upgrade = Pattern(kArea, 0x3000, 5); // 48 pages with data, the rest left empty
        m_file = WriteFile("panel.mot", MakeSRecords({{kArea, m_upgrade}})).string();
        WriteFile("panel.id", kIdFile);
    }

    std::vector<uint8_t> m_upgrade;
    std::string m_file;
};

TEST_F(CliRecords, ProgramVerifyAndEraseEachLeaveTheirRow)
{
    Device().SetVersion("VER 1.23");
    for (uint32_t i = 0; i < 6; ++i)
        Device().WriteFlash(0xE0000 + i, static_cast<uint8_t>("SN-042"[i]));
    ASSERT_EQ(Run({"program", m_file, "--port", "COM1", "--baud", "115200", "--records", m_db, "--serial-at",
                   "E0000:8"}),
              0)
        << m_err.str();
    ASSERT_EQ(Run({"program", m_file, "--port", "COM1", "--if-different", "--records", m_db}), 0)
        << m_err.str();
    Device().WriteFlash(kArea + 0x10, 0x00);
    EXPECT_EQ(Run({"verify", m_file, "--port", "COM1", "--records", m_db}), 10);
    ASSERT_EQ(Run({"erase", "--port", "COM1", "--upgrade", m_file, "--records", m_db}), 0) << m_err.str();

    std::vector<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 4u);
    std::sort(rows.begin(), rows.end(),
              [](const CAttempt& a, const CAttempt& b) { return a.startedUtc < b.startedUtc; });
    const CAttempt& program = rows[0];
    EXPECT_EQ(program.command, "program");
    EXPECT_EQ(program.outcome, "pass");
    EXPECT_EQ(program.exitCode, 0);
    EXPECT_EQ(program.port, "COM1");
    EXPECT_EQ(program.fileSha256, platform::Sha256OfFile(platform::CPath::FromUtf8(m_file)).value());
    EXPECT_EQ(program.pagesSent, 48) << "only the pages the file holds";
    EXPECT_EQ(program.baudRate, 115200);
    EXPECT_EQ(program.pagePauseMs, 40);
    EXPECT_EQ(program.loaderVersion, "VER 1.23");
    EXPECT_EQ(program.serialText, "SN-042");
    EXPECT_EQ(program.serialHex, "534E2D303432FFFF");
    EXPECT_EQ(program.idCheck, "ok");
    EXPECT_EQ(program.eraseResult, "ok");
    EXPECT_EQ(program.programResult, "ok");
    EXPECT_EQ(program.verifyResult, "ok");
    EXPECT_NE(std::find(program.messages.begin(), program.messages.end(), "Program OK."),
              program.messages.end());
    EXPECT_FALSE(program.endedUtc.empty());

    EXPECT_EQ(rows[1].outcome, "unchanged");
    EXPECT_EQ(rows[1].eraseResult, "") << "a panel that held the file is not erased";
    EXPECT_EQ(rows[2].command, "verify");
    EXPECT_EQ(rows[2].outcome, "fail");
    EXPECT_EQ(rows[2].verifyResult, "mismatch");
    EXPECT_EQ(rows[2].exitCode, 10);
    EXPECT_EQ(rows[3].command, "erase");
    EXPECT_EQ(rows[3].outcome, "pass");
    EXPECT_EQ(rows[3].eraseResult, "ok");
}

TEST_F(CliRecords, ABlankSerialAreaIsRecordedAsNoSerial)
{
    // Erased (FF) or cleared (00): every blank panel would share that "serial".
    for (const uint8_t fill : {uint8_t{0xFF}, uint8_t{0x00}}) {
        for (uint32_t i = 0; i < 8; ++i)
            Device().WriteFlash(0xE0000 + i, fill);
        ASSERT_EQ(Run({"program", m_file, "--port", "COM1", "--records", m_db, "--serial-at", "E0000:8", "--json"}),
                  0)
            << m_err.str();
        nlohmann::json event;
        std::istringstream lines(m_out.str());
        for (std::string line; std::getline(lines, line);)
            if (nlohmann::json e = nlohmann::json::parse(line); e["event"] == "result") event = e;
        EXPECT_TRUE(event.contains("serial") && event["serial"].is_null()) << event.dump();
        EXPECT_TRUE(event.contains("serial_hex") && event["serial_hex"].is_null()) << event.dump();
    }
    const std::vector<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    for (const CAttempt& row : rows) {
        EXPECT_EQ(row.serialHex, "");
        EXPECT_EQ(row.serialText, "");
        EXPECT_EQ(row.outcome, "pass");
    }
}

TEST_F(CliRecords, AFailedPageAndAStopPartWayAreRecordedAsTheRoadWent)
{
    // The panel pulled out after its fourth page; Ctrl-C after the 41st.
    struct Case
    {
        std::function<void(uint32_t pages)> atPage;
        ExitCode code;
        const char* outcome;
        const char* programResult;
        int64_t pagesSent;
        records::Yield yield;
        const char* failReason;
    };
    const Case cases[] = {
        {[this](uint32_t pages) {
             if (pages == 4) Device().PowerOff();
         },
         ExitCode::Silent, "fail", "failed", 4, records::Yield::Failed,
         "program page 0F0300: no reply at 115200 bit/s"},
        {[](uint32_t pages) {
             if (pages == 41) platform::SimulateInterrupt();
         },
         ExitCode::Stopped, "stopped", "stopped", 41, records::Yield::StoppedPartWay, "program: stopped"},
    };
    for (const Case& c : cases) {
        platform::ResetInterrupts();
        Device().PowerOn();
        CliOptions options;
        options.command = "program";
        options.file = m_file;
        options.ports = {"COM1"};
        options.baud = 115200;
        CCommandRecords records;
        ASSERT_TRUE(records.Open({m_db, false}, m_err)) << m_err.str();
        std::ostringstream out, err;
        CReporter reporter(OutputMode::Quiet, out, err, false, 80);
        CSession session(options, reporter, &records);
        session.onProgress = [&](const std::string& title, uint32_t pages) {
            if (title == "Program") c.atPage(pages);
        };
        EXPECT_EQ(session.Run(), c.code) << err.str();
        const CAttempt& row = records.Attempt();
        EXPECT_EQ(row.outcome, c.outcome);
        EXPECT_EQ(row.idCheck, "ok");
        EXPECT_EQ(row.eraseResult, "ok");
        EXPECT_EQ(row.programResult, c.programResult);
        EXPECT_EQ(row.verifyResult, "");
        EXPECT_EQ(row.pagesSent, c.pagesSent);
        EXPECT_EQ(row.baudRate, 115200);
        EXPECT_EQ(records::YieldOf(row), c.yield);
        EXPECT_EQ(row.failReason, c.failReason);
        // The kind, for the line's Pareto: the reason without its step and page.
        const std::string reason = c.failReason;
        EXPECT_EQ(row.failKind, reason.substr(reason.find(": ") + 2));
    }
    const std::vector<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].failReason, cases[0].failReason);
    // The table tells why, not only the exit code.
    ASSERT_EQ(Run({"records", "--records", m_db}), 0) << m_err.str();
    EXPECT_NE(m_out.str().find(cases[0].failReason), std::string::npos) << m_out.str();
    EXPECT_NE(m_out.str().find(cases[1].failReason), std::string::npos) << m_out.str();
}

TEST_F(CliRecords, RecordsJobReadsTheJobsRecordsFileUnlessTheCommandLineNamesAnother)
{
    // The job's records file is its neighbour, as the station took it.
    const std::string job = WriteFile("line-3.ini", "[station]\nrecords = line-3.sqlite3\n").string();
    const std::string lineDb = (m_dir / "line-3.sqlite3").string();
    ASSERT_EQ(Run({"program", m_file, "--port", "COM1", "--records", lineDb}), 0) << m_err.str();
    ASSERT_EQ(Run({"erase", "--port", "COM1", "--upgrade", m_file, "--records", m_db}), 0) << m_err.str();

    ASSERT_EQ(Run({"records", "--job", job, "--json"}), 0) << m_err.str();
    EXPECT_NE(m_out.str().find(R"("command":"program")"), std::string::npos) << m_out.str();
    EXPECT_EQ(m_out.str().find(R"("command":"erase")"), std::string::npos) << m_out.str();
    ASSERT_EQ(Run({"records", "--job", job, "--records", m_db, "--json"}), 0) << m_err.str();
    EXPECT_NE(m_out.str().find(R"("command":"erase")"), std::string::npos) << m_out.str();

    EXPECT_EQ(Run({"records", "--job", (m_dir / "missing.ini").string()}), 2);
    EXPECT_NE(m_err.str().find("missing.ini"), std::string::npos) << m_err.str();
}

TEST_F(CliRecords, RefusedFilesEndTheCommandBeforeThePanelHearsAByte)
{
    // A records file that is no database: refused, kept as it was.
    const std::filesystem::path notes =
        WriteFile("notes.txt", "not a database, and never to be overwritten\n");
    EXPECT_EQ(Run({"program", m_file, "--port", "COM1", "--records", notes.string()}), 1);
    EXPECT_NE(m_err.str().find("records file refused"), std::string::npos) << m_err.str();
    std::ifstream in(notes);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "not a database, and never to be overwritten\n");

    // A file whose digest is not the one the line expects.
    EXPECT_EQ(Run({"program", m_file, "--port", "COM1", "--records", m_db, "--expect-sha256",
                   std::string(64, 'a')}),
              6);
    EXPECT_NE(m_err.str().find("SHA-256"), std::string::npos) << m_err.str();
    EXPECT_TRUE(HostBytes().empty());
    const std::vector<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 1u) << "the refusal is recorded";
    EXPECT_EQ(rows[0].outcome, "fail");
    EXPECT_EQ(rows[0].exitCode, 6);

    EXPECT_EQ(Run({"program", m_file, "--port", "COM1", "--serial-at", "F0000:8"}), 2)
        << "inside the erased area";
    const std::string digest = platform::Sha256OfFile(platform::CPath::FromUtf8(m_file)).value();
    EXPECT_EQ(Run({"program", m_file, "--port", "COM1", "--no-records", "--expect-sha256", digest}), 0)
        << m_err.str();
}

} // namespace
