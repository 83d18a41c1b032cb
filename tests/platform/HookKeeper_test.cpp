// The process that runs a hook killed outright (SIGKILL, a crash) while the hook runs: the
// hook and all it started end with it, those that left its process group included.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/HookRunner.h"

namespace {

using namespace std::chrono_literals;

TEST(HookKeeper, a_runner_killed_outright_takes_its_hook_and_what_it_started_along)
{
    const std::string escaped =
        (std::filesystem::temp_directory_path() / ("torvane-hook-killed-" + std::to_string(getpid())))
            .string();
    for (const char* end : {"-in", "-out"})
        std::filesystem::remove(escaped + end);
    const pid_t runner = fork();
    ASSERT_GE(runner, 0);
    if (runner == 0) {
        platform::RunHook({TORVANE_TEST_HOOK, "escape", escaped}, "{}", 60s, [] { return false; });
        _exit(0);
    }
    std::this_thread::sleep_for(500ms); // the hook has started both of its children by now
    kill(runner, SIGKILL);
    int status = 0;
    waitpid(runner, &status, 0);
    std::this_thread::sleep_for(4s);
    EXPECT_FALSE(std::filesystem::exists(escaped + "-in"));
    EXPECT_FALSE(std::filesystem::exists(escaped + "-out")) << "a daemon of the hook's outlived it";
}

} // namespace
