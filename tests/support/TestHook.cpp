// A stand-in for a plant's hook program, the same on Linux and under Wine:
//   refuse SERIAL   exits 3 with a reason when its input names SERIAL, else 0
//   echo            prints the first line of its input
//   save FILE       writes its whole input to FILE
//   linger FILE     starts "mark FILE" beside it, then sleeps far past any limit
//   leave FILE      starts "mark FILE" and exits at once
//   escape FILE     creates FILE-started, starts "mark FILE-in" beside it and "mark
//                   FILE-out" in a session of its own (a daemon's double fork, out of the
//                   hook's process group), then sleeps far past any limit
//   mark FILE       (started by the three above) creates FILE after three seconds
// The started copy holds the hook's standard output open, as a forgotten child would.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

void StartMarker(const char* self, const std::string& file, bool detached = false)
{
#ifdef _WIN32
    (void)self;
    (void)detached; // a job holds whatever a hook starts
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring line =
        L"\"" + std::wstring(path) + L"\" mark \"" + std::wstring(file.begin(), file.end()) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
#else
    if (fork() == 0) {
        if (detached) {
            setsid();
            if (fork() != 0) _exit(0);
        }
        execl(self, self, "mark", file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
#endif
}

void Sleep(int seconds)
{
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "refuse" && argc > 2) {
        const std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
        if (input.find("\"serial\":\"" + std::string(argv[2]) + "\"") == std::string::npos) return 0;
        std::printf("serial %s is on hold\r\nsecond line\n", argv[2]);
        return 3;
    }
    if (mode == "echo") {
        std::string line;
        std::getline(std::cin, line);
        std::printf("%s\n", line.c_str());
        return 0;
    }
    if (mode == "save" && argc > 2) {
        std::ofstream(argv[2], std::ios::binary)
            << std::string((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
        return 0;
    }
    if ((mode == "linger" || mode == "leave") && argc > 2) {
        StartMarker(argv[0], argv[2]);
        std::printf("%s\n", mode.c_str());
        std::fflush(stdout);
        if (mode == "linger") Sleep(60);
        return 0;
    }
    if (mode == "escape" && argc > 2) {
        std::ofstream(std::string(argv[2]) + "-started") << "started\n";
        StartMarker(argv[0], std::string(argv[2]) + "-in");
        StartMarker(argv[0], std::string(argv[2]) + "-out", true);
        std::printf("escape\n");
        std::fflush(stdout);
        Sleep(60);
        return 0;
    }
    if (mode == "mark" && argc > 2) {
        Sleep(3);
        std::ofstream(argv[2]) << "still running\n";
        Sleep(60);
        return 0;
    }
    return 2;
}
