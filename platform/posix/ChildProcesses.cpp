#include "platform/ChildProcesses.h"

#include "platform/Console.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace platform {

std::string SelfExecutablePath()
{
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.string();
}

std::vector<int> RunChildren(const std::vector<std::vector<std::string>>& commands,
                             const std::function<void(size_t, const std::string&)>& onLine)
{
    struct Child
    {
        pid_t pid = -1;
        int out = -1;
        std::string pending;
    };
    std::vector<Child> children(commands.size());
    for (size_t i = 0; i < commands.size(); ++i) {
        int fds[2];
        // Close-on-exec: otherwise each later child holds its elder siblings' read ends.
        if (commands[i].empty() || pipe2(fds, O_CLOEXEC) != 0) continue;
        const pid_t pid = fork();
        if (pid == 0) {
            // Ctrl-C reaches the whole process group: each child stops its own panel.
            dup2(fds[1], STDOUT_FILENO);
            close(fds[0]);
            close(fds[1]);
            std::vector<char*> argv;
            for (const std::string& arg : commands[i])
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        if (pid < 0) {
            close(fds[0]);
            continue;
        }
        children[i].pid = pid;
        children[i].out = fds[0];
    }

    // Ctrl-C reaches the children by itself; SIGTERM and SIGHUP sent to this process
    // alone are passed on, so that every panel stops after its page and goes back to
    // 9600 bit/s instead of the upgrade running on.
    int stopsSeen = InterruptCount();
    constexpr int kStopLookMs = 200;
    for (;;) {
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
            Child& child = children[owners[k]];
            char buffer[4096];
            const ssize_t n = read(child.out, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (!child.pending.empty()) onLine(owners[k], child.pending);
                child.pending.clear();
                close(child.out);
                child.out = -1;
                continue;
            }
            child.pending.append(buffer, static_cast<size_t>(n));
            for (size_t end; (end = child.pending.find('\n')) != std::string::npos;) {
                onLine(owners[k], child.pending.substr(0, end));
                child.pending.erase(0, end + 1);
            }
        }
    }

    std::vector<int> codes;
    for (Child& child : children) {
        int status = 0;
        if (child.pid < 0) {
            codes.push_back(-1);
            continue;
        }
        while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
        }
        codes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    return codes;
}

} // namespace platform
