// The windows' own records: every command that writes the flash leaves one attempt in
// the records file torvane-cli keeps, built from the road's report.
#include <gtest/gtest.h>

#include <filesystem>

#include <sqlite3.h>

#include "app/TorvaneDlg.h"
#include "fixtures/AppFixture.h"
#include "framework/Dialog.h"
#include "records/RecordFilter.h"
#include "records/RecordStore.h"
#include "res/Resource.h"

namespace {

const std::string kTimeout = "Timeout Error.\nPlease reset Orvex ( toggle power supply ).";

class ServiceRecords : public AppFixture
{
protected:
    ServiceRecords()
    {
        // The default file is one per test program: start each test without rows.
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(CRecordStore::DefaultPath().Utf8() + suffix);
    }
    void RunPanel(CDialogScript script)
    {
        m_host.Expect(IDD_TORVANE_DIALOG, script.CloseBox());
        CTorvaneDlg panel;
        m_app->m_pMainWnd = &panel;
        panel.DoModal();
        m_app->m_pMainWnd = nullptr;
    }
    std::vector<CAttempt> Rows()
    {
        std::string error;
        std::vector<CAttempt> rows;
        auto store = CRecordStore::Open(CRecordStore::DefaultPath(), RecordsFile::ReadOnly, error);
        if (store) {
            EXPECT_TRUE(store->Query(CRecordFilter{}, rows)) << store->LastError();
        }
        return rows;
    }
    static MemoryMap Image() { return {{0xF0000, Pattern(0xF0000, 0x300)}}; }
};

TEST_F(ServiceRecords, EraseAndProgramEachLeaveTheirAttempt)
{
    ReadyToErase(Image());
    m_host.Expect(IDD_PREWRITE, CDialogScript().Press(IDOK));
    RunPanel(CDialogScript().Press(IDC_ERASE).Press(IDC_PROGRAM));

    EXPECT_EQ(Boxes(), (std::vector<std::string>{"Erase OK.", "Program OK."}));
    const std::vector<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].command, "windows erase");
    EXPECT_EQ(rows[0].outcome, "pass") << JoinMessages(rows[0].messages);
    EXPECT_EQ(rows[0].eraseResult, "ok");
    EXPECT_EQ(rows[0].messages, std::vector<std::string>{"Erase OK."});
    EXPECT_EQ(rows[1].command, "windows program");
    EXPECT_EQ(rows[1].outcome, "pass");
    EXPECT_EQ(rows[1].programResult, "ok");
    EXPECT_EQ(rows[1].pagesSent, 256);
    EXPECT_FALSE(rows[1].endedUtc.empty());
}

TEST_F(ServiceRecords, AFailedPageIsAFailNamingTheStepAndAStopIsAStop)
{
    ReadyToErase(Image());
    Device().FailProgramAtPage(0xF0100);
    m_host.Expect(IDD_PREWRITE, CDialogScript().Press(IDOK));
    m_host.Expect(IDD_PREWRITE, CDialogScript().Press(IDOK));
    m_host.CloseProgressAtRound(1);
    // The stop comes first (in the first pump), the failed page in the second run.
    RunPanel(CDialogScript()
                 .Do([](CDialog& d) { d.GetDlgItem(IDC_PROGRAM)->EnableWindow(TRUE); })
                 .Press(IDC_PROGRAM)
                 .Do([](CDialog& d) { d.GetDlgItem(IDC_PROGRAM)->EnableWindow(TRUE); })
                 .Press(IDC_PROGRAM));

    const std::vector<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].outcome, "stopped");
    EXPECT_EQ(rows[0].pagesSent, 1);
    EXPECT_EQ(rows[1].outcome, "fail");
    EXPECT_EQ(rows[1].programResult, "failed");
    ASSERT_FALSE(rows[1].messages.empty());
    EXPECT_EQ(rows[1].messages.front(), "Program error.");
    EXPECT_NE(rows[1].messages.back().find("program page 0F0100"), std::string::npos) << rows[1].messages.back();
    EXPECT_EQ(rows[1].failReason, rows[1].messages.back());
    EXPECT_EQ(rows[1].failKind, "the panel reported a program error") << "the line counts it by its kind";
}

// A bench's power cut mid-program: the record keeps the steps' own time and the first
// failure, and after the recovery the panel leads back through the ID check to Erase.
TEST_F(ServiceRecords, APowerCutMidProgramIsRecordedAsItHappenedAndLeavesAWayBack)
{
    ReadyToErase(Image());
    ASSERT_EQ(m_app->ChangeBaudRate(m_app->m_link, 57600, 8, 0, 0, IDS_COMM_ERROR_SETTING), 57600u);
    const auto file = WriteFile("panel.mot", MakeSRecords(Image()));
    m_host.onMessageBox = [this](const MessageBoxRecord&) { m_clock.Advance(6000); }; // read at leisure
    m_host.Expect(IDD_PREWRITE, CDialogScript().Press(IDOK));
    m_host.AtPumpRound(40, [this] { Device().PowerCycleNow(); });
    m_host.Expect(IDD_SETCOMM, CDialogScript().Press(IDOK)); // the 9600 the recovery stored
    m_host.Expect(IDD_IDCHECK, CDialogScript().SetText(IDC_FILENAME, file.string()).Press(IDOK));
    m_host.Expect(IDD_PREWRITE, CDialogScript().Press(IDOK));
    RunPanel(CDialogScript()
                 .Press(IDC_ERASE)
                 .Press(IDC_PROGRAM)
                 .Press(IDC_PROGRAM) // "Did not pass ID.", then the ID check
                 .Do([](CDialog& d) {
                     EXPECT_TRUE(d.GetDlgItem(IDC_ERASE)->IsWindowEnabled());
                     EXPECT_FALSE(d.GetDlgItem(IDC_PROGRAM)->IsWindowEnabled());
                 })
                 .Press(IDC_ERASE)
                 .Press(IDC_PROGRAM));

    EXPECT_EQ(Boxes(), (std::vector<std::string>{"Erase OK.", kTimeout, "Program error.", "Did not pass ID.",
                                                 "Erase OK.", "Program OK."}));
    EXPECT_EQ(Device().ReadFlashRange(0xF0000, 0x300), Pattern(0xF0000, 0x300));
    const std::vector<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_LT(*rows[0].durationMs, 6000) << "the result box is the technician's time";
    EXPECT_EQ(rows[1].outcome, "fail");
    EXPECT_LT(*rows[1].durationMs, 6000) << "the recovery's box and dialog are the technician's time";
    EXPECT_NE(rows[1].failReason.find(": no reply at 57600 bit/s"), std::string::npos) << rows[1].failReason;
    EXPECT_EQ(rows[1].failReason.rfind("program page 0F", 0), 0u) << rows[1].failReason;
    EXPECT_EQ(rows[3].outcome, "pass");
}

TEST_F(ServiceRecords, ACancelledConfirmationWritesNothingAndABusyFileDelaysNoBox)
{
    ReadyToErase(Image());
    m_host.Expect(IDD_PREWRITE, CDialogScript().Escape());
    RunPanel(CDialogScript()
                 .Do([](CDialog& d) { d.GetDlgItem(IDC_PROGRAM)->EnableWindow(TRUE); })
                 .Press(IDC_PROGRAM));
    EXPECT_TRUE(Rows().empty());

    // Another writer holds the file: the command runs and answers as always, and its
    // attempt is skipped rather than waited for.
    {
        std::string error;
        auto store = CRecordStore::Open(CRecordStore::DefaultPath(), RecordsFile::Default, error);
        ASSERT_TRUE(store) << error;
    }
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(CRecordStore::DefaultPath().Utf8().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    m_host.Expect(IDD_PREWRITE, CDialogScript().Press(IDOK));
    RunPanel(CDialogScript().Press(IDC_ERASE).Press(IDC_PROGRAM));
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"Stop programming.", "Erase OK.", "Program OK."}));
    EXPECT_TRUE(Rows().empty());
}

} // namespace
