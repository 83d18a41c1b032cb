#include "platform/Console.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

std::atomic<int> g_exitCode{130};
// Set when the work is done; a close or the session's end waits for it.
HANDLE g_programEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
// Windows ends the process a few seconds after a close or a logoff in any case.
constexpr DWORD kHoldAtMostMs = 30000;

HANDLE Handle(ConsoleStream stream)
{
    return GetStdHandle(stream == ConsoleStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

BOOL WINAPI OnControl(DWORD type)
{
    switch (ActionForConsoleEvent(type)) {
    case ConsoleEventAction::Interrupt:
        if (NoteInterrupt()) ExitProcess(static_cast<UINT>(g_exitCode.load()));
        return TRUE;
    case ConsoleEventAction::StopAndHold:
        // Returning lets the system end the process at once, in the middle of a page.
        NoteStopRequest();
        WaitForSingleObject(g_programEnded, kHoldAtMostMs);
        return TRUE;
    case ConsoleEventAction::Ignore:
        break;
    }
    return FALSE;
}

LRESULT CALLBACK SessionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (SessionEndStops(message, wParam)) {
        NoteStopRequest();
        // After WM_ENDSESSION returns the process may be ended at any moment.
        if (message == WM_ENDSESSION) WaitForSingleObject(g_programEnded, kHoldAtMostMs);
        return message == WM_QUERYENDSESSION ? TRUE : 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A console program that loads user32 hears of logoff and shutdown only as window
// messages, so a hidden top-level window (a message-only one is not told) listens.
void WatchSessionEnd()
{
    std::thread([] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = SessionWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TorvaneSessionWatch";
        RegisterClassW(&windowClass);
        HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                      nullptr, windowClass.hInstance, nullptr);
        if (!window) return;
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
    }).detach();
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
    static std::once_flag once;
    std::call_once(once, [] {
        SetConsoleCtrlHandler(OnControl, TRUE);
        WatchSessionEnd();
    });
}

bool WatchStopEvent(const std::string& name, std::string& error)
{
    // Made if missing, so that the station may start before its service.
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, win32::Widen(name).c_str());
    if (!event) {
        error = "the stop event " + name + " cannot be opened: " + win32::ErrorText(GetLastError());
        return false;
    }
    std::thread([event] {
        if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) NoteStopRequest();
        CloseHandle(event);
    }).detach();
    return true;
}

void NoteProgramEnd()
{
    SetEvent(g_programEnded);
}

} // namespace platform
