// A plant's hooks through the runner, with a stand-in hook program (support/TestHook.cpp):
// the refusal and its reason, what it is given, and the fail-closed endings.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/HookRunner.h"
#include "platform/ThisProcess.h"

namespace {

using platform::HookOutcome;
using namespace std::chrono_literals;

const std::string kHook = TORVANE_TEST_HOOK;

std::string MarkFile(const std::string& name)
{
    const auto path = std::filesystem::temp_directory_path() /
                      ("torvane-hook-" + std::to_string(platform::ProcessId()) + "-" + name);
    std::filesystem::remove(path);
    return path.string();
}

TEST(HookRunner, splits_on_spaces_with_double_quotes_grouping)
{
    using Words = std::vector<std::string>;
    EXPECT_EQ(platform::SplitHookCommand("check  --line 3"), (Words{"check", "--line", "3"}));
    EXPECT_EQ(platform::SplitHookCommand(R"("C:\Plant Tools\check.exe" "a b"c "" x)"),
              (Words{R"(C:\Plant Tools\check.exe)", "a bc", "", "x"}));
    EXPECT_FALSE(platform::SplitHookCommand(R"(check "open)"));
    EXPECT_FALSE(platform::SplitHookCommand("   "));
}

TEST(HookRunner, refuses_with_its_first_line_and_gets_its_input_whole)
{
    const HookOutcome held =
        platform::RunHook({kHook, "refuse", "P-17"}, R"({"port":"COM1","serial":"P-17"})", 10s);
    EXPECT_EQ(held.ending, HookOutcome::Ending::Exited);
    EXPECT_EQ(held.exitCode, 3);
    EXPECT_FALSE(held.Passed());
    EXPECT_EQ(held.firstLine, "serial P-17 is on hold");

    EXPECT_TRUE(platform::RunHook({kHook, "refuse", "P-17"}, R"({"serial":"P-18"})", 10s).Passed());
    const std::string record = R"({"id":"0a1b","result":"OK","note":"\"quoted\" ü"})";
    EXPECT_EQ(platform::RunHook({kHook, "echo"}, record + "\n", 10s).firstLine, record);
}

TEST(HookRunner, fails_closed_when_it_cannot_start)
{
    const HookOutcome missing = platform::RunHook({kHook + "-no-such-program"}, "{}", 10s);
    EXPECT_EQ(missing.ending, HookOutcome::Ending::NotStarted);
    EXPECT_FALSE(missing.Passed());
    EXPECT_NE(missing.trouble.find("cannot start"), std::string::npos) << missing.trouble;
}

// The hook leaves a child holding its output open: the runner must neither wait for that
// pipe nor leave the child running, at the limit or after the hook's own exit.
TEST(HookRunner, kills_what_the_hook_started_and_never_waits_on_its_pipes)
{
    const std::string lingered = MarkFile("linger"), left = MarkFile("leave");
    const auto started = std::chrono::steady_clock::now();
    const HookOutcome slow = platform::RunHook({kHook, "linger", lingered}, "{}", 1s);
    EXPECT_EQ(slow.ending, HookOutcome::Ending::TimedOut);
    EXPECT_FALSE(slow.Passed());
    const HookOutcome quick = platform::RunHook({kHook, "leave", left}, "{}", 10s);
    EXPECT_TRUE(quick.Passed());
    EXPECT_EQ(quick.firstLine, "leave");
    // Both children would have marked their files three seconds after starting, and the
    // hook and its child sleep a minute: anything near that means a pipe was waited on.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
    std::this_thread::sleep_for(4s);
    EXPECT_FALSE(std::filesystem::exists(lingered));
    EXPECT_FALSE(std::filesystem::exists(left));
}

// A stop (Ctrl-C, SIGTERM) during a long check ends it at once, not at its limit, with
// what it started in its group and out of it.
TEST(HookRunner, a_stop_ends_it_at_once_with_everything_it_started)
{
    const std::string escaped = MarkFile("escape");
    const auto started = std::chrono::steady_clock::now();
    const HookOutcome stopped = platform::RunHook({kHook, "escape", escaped}, "{}", 60s, [&] {
        return std::chrono::steady_clock::now() - started > 300ms;
    });
    EXPECT_EQ(stopped.ending, HookOutcome::Ending::Stopped);
    EXPECT_FALSE(stopped.Passed());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s) << "the limit was waited out";
    std::this_thread::sleep_for(4s);
    EXPECT_FALSE(std::filesystem::exists(escaped + "-in"));
    EXPECT_FALSE(std::filesystem::exists(escaped + "-out"));
}

} // namespace
