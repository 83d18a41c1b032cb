#include "platform/ChildProcesses.h"

#include "platform/Console.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

namespace platform {

std::string SelfExecutablePath()
{
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.string();
}

namespace {

struct Child
{
    pid_t pid = -1;
    int out = -1;
    std::string pending;
    int code = -1;
};

bool StartChild(const std::vector<std::string>& command, Child& child)
{
    int fds[2];
    // Close-on-exec: otherwise each later child holds its elder siblings' read ends.
    if (command.empty() || pipe2(fds, O_CLOEXEC) != 0) return false;
    std::vector<char*> argv;
    for (const std::string& arg : command)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
#ifdef __linux__
        // A parent killed outright (SIGKILL, a crash) sends no SIGTERM on: the kernel does,
        // and the child stops its panel as for any stop request.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
#endif
        // Ctrl-C reaches the whole process group: each child stops its own panel.
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return false;
    }
    child.pid = pid;
    child.out = fds[0];
    child.pending.clear();
    return true;
}

int WaitForChild(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

std::vector<int> RunChildren(const std::vector<std::vector<std::string>>& commands,
                             const std::function<void(size_t, const std::string&)>& onLine,
                             const std::function<bool(size_t, int)>& onEnd,
                             const std::function<void()>& onTick)
{
    std::vector<Child> children(commands.size());
    for (size_t i = 0; i < commands.size(); ++i)
        StartChild(commands[i], children[i]);

    // Ctrl-C reaches the children by itself; SIGTERM and SIGHUP sent to this process
    // alone are passed on, so that every panel stops after its page and goes back to
    // 9600 bit/s instead of the upgrade running on.
    int stopsSeen = InterruptCount();
    constexpr int kStopLookMs = 200;
    auto ticked = std::chrono::steady_clock::now();
    for (;;) {
        if (onTick && std::chrono::steady_clock::now() - ticked >= std::chrono::milliseconds(kStopLookMs)) {
            ticked = std::chrono::steady_clock::now();
            onTick();
        }
        if (const int stops = InterruptCount(); stops != stopsSeen) {
            stopsSeen = stops;
            for (const Child& child : children)
                if (child.pid > 0) kill(child.pid, SIGTERM);
        }
        std::vector<pollfd> waiting;
        std::vector<size_t> owners;
        for (size_t i = 0; i < children.size(); ++i)
            if (children[i].out >= 0) {
                waiting.push_back({children[i].out, POLLIN, 0});
                owners.push_back(i);
            }
        if (waiting.empty()) break;
        if (poll(waiting.data(), waiting.size(), kStopLookMs) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (size_t k = 0; k < waiting.size(); ++k) {
            if (!(waiting[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const size_t i = owners[k];
            Child& child = children[i];
            char buffer[4096];
            const ssize_t n = read(child.out, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (!child.pending.empty()) onLine(i, child.pending);
                close(child.out);
                child.out = -1;
                child.code = WaitForChild(child.pid);
                child.pid = -1;
                if (onEnd && onEnd(i, child.code)) StartChild(commands[i], child);
                continue;
            }
            child.pending.append(buffer, static_cast<size_t>(n));
            for (size_t end; (end = child.pending.find('\n')) != std::string::npos;) {
                onLine(i, child.pending.substr(0, end));
                child.pending.erase(0, end + 1);
            }
        }
    }

    std::vector<int> codes;
    for (Child& child : children) {
        if (child.pid > 0) child.code = WaitForChild(child.pid);
        codes.push_back(child.code);
    }
    return codes;
}

void WatchParent()
{
    // Only a pipe tells of its reader's end; a terminal or a file (a child started by hand)
    // has no parent to watch.
    struct stat output
    {
    };
    if (fstat(STDOUT_FILENO, &output) != 0 || !S_ISFIFO(output.st_mode)) return;
    std::thread([] {
        pollfd out{STDOUT_FILENO, 0, 0};
        while (poll(&out, 1, -1) < 0 && errno == EINTR) {
        }
        if (out.revents & (POLLERR | POLLHUP)) NoteStopRequest();
    }).detach();
}

} // namespace platform
