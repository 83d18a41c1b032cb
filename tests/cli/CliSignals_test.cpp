// torvane-cli whose standard output is a pipe that nobody reads any more
// (`program --json | head`): the run goes on to the end and the flash holds the file.
#include <gtest/gtest.h>

#include <iostream>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/CommandLine.h"
#include "fixtures/AppFixture.h"
#include "platform/Console.h"

namespace {

constexpr uint32_t kArea = 0xF0000, kAreaLength = 0x10000;

class CliSignals : public AppFixture
{
protected:
    CliSignals()
    {
        platform::ResetInterrupts();
        m_app.reset();
        m_upgrade = Pattern(kArea, kAreaLength, 5);
        m_file = WriteFile("panel.mot", MakeSRecords({{kArea, m_upgrade}})).string();
        WriteFile("panel.id", "FFFDF B6\nFFFE3 B6\nFFFEB B6\nFFFEF B6\nFFFF3 B6\nFFFF7 B6\nFFFFB B6\n");
    }
    std::vector<uint8_t> m_upgrade;
    std::string m_file;
};

TEST_F(CliSignals, ClosedOutputPipeDoesNotStopTheProgramming)
{
    // The run is in a child process: the broken pipe and the handlers are process-wide.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fds[2];
        if (pipe(fds) != 0) _exit(90);
        close(fds[0]);
        dup2(fds[1], STDOUT_FILENO);
        std::vector<std::string> args = {"torvane-cli", "program", m_file, "--port", "COM1", "--json"};
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        const int code = RunCommandLine(static_cast<int>(argv.size()), argv.data(), std::cout, std::cerr);
        if (code != 0) _exit(code);
        _exit(Device().ReadFlashRange(kArea, kAreaLength) == m_upgrade && Device().Baud() == 9600 ? 0 : 91);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "91: the flash does not hold the file, else the exit code";
}

} // namespace
