#pragma once
// <windows.h> for the host: the framework's own names (IDOK, MB_*, DS_* of the templates,
// CWnd::GetWindowText ...) must survive the header's macros. Include this after the
// framework headers; the template's dialog-style flags are captured here first.
#include "res/DialogTemplates.h"

namespace tpl {
constexpr unsigned kSysMenu = DS_SYSMENU;
constexpr unsigned kModalFrame = DS_MODALFRAME;
constexpr unsigned kCenter = DS_CENTER;
constexpr unsigned kVisible = DS_VISIBLE;
constexpr unsigned kAppWindow = DS_APPWINDOW;
constexpr unsigned kMinimizeBox = DS_MINIMIZEBOX;
} // namespace tpl

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>

// The A/W switch macros that collide with the framework's member names.
#undef MessageBox
#undef PeekMessage
#undef GetWindowText
#undef SetWindowText
#undef GetDlgItemText
#undef SetDlgItemText
#undef AppendMenu
#undef CreateDialog
#undef LoadString
#undef DrawText
