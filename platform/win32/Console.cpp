#include "platform/Console.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>

namespace platform {
namespace {

std::atomic<int> g_exitCode{130};

HANDLE Handle(ConsoleStream stream)
{
    return GetStdHandle(stream == ConsoleStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

BOOL WINAPI OnControl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    if (NoteInterrupt()) ExitProcess(static_cast<UINT>(g_exitCode.load()));
    return TRUE;
}

} // namespace

bool IsTerminal(ConsoleStream stream)
{
    // A console that cannot take escape sequences (before Windows 10, or with the legacy
    // console chosen) would print the bar's redraws as garbage: it gets the plain lines
    // a file gets.
    HANDLE handle = Handle(stream);
    DWORD mode = 0;
    if (!GetConsoleMode(handle, &mode)) return false;
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
    return SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int TerminalWidth(ConsoleStream stream)
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(Handle(stream), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

void CatchInterrupts(int exitCode)
{
    g_exitCode = exitCode;
    SetConsoleCtrlHandler(OnControl, TRUE);
}

} // namespace platform
