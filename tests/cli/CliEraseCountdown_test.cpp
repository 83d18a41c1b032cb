// `program` on a terminal through a long erase: the line counts the erase down in place
// instead of standing blank until "Erase OK.".
#include <gtest/gtest.h>

#include <sstream>

#include "cli/Reporter.h"
#include "cli/Session.h"
#include "fixtures/AppFixture.h"

namespace {

class EraseCountdown : public AppFixture
{
};

TEST_F(EraseCountdown, ProgramOnATerminalCountsTheEraseDown)
{
    m_app.reset();
    CliOptions options;
    options.command = "program";
    options.file = WriteFile("panel.mot", MakeSRecords({{0xF0000, Pattern(0xF0000, 0x400, 3)}})).string();
    WriteFile("panel.id", "FFFDF B6\nFFFE3 B6\nFFFEB B6\nFFFEF B6\nFFFF3 B6\nFFFF7 B6\nFFFFB B6\n");
    options.ports = {"COM1"};
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
}

} // namespace
