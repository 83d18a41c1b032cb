#include "framework/win32/DialogBuilder.h"

#include "framework/win32/Win32.h"
#include "platform/win32/Win32Text.h"

using platform::win32::Narrow;
using platform::win32::Widen;

namespace {

// Ordinals of the predefined control classes in a dialog template.
constexpr uint16_t kButtonAtom = 0x0080;
constexpr uint16_t kEditAtom = 0x0081;
constexpr uint16_t kStaticAtom = 0x0082;
constexpr uint16_t kComboAtom = 0x0085;

uint16_t ClassAtom(ControlKind kind)
{
    switch (kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::GroupBox:
    case ControlKind::RadioButton:
        return kButtonAtom;
    case ControlKind::Edit:
        return kEditAtom;
    case ControlKind::Static:
    case ControlKind::Icon:
    case ControlKind::EtchedHorz:
        return kStaticAtom;
    case ControlKind::ComboDropDown:
    case ControlKind::ComboDropList:
        return kComboAtom;
    case ControlKind::ProgressBar:
        return 0; // by name
    }
    return kStaticAtom;
}

} // namespace

uint32_t DialogWindowStyle(const DialogTemplate& tmpl)
{
    uint32_t style = WS_POPUP | WS_CAPTION | DS_SETFONT | DS_SHELLFONT;
    if (tmpl.style & tpl::kSysMenu) style |= WS_SYSMENU;
    if (tmpl.style & tpl::kModalFrame) style |= DS_MODALFRAME;
    if (tmpl.style & tpl::kCenter) style |= DS_CENTER;
    if (tmpl.style & tpl::kVisible) style |= WS_VISIBLE;
    if (tmpl.style & tpl::kMinimizeBox) style |= WS_MINIMIZEBOX;
    return style;
}

uint32_t DialogExStyle(const DialogTemplate& tmpl)
{
    uint32_t exStyle = WS_EX_CONTROLPARENT;
    if (tmpl.style & tpl::kAppWindow) exStyle |= WS_EX_APPWINDOW;
    return exStyle;
}

std::wstring ControlClassName(ControlKind kind)
{
    switch (ClassAtom(kind)) {
    case kButtonAtom:
        return L"Button";
    case kEditAtom:
        return L"Edit";
    case kStaticAtom:
        return L"Static";
    case kComboAtom:
        return L"ComboBox";
    default:
        return PROGRESS_CLASSW;
    }
}

uint32_t ControlWindowStyle(const ControlTemplate& line)
{
    uint32_t style = WS_CHILD;
    if (!(line.style & CS_HIDDEN)) style |= WS_VISIBLE;
    if (line.style & CS_DISABLED) style |= WS_DISABLED;
    if (line.style & CS_TABSTOP) style |= WS_TABSTOP;
    if (line.style & CS_GROUP) style |= WS_GROUP;
    if (line.style & CS_BORDER) style |= WS_BORDER;
    if (line.style & CS_VSCROLL) style |= WS_VSCROLL;
    switch (line.kind) {
    case ControlKind::PushButton:
        style |= BS_PUSHBUTTON;
        break;
    case ControlKind::DefPushButton:
        style |= BS_DEFPUSHBUTTON;
        break;
    case ControlKind::RadioButton:
        style |= BS_AUTORADIOBUTTON;
        break;
    case ControlKind::GroupBox:
        style |= BS_GROUPBOX;
        break;
    case ControlKind::Edit:
        style |= ES_LEFT;
        if (line.style & CS_READONLY) style |= ES_READONLY;
        if (line.style & CS_AUTOHSCROLL) style |= ES_AUTOHSCROLL;
        break;
    case ControlKind::Static:
        style |= (line.style & CS_CENTER) ? SS_CENTER : SS_LEFT;
        if (line.style & CS_CENTERIMAGE) style |= SS_CENTERIMAGE;
        if (line.style & CS_NOPREFIX) style |= SS_NOPREFIX;
        break;
    case ControlKind::Icon:
        style |= SS_ICON;
        break;
    case ControlKind::EtchedHorz:
        style |= SS_ETCHEDHORZ;
        break;
    case ControlKind::ComboDropDown:
        style |= CBS_DROPDOWN | CBS_AUTOHSCROLL;
        break;
    case ControlKind::ComboDropList:
        style |= CBS_DROPDOWNLIST;
        break;
    case ControlKind::ProgressBar:
        break;
    }
    return style;
}

uint32_t ControlExStyle(const ControlTemplate& line)
{
    // Edit fields are sunk into the dialog, as a resource script's EDITTEXT shows them.
    return line.kind == ControlKind::Edit ? WS_EX_CLIENTEDGE : 0;
}

CDialogTemplateBlob::CDialogTemplateBlob(const DialogTemplate& tmpl)
{
    Word(1);      // dlgVer
    Word(0xFFFF); // signature: the extended form
    Dword(0);     // helpID
    Dword(DialogExStyle(tmpl));
    Dword(DialogWindowStyle(tmpl));
    Word(static_cast<uint16_t>(tmpl.controls.size()));
    Word(0); // x, y: placed by the host
    Word(0);
    Word(static_cast<uint16_t>(tmpl.cx));
    Word(static_cast<uint16_t>(tmpl.cy));
    Word(0); // no menu
    Word(0); // the dialog class
    String(Widen(tmpl.caption));
    Word(8); // points
    Word(FW_NORMAL);
    Word(0x0100); // italic FALSE, charset DEFAULT_CHARSET (1)
    String(L"MS Shell Dlg");

    for (const ControlTemplate& line : tmpl.controls) {
        AlignDword();
        Dword(0); // helpID
        Dword(ControlExStyle(line));
        Dword(ControlWindowStyle(line));
        Word(static_cast<uint16_t>(line.x));
        Word(static_cast<uint16_t>(line.y));
        Word(static_cast<uint16_t>(line.cx));
        Word(static_cast<uint16_t>(line.cy));
        Dword(static_cast<uint32_t>(line.id)); // IDC_STATIC stays 0xFFFFFFFF
        if (const uint16_t atom = ClassAtom(line.kind)) {
            Word(0xFFFF);
            Word(atom);
        } else {
            String(ControlClassName(line.kind));
        }
        if (line.kind == ControlKind::Icon) {
            Word(0xFFFF);
            Word(kApplicationIconId);
        } else {
            String(Widen(line.text));
        }
        Word(0); // no creation data
    }
}

void CDialogTemplateBlob::Dword(uint32_t value)
{
    Word(static_cast<uint16_t>(value & 0xFFFF));
    Word(static_cast<uint16_t>(value >> 16));
}

void CDialogTemplateBlob::String(const std::wstring& text)
{
    for (wchar_t c : text)
        Word(static_cast<uint16_t>(c));
    Word(0);
}

void CDialogTemplateBlob::AlignDword()
{
    if (m_words.size() % 2) Word(0);
}
