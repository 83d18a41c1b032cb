#include "platform/HookRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/Console.h"
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

// The keeper: forked (not executed) between the runner and the hook, so it calls only
// what is safe after a fork. It starts the hook in a process group of its own, is the
// subreaper of whatever leaves that group, and kills all of them once the hook has exited
// or its lifeline ends: the runner closes it at the limit or a stop, and the kernel does
// when the runner's process dies, killed outright included.
namespace keeper {

// The keeper's descriptors after it has put them in place.
constexpr int kLifeline = 3, kStatus = 4, kFirstUnused = 5;
constexpr int kLookMs = 10;
constexpr int kMostKillRounds = 1000;

// What the keeper tells the runner, once: the hook could not be executed (value: errno)
// or it exited (value: its wait status).
struct Report
{
    enum : int { NotExecuted = 1, Exited = 2 } kind;
    int value;
};

void CloseFrom(int first)
{
#ifdef SYS_close_range
    if (syscall(SYS_close_range, first, ~0U, 0) == 0) return;
#endif
    for (int fd = first; fd < 4096; ++fd)
        close(fd);
}

// A number in text, without the allocating helpers.
char* PutNumber(char* at, long value)
{
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (n > 0)
        *at++ = digits[--n];
    return at;
}

// Kills every child of the keeper until none is left (the hook's group is killed before,
// while its leader is unreaped): each round's deaths hand their own children to the
// keeper, the subreaper.
void KillEverything()
{
    char path[64] = "/proc/";
    char* at = PutNumber(path + 6, getpid());
    const char middle[] = "/task/";
    for (const char c : middle)
        if (c) *at++ = c;
    at = PutNumber(at, getpid());
    const char tail[] = "/children";
    for (const char c : tail)
        *at++ = c;
    for (int round = 0; round < kMostKillRounds; ++round) {
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            static char list[65536];
            ssize_t length = 0;
            for (ssize_t n; (n = read(fd, list + length, sizeof list - 1 - length)) > 0;)
                length += n;
            close(fd);
            long pid = 0;
            for (ssize_t i = 0; i <= length; ++i) {
                if (i < length && list[i] >= '0' && list[i] <= '9') {
                    pid = pid * 10 + (list[i] - '0');
                } else if (pid > 0) {
                    kill(static_cast<pid_t>(pid), SIGKILL);
                    pid = 0;
                }
            }
        }
        int status = 0;
        pid_t reaped;
        while ((reaped = waitpid(-1, &status, WNOHANG)) > 0) {
        }
        if (reaped < 0 && errno == ECHILD) return;
        // Killed ones not yet reaped: give them a moment.
        if (reaped == 0) {
            const timespec nap{0, 1'000'000};
            nanosleep(&nap, nullptr);
        }
    }
}

void Tell(Report report)
{
    (void)!write(kStatus, &report, sizeof report);
}

[[noreturn]] void Run(int input, int output, int lifeline, int status, const char* program,
                      char* const argv[])
{
    // The runner's handlers are not the keeper's: a Ctrl-C reaches the runner, which then
    // ends the lifeline.
    struct sigaction ignore = {}, standard = {};
    ignore.sa_handler = SIG_IGN;
    standard.sa_handler = SIG_DFL;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
        sigaction(signal, &ignore, nullptr);
    sigaction(SIGCHLD, &standard, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
#ifdef __linux__
    prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif
    // Out of the way first, then in place: the hook's input and output as the keeper's
    // own 0 and 1, and nothing else of the runner's kept open (its port above all).
    int moved[4] = {input, output, lifeline, status};
    for (int& fd : moved)
        fd = fcntl(fd, F_DUPFD, 100);
    dup2(moved[0], STDIN_FILENO);
    dup2(moved[1], STDOUT_FILENO);
    dup2(moved[2], kLifeline);
    dup2(moved[3], kStatus);
    CloseFrom(kFirstUnused);

    int execError[2];
    if (pipe2(execError, O_CLOEXEC) != 0) {
        Tell({Report::NotExecuted, errno});
        _exit(0);
    }
    const pid_t hook = fork();
    if (hook == 0) {
        setpgid(0, 0);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
            sigaction(signal, &standard, nullptr);
#ifdef __linux__
        prctl(PR_SET_PDEATHSIG, SIGKILL); // should the keeper itself be killed
#endif
        close(kLifeline);
        close(kStatus);
        execve(program, argv, environ);
        const int error = errno;
        (void)!write(execError[1], &error, sizeof error);
        _exit(127);
    }
    close(execError[1]);
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    if (hook < 0) {
        Tell({Report::NotExecuted, errno});
        _exit(0);
    }
    setpgid(hook, hook);
    int error = 0;
    ssize_t got;
    while ((got = read(execError[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    close(execError[0]);
    if (got == static_cast<ssize_t>(sizeof error)) {
        kill(-hook, SIGKILL);
        KillEverything();
        Tell({Report::NotExecuted, error});
        _exit(0);
    }
    for (;;) {
        // Not reaped yet: while the leader is a zombie its group's id cannot be reused, so
        // the kill reaches only what the hook started.
        siginfo_t info = {};
        if (waitid(P_PID, static_cast<id_t>(hook), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == hook) {
            kill(-hook, SIGKILL);
            int waitStatus = 0;
            while (waitpid(hook, &waitStatus, 0) < 0 && errno == EINTR) {
            }
            Tell({Report::Exited, waitStatus});
            break;
        }
        pollfd line{kLifeline, POLLIN, 0};
        if (poll(&line, 1, kLookMs) > 0 && (line.revents & (POLLIN | POLLHUP | POLLERR))) {
            kill(-hook, SIGKILL);
            break;
        }
    }
    KillEverything();
    _exit(0);
}

} // namespace keeper

// The program as execve wants it: a name without a slash looked up on PATH, as a shell
// would; nothing when there is none.
std::optional<std::string> FindProgram(const std::string& name)
{
    if (name.find('/') != std::string::npos) return name;
    const char* path = std::getenv("PATH");
    const std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (size_t begin = 0; begin <= folders.size();) {
        const size_t end = std::min(folders.find(':', begin), folders.size());
        const std::string folder = end > begin ? folders.substr(begin, end - begin) : ".";
        const std::string candidate = folder + "/" + name;
        struct stat info = {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        begin = end + 1;
    }
    return std::nullopt;
}

} // namespace

HookOutcome RunHook(const std::vector<std::string>& arguments, const std::string& input,
                    std::chrono::milliseconds limit, const std::function<bool()>& stopRequested)
{
    using Clock = std::chrono::steady_clock;
    HookOutcome outcome;
    if (arguments.empty()) {
        outcome.trouble = "no command";
        return outcome;
    }
    const std::optional<std::string> program = FindProgram(arguments[0]);
    if (!program) {
        outcome.trouble = "cannot start " + arguments[0] + ": " + std::strerror(ENOENT);
        return outcome;
    }
    auto cannotStart = [&](int error) {
        outcome.trouble = "cannot start " + arguments[0] + ": " + std::strerror(error);
        return outcome;
    };
    // Its standard input is a socket: a hook that exits without reading makes the write
    // fail with EPIPE (MSG_NOSIGNAL), never a signal.
    int inputPair[2], outputPipe[2], lifelinePipe[2], statusPipe[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, inputPair) != 0) return cannotStart(errno);
    CUniqueFd toHook(inputPair[0]), hookInput(inputPair[1]);
    if (pipe2(outputPipe, O_CLOEXEC) != 0) return cannotStart(errno);
    CUniqueFd fromHook(outputPipe[0]), hookOutput(outputPipe[1]);
    if (pipe2(lifelinePipe, O_CLOEXEC) != 0) return cannotStart(errno);
    CUniqueFd keeperLifeline(lifelinePipe[0]), lifeline(lifelinePipe[1]);
    if (pipe2(statusPipe, O_CLOEXEC) != 0) return cannotStart(errno);
    CUniqueFd status(statusPipe[0]), keeperStatus(statusPipe[1]);

    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t keeperPid = fork();
    if (keeperPid == 0)
        keeper::Run(hookInput.Get(), hookOutput.Get(), keeperLifeline.Get(), keeperStatus.Get(),
                    program->c_str(), argv.data());
    if (keeperPid < 0) return cannotStart(errno);
    hookInput.Reset();
    hookOutput.Reset();
    keeperLifeline.Reset();
    keeperStatus.Reset();
    fcntl(fromHook.Get(), F_SETFL, fcntl(fromHook.Get(), F_GETFL) | O_NONBLOCK);

    const auto stopping = [&] { return stopRequested ? stopRequested() : InterruptCount() > 0; };
    const Clock::time_point deadline = Clock::now() + limit;
    size_t written = 0;
    if (input.empty()) toHook.Reset();
    CFirstLine line;
    std::optional<keeper::Report> report;
    bool stopped = false;
    for (;;) {
        if (stopping()) {
            stopped = true;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd watched[3];
        nfds_t count = 0;
        watched[count++] = {status.Get(), POLLIN, 0};
        if (fromHook.Valid()) watched[count++] = {fromHook.Get(), POLLIN, 0};
        if (toHook.Valid()) watched[count++] = {toHook.Get(), POLLOUT, 0};
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
        if (watched[0].revents & (POLLIN | POLLHUP)) {
            keeper::Report told{};
            if (read(status.Get(), &told, sizeof told) == static_cast<ssize_t>(sizeof told)) report = told;
            break;
        }
    }
    // The keeper kills the hook's group and whatever left it, at once at the limit or a
    // stop, after a normal exit too: nothing the hook started runs on.
    lifeline.Reset();
    int keeperStatusCode = 0;
    while (waitpid(keeperPid, &keeperStatusCode, 0) < 0 && errno == EINTR) {
    }
    if (fromHook.Valid()) ReadAvailable(fromHook.Get(), line);
    outcome.firstLine = line.Finish();
    if (report && report->kind == keeper::Report::NotExecuted) {
        outcome.firstLine.clear();
        return cannotStart(report->value);
    }
    if (!report) {
        outcome.ending = stopped ? HookOutcome::Ending::Stopped : HookOutcome::Ending::TimedOut;
        return outcome;
    }
    outcome.ending = HookOutcome::Ending::Exited;
    outcome.exitCode = WIFEXITED(report->value) ? WEXITSTATUS(report->value) : -1;
    return outcome;
}

} // namespace platform
