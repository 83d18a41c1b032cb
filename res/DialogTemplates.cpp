// The dialog resources: every window of the program as template data, in the same
// shape a resource script gives them (dialog units, template order = tab order).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "loader/Protocol.h"
#include "res/DialogTemplates.h"
#include "res/Resource.h"

namespace {

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

template <std::size_t N> std::vector<std::string> NumberTexts(const uint32_t (&numbers)[N])
{
    std::vector<std::string> texts;
    for (const uint32_t number : numbers)
        texts.push_back(std::to_string(number));
    return texts;
}

constexpr unsigned kPopup = DS_SYSMENU | DS_MODALFRAME | DS_VISIBLE;
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 14;

ControlTemplate Control(ControlKind kind, int id, std::string text, int x, int y, int cx, int cy,
                        unsigned style = 0)
{
    ControlTemplate c;
    c.id = id;
    c.kind = kind;
    c.text = std::move(text);
    c.x = x;
    c.y = y;
    c.cx = cx;
    c.cy = cy;
    c.style = style;
    return c;
}

ControlTemplate Button(int id, std::string text, int x, int y, unsigned style = 0)
{
    return Control(ControlKind::PushButton, id, std::move(text), x, y, kButtonWidth, kButtonHeight,
                   style | CS_TABSTOP);
}

ControlTemplate DefButton(int id, std::string text, int x, int y, unsigned style = 0)
{
    return Control(ControlKind::DefPushButton, id, std::move(text), x, y, kButtonWidth, kButtonHeight,
                   style | CS_TABSTOP);
}

ControlTemplate Text(std::string text, int x, int y, int cx, int cy, unsigned style = 0)
{
    return Control(ControlKind::Static, IDC_STATIC, std::move(text), x, y, cx, cy, style);
}

ControlTemplate Edit(int id, int x, int y, int cx, int cy, unsigned style = 0)
{
    return Control(ControlKind::Edit, id, "", x, y, cx, cy, style | CS_TABSTOP);
}

ControlTemplate Line(int x, int y, int cx)
{
    return Control(ControlKind::EtchedHorz, IDC_STATIC, "", x, y, cx, 1);
}

ControlTemplate Radio(int id, std::string text, int x, int y, int cx, int cy, unsigned style = 0)
{
    return Control(ControlKind::RadioButton, id, std::move(text), x, y, cx, cy, style | CS_TABSTOP);
}

ControlTemplate Combo(ControlKind kind, int id, int x, int y, int cx, int cy, std::vector<std::string> items,
                      unsigned style = 0)
{
    ControlTemplate c = Control(kind, id, "", x, y, cx, cy, style | CS_TABSTOP);
    c.items = std::move(items);
    return c;
}

DialogTemplate Dialog(int id, std::string caption, int cx, int cy, unsigned style,
                      std::vector<ControlTemplate> controls)
{
    DialogTemplate d;
    d.id = id;
    d.caption = std::move(caption);
    d.cx = cx;
    d.cy = cy;
    d.style = style;
    d.controls = std::move(controls);
    return d;
}

DialogTemplate AboutBox()
{
    return Dialog(IDD_ABOUTBOX, "Program Orvex Flash Memory", 217, 55, kPopup,
                  {
                      Control(ControlKind::Icon, IDC_STATIC, "", 11, 14, 20, 20),
                      Text("Program Orvex  1.0.0", 40, 10, 110, 8, CS_NOPREFIX),
                      Text("Copyright (C) 2004", 40, 25, 110, 8),
                      DefButton(IDOK, "OK", 160, 7, CS_GROUP),
                  });
}

DialogTemplate MainPanel()
{
    // The service buttons sit under "Exit"; they are never shown, so they may overlap.
    constexpr unsigned kService = CS_HIDDEN | CS_DISABLED;
    return Dialog(IDD_TORVANE_DIALOG, "Orvex upgrade", 102, 65, kPopup | DS_APPWINDOW,
                  {
                      Button(IDC_LOAD_ID, "Load (ID)...", 25, 51, kService),
                      Button(IDC_BLANK, "Blank...", 23, 51, kService),
                      Button(IDC_READ, "Read...", 23, 51, kService),
                      Button(IDC_STATUS, "Status...", 23, 51, kService),
                      Button(IDC_EPR, "E. P. R...", 21, 51, kService),
                      Button(IDC_BPR, "B. P. R...", 23, 51, kService),
                      Button(IDC_PROGRAM, "Program...", 25, 23, CS_DISABLED),
                      Button(IDC_ERASE, "Erase", 25, 7),
                      Button(IDC_SETTING, "Setting...", 23, 51, kService),
                      Button(IDC_DOWNLOAD, "Download...", 23, 51, kService),
                      Button(IDC_VERSION, "Version...", 23, 51, kService),
                      Button(IDCANCEL, "Exit", 25, 39, CS_DISABLED),
                  });
}

DialogTemplate LoadUpgradeFile()
{
    // The ID texts and the chip style are kept by the dialog but never shown; their
    // hidden controls fill the space left of "OK".
    std::vector<ControlTemplate> controls = {
        Text("upgrade file", 7, 9, 42, 8),
        Edit(IDC_FILENAME, 52, 7, 110, 14, CS_AUTOHSCROLL),
    };
    const int idEdits[] = {IDC_ID1, IDC_ID2, IDC_ID3, IDC_ID4, IDC_ID5, IDC_ID6, IDC_ID7};
    for (int i = 0; i < 7; ++i)
        controls.push_back(Edit(idEdits[i], 7 + 15 * i, 27, 13, 12, CS_HIDDEN | CS_DISABLED));
    controls.push_back(Radio(IDC_CHIP_2062, "M16C/20 62", 7, 40, 50, 10, CS_GROUP | CS_HIDDEN));
    controls.push_back(Radio(IDC_CHIP_80, "M16C/80", 60, 40, 40, 10, CS_HIDDEN));
    controls.push_back(Button(IDC_LOAD, "Load", 168, 7, CS_GROUP));
    controls.push_back(DefButton(IDOK, "OK", 168, 29));
    controls.push_back(Button(IDCANCEL, "Cancel", 112, 36, CS_HIDDEN));
    return Dialog(IDD_IDCHECK, "Load Upgrade File", 225, 50, kPopup, std::move(controls));
}

DialogTemplate InputAddress()
{
    return Dialog(IDD_SETADDRESS, "Input Address", 178, 88, kPopup,
                  {
                      Text("Start", 22, 10, 15, 8),
                      Edit(IDC_START_ADDRESS, 55, 7, 96, 14, CS_AUTOHSCROLL),
                      Text("End", 22, 34, 12, 8),
                      Edit(IDC_END_ADDRESS, 55, 32, 96, 14, CS_AUTOHSCROLL),
                      Line(2, 56, 175),
                      DefButton(IDOK, "OK", 23, 67),
                      Button(IDCANCEL, "Cancel", 104, 67),
                  });
}

DialogTemplate ProgramArea()
{
    return Dialog(IDD_PREWRITE, "Program", 187, 62, kPopup,
                  {
                      Edit(IDC_PREWRITE_START, 33, 16, 40, 14, CS_READONLY),
                      Edit(IDC_PREWRITE_END, 113, 16, 40, 14, CS_READONLY),
                      Text("to", 89, 16, 8, 14),
                      DefButton(IDOK, "OK", 64, 35),
                      Button(IDCANCEL, "Cancel", 130, 46, CS_HIDDEN),
                  });
}

DialogTemplate Progress()
{
    // Modeless: shown by its owner once set up, so not visible at creation.
    return Dialog(IDD_PROGRESS, "Titel", 186, 46, DS_SYSMENU | DS_MODALFRAME | DS_CENTER,
                  {
                      Control(ControlKind::Static, IDC_PROGRESS_MESSAGE, "Message", 5, 3, 170, 12,
                              CS_CENTER | CS_CENTERIMAGE | CS_NOPREFIX),
                      Control(ControlKind::ProgressBar, IDC_PROGRESS_BAR, "", 8, 20, 170, 15, CS_BORDER),
                      Button(IDCANCEL, "Cancel", 123, 4, CS_HIDDEN),
                  });
}

DialogTemplate FirstSetting()
{
    return Dialog(IDD_FIRSTSET, "Do you set communication state?", 134, 54, kPopup,
                  {
                      DefButton(IDOK, "OK", 7, 33),
                      Button(IDCANCEL, "Cancel", 77, 33),
                      Text("Set communication state first.", 22, 7, 89, 8),
                      Line(2, 25, 130),
                  });
}

DialogTemplate Status()
{
    // One row per status field: label on the left, read-only value on the right;
    // the "ready" value has no label and heads the list.
    constexpr int kLabelX = 7, kLabelWidth = 80, kValueX = 92, kValueWidth = 116;
    constexpr int kFirstRow = 26, kRowStep = 14, kValueHeight = 12;
    constexpr unsigned kValue = CS_READONLY | CS_AUTOHSCROLL;
    const std::pair<int, const char*> rows[] = {
        {IDC_ST_AFTERBLOCK, "After block"},
        {IDC_ST_PROGRAM, "Program"},
        {IDC_ST_ERASE, "Erase"},
        {IDC_ST_CHECKSUM, "Check sum"},
        {IDC_ST_IDCHECK, "ID Check"},
        {IDC_ST_RECEIVE_TIMEOUT, "Data receive timeout"},
        {IDC_ST_OVER_NUMBER, "Over number of data"},
    };
    std::vector<ControlTemplate> controls = {
        Edit(IDC_ST_READY, kLabelX, 7, kLabelWidth, kValueHeight, kValue)};
    int y = kFirstRow;
    for (const auto& [id, label] : rows) {
        controls.push_back(Text(label, kLabelX, y + 2, kLabelWidth, 8));
        controls.push_back(Edit(id, kValueX, y, kValueWidth, kValueHeight, kValue));
        y += kRowStep;
    }
    controls.push_back(DefButton(IDOK, "Menu", 158, 126));
    return Dialog(IDD_STATES, "Status", 215, 147, kPopup, std::move(controls));
}

DialogTemplate Erase()
{
    return Dialog(IDD_PREERASE, "Erase", 123, 52, kPopup,
                  {
                      Text("Erase?", 51, 7, 30, 8),
                      Line(2, 24, 120),
                      DefButton(IDOK, "OK", 7, 31),
                      Button(IDCANCEL, "Cancel", 67, 31),
                  });
}

DialogTemplate SetBaudrate()
{
    // Seen by the user as a notice with one OK button; the rate and page-pause lists
    // stay hidden and only carry the values the program puts into them.
    return Dialog(
        IDD_SETCOMM, "Set baudrate", 168, 46, kPopup,
        {
            Text("Communication Error ( be sure that Orvex os on )", 7, 7, 154, 16),
            DefButton(IDOK, "OK", 59, 26),
            Button(IDCANCEL, "Cancel", 111, 26, CS_HIDDEN),
            Combo(ControlKind::ComboDropDown, IDC_BAUDRATE, 7, 27, 44, 72,
                  NumberTexts(loader::kBaudRates), CS_HIDDEN | CS_VSCROLL),
            Control(ControlKind::Static, IDC_ORVEX_ON, "Orvex is on.", 7, 7, 154, 8, CS_HIDDEN),
            Combo(ControlKind::ComboDropDown, IDC_PAGE_PAUSE, 117, 27, 44, 72,
                  NumberTexts(linktime::kPagePauses), CS_HIDDEN | CS_VSCROLL),
        });
}

DialogTemplate PortSelection()
{
    return Dialog(
        IDD_S_PRG, "Orvex Flash Programmer", 166, 62, kPopup,
        {
            DefButton(IDOK, "OK", 108, 16),
            Button(IDCANCEL, "Exit", 108, 34),
            Radio(IDC_INTERNAL_FLASH, "Internal flash memory", 61, 48, 26, 10, CS_GROUP | CS_HIDDEN),
            Radio(IDC_BOOT_LOADER, "M16C/80 boot loader", 19, 48, 28, 10, CS_HIDDEN),
            Combo(ControlKind::ComboDropDown, IDC_PORT, 58, 28, 44, 65,
                  {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9", "COM10"},
                  CS_GROUP | CS_VSCROLL),
            Text("Port Number", 13, 29, 40, 11),
            Control(ControlKind::GroupBox, IDC_STATIC, "RS232 Selection", 7, 7, 98, 46),
        });
}

DialogTemplate FirmwareVersion()
{
    return Dialog(IDD_VERSION, "Firmware Version", 119, 65, kPopup,
                  {
                      Text("Version", 7, 7, 105, 8, CS_CENTER),
                      Edit(IDC_VERSION_TEXT, 7, 18, 105, 14, CS_READONLY | CS_AUTOHSCROLL),
                      Line(2, 38, 115),
                      DefButton(IDOK, "OK", 34, 44),
                  });
}

DialogTemplate Download()
{
    return Dialog(IDD_DOWNLOAD, "Download", 134, 54, kPopup,
                  {
                      Text("Download?", 47, 7, 40, 8),
                      DefButton(IDOK, "OK", 7, 33),
                      Button(IDCANCEL, "Cancel", 77, 33),
                      Line(2, 25, 130),
                  });
}

DialogTemplate FileSelect()
{
    return Dialog(IDD_SELECT, "Program/Download File Select", 227, 65, kPopup,
                  {
                      Text("FilePath", 7, 9, 32, 8),
                      Edit(IDC_FILENAME, 42, 7, 122, 14, CS_AUTOHSCROLL),
                      Button(IDC_LOAD, "Refer...", 170, 7),
                      DefButton(IDOK, "OK", 113, 44),
                      Button(IDCANCEL, "Cancel", 170, 44),
                      Line(2, 34, 223),
                  });
}

const std::vector<DialogTemplate>& Templates()
{
    static const std::vector<DialogTemplate> templates = [] {
        std::vector<DialogTemplate> all = {
            AboutBox(),      MainPanel(),       LoadUpgradeFile(), InputAddress(), ProgramArea(),
            Progress(),      FirstSetting(),    Status(),          Erase(),        SetBaudrate(),
            PortSelection(), FirmwareVersion(), Download(),        FileSelect(),
        };
        std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
        return all;
    }();
    return templates;
}

} // namespace

const DialogTemplate* FindDialogTemplate(int id)
{
    const auto& all = Templates();
    auto it = std::lower_bound(all.begin(), all.end(), id, [](const auto& t, int key) { return t.id < key; });
    return it != all.end() && it->id == id ? &*it : nullptr;
}

std::vector<const DialogTemplate*> AllDialogTemplates()
{
    std::vector<const DialogTemplate*> result;
    for (const auto& t : Templates())
        result.push_back(&t);
    return result;
}
