#include "platform/HookRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/posix/UniqueFd.h"

extern char** environ;

namespace platform {
namespace {

constexpr size_t kLongestLine = 512;
constexpr int kExitLookMs = 20;

// What the hook prints, its first line kept; the rest is read and dropped so that a
// talkative hook never stops on a full pipe.
struct CFirstLine
{
    std::string text;
    bool complete = false;

    void Take(const char* data, size_t length)
    {
        for (size_t i = 0; i < length && !complete; ++i) {
            if (data[i] == '\n')
                complete = true;
            else if (text.size() < kLongestLine)
                text += data[i];
        }
    }
    std::string Finish()
    {
        while (!text.empty() && text.back() == '\r')
            text.pop_back();
        return text;
    }
};

// False once the pipe ended; reads only what is there.
bool ReadAvailable(int fd, CFirstLine& line)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            line.Take(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

bool HasExited(pid_t pid)
{
    // Not reaped yet: while the leader is a zombie its group's id cannot be reused, so
    // the kill below reaches only what the hook started.
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

class CSpawnSetup
{
public:
    CSpawnSetup(int input, int output)
    {
        posix_spawn_file_actions_init(&m_actions);
        posix_spawn_file_actions_adddup2(&m_actions, input, STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&m_actions, output, STDOUT_FILENO);
        posix_spawnattr_init(&m_attributes);
        // Its own process group, to be killed whole; the signals this program ignores
        // (a closed pipe) or handles are the hook's defaults again.
        posix_spawnattr_setflags(&m_attributes,
                                 POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        posix_spawnattr_setpgroup(&m_attributes, 0);
        sigset_t defaults, mask;
        sigemptyset(&defaults);
        for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            sigaddset(&defaults, signal);
        sigemptyset(&mask);
        posix_spawnattr_setsigdefault(&m_attributes, &defaults);
        posix_spawnattr_setsigmask(&m_attributes, &mask);
    }
    ~CSpawnSetup()
    {
        posix_spawn_file_actions_destroy(&m_actions);
        posix_spawnattr_destroy(&m_attributes);
    }
    CSpawnSetup(const CSpawnSetup&) = delete;
    CSpawnSetup& operator=(const CSpawnSetup&) = delete;

    const posix_spawn_file_actions_t* Actions() const { return &m_actions; }
    const posix_spawnattr_t* Attributes() const { return &m_attributes; }

private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
};

} // namespace

HookOutcome RunHook(const std::vector<std::string>& arguments, const std::string& input,
                    std::chrono::milliseconds limit)
{
    using Clock = std::chrono::steady_clock;
    HookOutcome outcome;
    if (arguments.empty()) {
        outcome.trouble = "no command";
        return outcome;
    }
    // Its standard input is a socket: a hook that exits without reading makes the write
    // fail with EPIPE (MSG_NOSIGNAL), never a signal.
    int inputPair[2], outputPipe[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, inputPair) != 0) {
        outcome.trouble = std::string("cannot start ") + arguments[0] + ": " + std::strerror(errno);
        return outcome;
    }
    CUniqueFd toHook(inputPair[0]), hookInput(inputPair[1]);
    if (pipe2(outputPipe, O_CLOEXEC) != 0) {
        outcome.trouble = std::string("cannot start ") + arguments[0] + ": " + std::strerror(errno);
        return outcome;
    }
    CUniqueFd fromHook(outputPipe[0]), hookOutput(outputPipe[1]);

    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int error = 0;
    {
        const CSpawnSetup setup(hookInput.Get(), hookOutput.Get());
        error = posix_spawnp(&pid, argv[0], setup.Actions(), setup.Attributes(), argv.data(), environ);
    }
    hookInput.Reset();
    hookOutput.Reset();
    if (error != 0) {
        outcome.trouble = "cannot start " + arguments[0] + ": " + std::strerror(error);
        return outcome;
    }
    fcntl(fromHook.Get(), F_SETFL, fcntl(fromHook.Get(), F_GETFL) | O_NONBLOCK);

    const Clock::time_point deadline = Clock::now() + limit;
    size_t written = 0;
    if (input.empty()) toHook.Reset();
    CFirstLine line;
    bool exited = false;
    for (;;) {
        if (HasExited(pid)) {
            exited = true;
            if (fromHook.Valid()) ReadAvailable(fromHook.Get(), line);
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd watched[2];
        nfds_t count = 0;
        if (fromHook.Valid()) watched[count++] = {fromHook.Get(), POLLIN, 0};
        if (toHook.Valid()) watched[count++] = {toHook.Get(), POLLOUT, 0};
        // Its exit is no event on these: looked at again after a short wait.
        (void)poll(watched, count, static_cast<int>(std::min<long long>(left, kExitLookMs)));
        if (fromHook.Valid() && !ReadAvailable(fromHook.Get(), line)) fromHook.Reset();
        if (toHook.Valid()) {
            const ssize_t n = send(toHook.Get(), input.data() + written, input.size() - written,
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) written += static_cast<size_t>(n);
            if ((n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) ||
                written == input.size())
                toHook.Reset(); // all given, or it stopped reading: either way its input ends
        }
    }
    // At the limit the whole group goes; after a normal exit, whatever it left running.
    kill(-pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    outcome.firstLine = line.Finish();
    if (!exited) {
        outcome.ending = HookOutcome::Ending::TimedOut;
        return outcome;
    }
    outcome.ending = HookOutcome::Ending::Exited;
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

} // namespace platform
