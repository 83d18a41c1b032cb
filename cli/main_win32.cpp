// torvane-cli.exe: the same command line as on Linux, with its arguments taken as the
// system keeps them (UTF-16) and passed on in UTF-8, whatever the ANSI code page is,
// so that C:\Users\Jürgen\...\panel.mot arrives intact.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/win32/Win32Text.h"
#include "sim/BuiltInPanel.h"

namespace {

std::vector<std::string> WideArguments()
{
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(platform::win32::Narrow(wide[i]));
    LocalFree(wide);
    return arguments;
}

// The console shows our UTF-8 as such while we run; the one we found is put back, since
// the console window outlives us.
class CUtf8Console
{
public:
    CUtf8Console() : m_previous(GetConsoleOutputCP())
    {
        if (m_previous != 0 && m_previous != CP_UTF8) SetConsoleOutputCP(CP_UTF8);
    }
    ~CUtf8Console()
    {
        if (m_previous != 0 && m_previous != CP_UTF8) SetConsoleOutputCP(m_previous);
    }
    CUtf8Console(const CUtf8Console&) = delete;
    CUtf8Console& operator=(const CUtf8Console&) = delete;

private:
    UINT m_previous;
};

} // namespace

int main(int argc, char** argv)
{
    platform::UsePreciseTimers();
    sim::RegisterBuiltInPanel();
    CUtf8Console console;
    std::vector<std::string> arguments = WideArguments();
    std::vector<char*> pointers;
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    const int code = arguments.empty() ? RunCommandLine(argc, argv, std::cout, std::cerr)
                                       : RunCommandLine(static_cast<int>(arguments.size()), pointers.data(),
                                                        std::cout, std::cerr);
    // Out while the console still reads UTF-8.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    platform::NoteProgramEnd();
    return code;
}
