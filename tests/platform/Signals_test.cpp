// What the command line's process does with signals and with its children's pipes. Each
// case runs in a child process: the handlers are process-wide.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/ChildProcesses.h"
#include "platform/Console.h"

namespace {

constexpr int kStopped = 11;

int ExitCodeOf(const std::function<int()>& body)
{
    const pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Signals, ClosedOutputPipeIsAFailedWriteNotTheEnd)
{
    EXPECT_EQ(ExitCodeOf([] {
                  platform::CatchInterrupts(kStopped);
                  int fds[2];
                  if (pipe(fds) != 0) return 2;
                  close(fds[0]);
                  return write(fds[1], "x", 1) < 0 && errno == EPIPE ? 0 : 1;
              }),
              0);
}

TEST(Signals, TermAndHangupAreCountedStopsThatNeverEndAtOnce)
{
    EXPECT_EQ(ExitCodeOf([] {
                  platform::CatchInterrupts(kStopped);
                  for (int signal : {SIGTERM, SIGHUP, SIGTERM})
                      raise(signal);
                  if (platform::InterruptCount() != 3) return 1;
                  raise(SIGINT); // the first key press after them is still only counted
                  if (platform::InterruptCount() != 4) return 2;
                  raise(SIGINT);
                  return 3;
              }),
              kStopped);
}

TEST(ChildProcessesTest, ChildrenHoldNoPipeButTheirOwnOutput)
{
    // Each child lists the pipes it holds as "descriptor inode"; while they all run, no
    // child may hold another one's output pipe (its read end, kept open by the parent).
    const std::vector<std::string> list = {
        "/bin/sh", "-c",
        "sleep 0.2; ls -l /proc/$$/fd | sed -n 's/.* \\([0-9]*\\) -> pipe:\\[\\([0-9]*\\)\\]/\\1 \\2/p'"};
    std::map<size_t, std::string> output;
    std::multimap<size_t, std::string> held;
    const std::vector<int> codes =
        platform::RunChildren({list, list, list}, [&](size_t index, const std::string& line) {
            const std::string fd = line.substr(0, line.find(' '));
            const std::string inode = line.substr(line.find(' ') + 1);
            if (fd == "1")
                output[index] = inode;
            else
                held.emplace(index, inode);
        });
    EXPECT_EQ(codes, (std::vector<int>{0, 0, 0}));
    ASSERT_EQ(output.size(), 3u);
    for (const auto& [index, inode] : held)
        for (const auto& [other, outputInode] : output)
            EXPECT_FALSE(other != index && inode == outputInode)
                << "child " << index << " holds child " << other << "'s pipe";
}

TEST(ChildProcessesTest, TheTickComesWhileTheChildrenSayNothing)
{
    // The station's records line follows its sender this way, between the fixtures' news.
    int ticks = 0;
    const std::vector<int> codes = platform::RunChildren(
        {{"/bin/sh", "-c", "sleep 0.7"}}, [](size_t, const std::string&) {}, nullptr, [&] { ++ticks; });
    EXPECT_EQ(codes, std::vector<int>{0});
    EXPECT_GE(ticks, 2);
}

TEST(ChildProcessesTest, TermSentToTheParentAloneReachesEveryChild)
{
    EXPECT_EQ(ExitCodeOf([] {
                  platform::CatchInterrupts(kStopped);
                  const std::vector<std::string> child = {
                      "/bin/sh", "-c",
                      "trap 'echo stopped; exit 0' TERM; echo ready; while :; do sleep 0.05; done"};
                  int ready = 0, stopped = 0;
                  const std::vector<int> codes =
                      platform::RunChildren({child, child}, [&](size_t, const std::string& line) {
                          if (line == "ready" && ++ready == 2) kill(getpid(), SIGTERM);
                          stopped += line == "stopped";
                      });
                  return codes == std::vector<int>{0, 0} && stopped == 2 ? 0 : 1;
              }),
              0);
}

} // namespace
