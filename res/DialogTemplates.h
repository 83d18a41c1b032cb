#pragma once
// Dialog templates as data: what the resource script of a dialog says, so that any
// host can build the window and the tests can check what a dialog holds.
#include <string>
#include <vector>

enum class ControlKind {
    PushButton,
    DefPushButton,
    Edit,
    Static, // text
    Icon,   // static icon (the application icon)
    GroupBox,
    EtchedHorz,    // etched horizontal line
    ComboDropDown, // editable combo (the user may type)
    ComboDropList, // list only
    RadioButton,   // automatic radio button
    ProgressBar,
};

// Control style flags.
enum : unsigned {
    CS_HIDDEN = 0x0001,   // not WS_VISIBLE
    CS_DISABLED = 0x0002, // WS_DISABLED
    CS_TABSTOP = 0x0004,
    CS_GROUP = 0x0008, // starts a group (radio groups)
    CS_READONLY = 0x0010,
    CS_AUTOHSCROLL = 0x0020,
    CS_VSCROLL = 0x0040,
    CS_CENTER = 0x0080,      // text centred horizontally
    CS_CENTERIMAGE = 0x0100, // text centred vertically
    CS_NOPREFIX = 0x0200,    // '&' is shown, not a mnemonic
    CS_BORDER = 0x0400,
};

// Dialog style flags.
enum : unsigned {
    DS_SYSMENU = 0x0001, // caption with close box
    DS_MODALFRAME = 0x0002,
    DS_CENTER = 0x0004,
    DS_VISIBLE = 0x0008,   // shown at creation (modeless windows are not)
    DS_APPWINDOW = 0x0010, // own taskbar button
    DS_MINIMIZEBOX = 0x0020,
};

constexpr int IDC_STATIC = -1;

struct ControlTemplate
{
    int id = IDC_STATIC;
    ControlKind kind = ControlKind::Static;
    std::string text;
    int x = 0, y = 0, cx = 0, cy = 0; // dialog units
    unsigned style = 0;
    std::vector<std::string> items; // initial list of a combo box
};

struct DialogTemplate
{
    int id = 0;
    std::string caption;
    int cx = 0, cy = 0; // dialog units
    unsigned style = DS_SYSMENU | DS_MODALFRAME | DS_VISIBLE;
    std::string fontName = "MS Sans Serif";
    int fontPoints = 8;
    std::vector<ControlTemplate> controls; // in template (tab) order
};

// The template with that id, or nullptr.
const DialogTemplate* FindDialogTemplate(int id);
// Every template, in ascending id order.
std::vector<const DialogTemplate*> AllDialogTemplates();
