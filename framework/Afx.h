#pragma once
// Constants of the application framework the dialogs and commands are written against.
#include <string>

#include "platform/WinTypes.h"

enum : int { IDOK = 1, IDCANCEL = 2 };

// Message-box types: one OK button always; the icon marks the kind of message.
enum : unsigned {
    MB_OK = 0x00,
    MB_ICONSTOP = 0x10,
    MB_ICONHAND = 0x10,
    MB_ICONERROR = 0x10,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_ICONMASK = 0xF0,
};

// ShowWindow commands.
enum : int { SW_HIDE = 0, SW_SHOW = 5 };

// Open-file dialog flags.
enum : unsigned { OFN_HIDEREADONLY = 0x4, OFN_FILEMUSTEXIST = 0x1000 };

// System-menu entries.
enum : unsigned { MF_STRING = 0x0, MF_SEPARATOR = 0x800 };

// Text of a string-table entry ("" when the id is unknown).
std::string AfxLoadString(unsigned id);
