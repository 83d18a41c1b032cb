// `program` through its long silent steps: on a terminal the line counts the erase down in
// place instead of standing blank until "Erase OK."; into a pipe each step is a line the
// moment it begins.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "cli/Reporter.h"
#include "cli/Session.h"
#include "fixtures/AppFixture.h"

namespace {

class EraseCountdown : public AppFixture
{
protected:
    CliOptions Program()
    {
        m_app.reset();
        CliOptions options;
        options.command = "program";
        options.file = WriteFile("panel.mot", MakeSRecords({{0xF0000, Pattern(0xF0000, 0x400, 3)}})).string();
        WriteFile("panel.id", "FFFDF B6\nFFFE3 B6\nFFFEB B6\nFFFEF B6\nFFFF3 B6\nFFFF7 B6\nFFFFB B6\n");
        options.ports = {"COM1"};
        return options;
    }
};

TEST_F(EraseCountdown, ProgramOnATerminalCountsTheEraseDown)
{
    const CliOptions options = Program();
    Device().SetEraseTimeMs(15000);
    std::ostringstream out, err;
    CReporter reporter(OutputMode::Text, out, err, true, 80);
    CSession session(options, reporter);
    ASSERT_EQ(session.Run(), ExitCode::Ok) << err.str();
    const std::string shown = err.str();
    const size_t first = shown.find("\rerasing, up to 0:40\x1b[K");
    const size_t last = shown.find("\rerasing, up to 0:25\x1b[K");
    ASSERT_NE(first, std::string::npos) << shown;
    ASSERT_NE(last, std::string::npos) << shown;
    EXPECT_EQ(shown.find("erasing, up to 0:24"), std::string::npos) << "a 15 s erase";
    EXPECT_NE(shown.find("\r\x1b[KErase OK.\n", last), std::string::npos) << "the message takes its line";
    EXPECT_EQ(shown.find("connecting"), std::string::npos) << "a terminal's lines stay as they were";
}

TEST_F(EraseCountdown, ProgramIntoAPipeTellsEachStepAsItBegins)
{
    CliOptions options = Program();
    options.baud = 115200;
    options.backup = (m_dir / "old.mot").string();
    std::ostringstream out, err;
    CReporter reporter(OutputMode::Text, out, err, false, 80);
    CSession session(options, reporter);
    struct AtErase : loader::IProgress
    {
        std::ostringstream& err;
        std::string shown;
        explicit AtErase(std::ostringstream& e) : err(e) {}
        void OnStepBegin(loader::Step step, uint32_t) override
        {
            if (step == loader::Step::Erase) shown = err.str();
        }
    } atErase(err);
    session.Listen(&atErase);
    ASSERT_EQ(session.Run(), ExitCode::Ok) << err.str();
    EXPECT_EQ(atErase.shown.substr(atErase.shown.rfind('\n', atErase.shown.size() - 2) + 1),
              "erasing, up to 0:40\n")
        << "told as the erase begins, not after it";
    std::vector<std::string> steps;
    std::istringstream lines(err.str());
    for (std::string line; std::getline(lines, line);)
        if (line.find(" % (") == std::string::npos) steps.push_back(line);
    EXPECT_EQ(steps,
              (std::vector<std::string>{"connecting at 9600 bit/s", "moving to 115200 bit/s", "ID check",
                                        "reading the backup", "erasing, up to 0:40", "Erase OK.",
                                        "programming", "Program OK.", "verifying", "back to 9600 bit/s"}));
}

} // namespace
