// The dialog resources: every window the program opens must exist, hold sane controls,
// and show exactly the buttons and texts the user is meant to see.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "res/DialogTemplates.h"
#include "res/Resource.h"

namespace {

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

const int kAllDialogs[] = {IDD_ABOUTBOX, IDD_TORVANE_DIALOG, IDD_IDCHECK,  IDD_SETADDRESS, IDD_PREWRITE,
                           IDD_PROGRESS, IDD_FIRSTSET,       IDD_STATES,   IDD_PREERASE,   IDD_SETCOMM,
                           IDD_S_PRG,    IDD_VERSION,        IDD_DOWNLOAD, IDD_SELECT};

const DialogTemplate& Get(int id)
{
    const DialogTemplate* t = FindDialogTemplate(id);
    if (!t) throw std::runtime_error("no template " + std::to_string(id));
    return *t;
}

const ControlTemplate& ControlOf(int dialog, int control)
{
    for (const auto& c : Get(dialog).controls)
        if (c.id == control) return c;
    throw std::runtime_error("no control " + std::to_string(control) + " in " + std::to_string(dialog));
}

bool Visible(const ControlTemplate& c)
{
    return !(c.style & CS_HIDDEN);
}
bool Enabled(const ControlTemplate& c)
{
    return !(c.style & CS_DISABLED);
}
bool IsCombo(const ControlTemplate& c)
{
    return c.kind == ControlKind::ComboDropDown || c.kind == ControlKind::ComboDropList;
}

// Texts of the controls the user can see, in template order.
std::vector<std::string> VisibleTexts(int dialog)
{
    std::vector<std::string> texts;
    for (const auto& c : Get(dialog).controls)
        if (Visible(c) && !c.text.empty()) texts.push_back(c.text);
    return texts;
}

} // namespace

TEST(DialogTemplates, EveryDialogExistsOnceInAscendingOrder)
{
    for (int id : kAllDialogs) {
        const DialogTemplate* t = FindDialogTemplate(id);
        ASSERT_NE(t, nullptr) << id;
        EXPECT_EQ(t->id, id);
    }
    auto all = AllDialogTemplates();
    ASSERT_EQ(all.size(), std::size(kAllDialogs));
    for (size_t i = 1; i < all.size(); ++i)
        EXPECT_LT(all[i - 1]->id, all[i]->id);
    EXPECT_EQ(FindDialogTemplate(101), nullptr);
    EXPECT_EQ(FindDialogTemplate(0), nullptr);
}

TEST(DialogTemplates, CaptionsAreTheOnesTheUserSees)
{
    EXPECT_EQ(Get(IDD_ABOUTBOX).caption, "Program Orvex Flash Memory");
    EXPECT_EQ(Get(IDD_TORVANE_DIALOG).caption, "Orvex upgrade");
    EXPECT_EQ(Get(IDD_IDCHECK).caption, "Load Upgrade File");
    EXPECT_EQ(Get(IDD_SETADDRESS).caption, "Input Address");
    EXPECT_EQ(Get(IDD_PREWRITE).caption, "Program");
    EXPECT_EQ(Get(IDD_PROGRESS).caption, "Titel");
    EXPECT_EQ(Get(IDD_FIRSTSET).caption, "Do you set communication state?");
    EXPECT_EQ(Get(IDD_STATES).caption, "Status");
    EXPECT_EQ(Get(IDD_PREERASE).caption, "Erase");
    EXPECT_EQ(Get(IDD_SETCOMM).caption, "Set baudrate");
    EXPECT_EQ(Get(IDD_S_PRG).caption, "Orvex Flash Programmer");
    EXPECT_EQ(Get(IDD_VERSION).caption, "Firmware Version");
    EXPECT_EQ(Get(IDD_DOWNLOAD).caption, "Download");
    EXPECT_EQ(Get(IDD_SELECT).caption, "Program/Download File Select");
}

TEST(DialogTemplates, ControlIdsAreUniqueWithinADialog)
{
    for (const DialogTemplate* t : AllDialogTemplates()) {
        std::set<int> seen;
        for (const auto& c : t->controls) {
            if (c.id == IDC_STATIC) continue;
            EXPECT_TRUE(seen.insert(c.id).second) << "dialog " << t->id << " repeats control " << c.id;
        }
    }
}

TEST(DialogTemplates, EveryControlLiesInsideItsDialog)
{
    // A combo's height includes its drop-down list, which may extend past the dialog;
    // its closed field may not.
    constexpr int kComboFieldHeight = 12;
    for (const DialogTemplate* t : AllDialogTemplates()) {
        for (const auto& c : t->controls) {
            const int height = IsCombo(c) ? kComboFieldHeight : c.cy;
            EXPECT_GE(c.x, 0) << t->id << "/" << c.id << " " << c.text;
            EXPECT_GE(c.y, 0) << t->id << "/" << c.id << " " << c.text;
            EXPECT_GT(c.cx, 0) << t->id << "/" << c.id << " " << c.text;
            EXPECT_GT(c.cy, 0) << t->id << "/" << c.id << " " << c.text;
            EXPECT_LE(c.x + c.cx, t->cx) << t->id << "/" << c.id << " " << c.text;
            EXPECT_LE(c.y + height, t->cy) << t->id << "/" << c.id << " " << c.text;
        }
    }
}

TEST(DialogTemplates, VisibleControlsDoNotCoverEachOther)
{
    // Group boxes frame other controls by design; a combo counts with its closed field.
    auto bottom = [](const ControlTemplate& c) { return c.y + (IsCombo(c) ? 12 : c.cy); };
    for (const DialogTemplate* t : AllDialogTemplates()) {
        std::vector<const ControlTemplate*> shown;
        for (const auto& c : t->controls)
            if (Visible(c) && c.kind != ControlKind::GroupBox) shown.push_back(&c);
        for (size_t i = 0; i < shown.size(); ++i)
            for (size_t j = i + 1; j < shown.size(); ++j) {
                const auto& a = *shown[i];
                const auto& b = *shown[j];
                const bool apart =
                    a.x + a.cx <= b.x || b.x + b.cx <= a.x || bottom(a) <= b.y || bottom(b) <= a.y;
                EXPECT_TRUE(apart) << t->id << ": \"" << a.text << "\" (" << a.id << ") and \"" << b.text
                                   << "\" (" << b.id << ")";
            }
    }
}

TEST(DialogTemplates, EnterPressesOkWhereverThereIsOne)
{
    // The panel and the progress window must not react to Enter; everywhere else
    // the single default button is OK (id 1).
    for (const DialogTemplate* t : AllDialogTemplates()) {
        std::vector<int> defaults;
        for (const auto& c : t->controls)
            if (c.kind == ControlKind::DefPushButton) defaults.push_back(c.id);
        if (t->id == IDD_TORVANE_DIALOG || t->id == IDD_PROGRESS)
            EXPECT_TRUE(defaults.empty()) << t->id;
        else
            EXPECT_EQ(defaults, std::vector<int>{IDOK}) << t->id;
    }
    EXPECT_EQ(ControlOf(IDD_STATES, IDOK).text, "Menu");
}

TEST(DialogTemplates, RadioGroupsAreClosedOff)
{
    // Without a group start after the radios, arrow keys would walk from the radios
    // into the next control.
    for (const DialogTemplate* t : AllDialogTemplates()) {
        const auto& cs = t->controls;
        for (size_t i = 0; i < cs.size(); ++i) {
            if (cs[i].kind != ControlKind::RadioButton) continue;
            const bool first = i == 0 || cs[i - 1].kind != ControlKind::RadioButton;
            EXPECT_EQ(first, (cs[i].style & CS_GROUP) != 0) << t->id << "/" << cs[i].id;
            if (i + 1 < cs.size() && cs[i + 1].kind != ControlKind::RadioButton) {
                EXPECT_TRUE(cs[i + 1].style & CS_GROUP) << t->id << "/" << cs[i + 1].id;
            }
        }
    }
}

TEST(MainPanelTemplate, OnlyEraseCanBePressedAtFirst)
{
    const DialogTemplate& panel = Get(IDD_TORVANE_DIALOG);
    EXPECT_EQ(panel.style, DS_SYSMENU | DS_MODALFRAME | DS_VISIBLE | DS_APPWINDOW);
    EXPECT_FALSE(panel.style & DS_MINIMIZEBOX);
    ASSERT_EQ(panel.controls.size(), 12u);

    std::vector<int> pressable;
    for (const auto& c : panel.controls) {
        EXPECT_EQ(c.kind, ControlKind::PushButton) << c.id;
        EXPECT_TRUE(c.style & CS_TABSTOP) << c.id;
        EXPECT_EQ(c.cx, 50);
        EXPECT_EQ(c.cy, 14);
        if (Visible(c) && Enabled(c)) pressable.push_back(c.id);
    }
    EXPECT_EQ(pressable, std::vector<int>{IDC_ERASE});
    EXPECT_EQ(VisibleTexts(IDD_TORVANE_DIALOG), (std::vector<std::string>{"Program...", "Erase", "Exit"}));
    EXPECT_FALSE(Enabled(ControlOf(IDD_TORVANE_DIALOG, IDC_PROGRAM)));
    EXPECT_FALSE(Enabled(ControlOf(IDD_TORVANE_DIALOG, IDCANCEL)));

    for (int id : {IDC_LOAD_ID, IDC_BLANK, IDC_READ, IDC_STATUS, IDC_EPR, IDC_BPR, IDC_SETTING, IDC_DOWNLOAD,
                   IDC_VERSION}) {
        const auto& c = ControlOf(IDD_TORVANE_DIALOG, id);
        EXPECT_FALSE(Visible(c)) << id;
        EXPECT_FALSE(Enabled(c)) << id;
    }
    // Erase, Program..., Exit top to bottom.
    EXPECT_LT(ControlOf(IDD_TORVANE_DIALOG, IDC_ERASE).y, ControlOf(IDD_TORVANE_DIALOG, IDC_PROGRAM).y);
    EXPECT_LT(ControlOf(IDD_TORVANE_DIALOG, IDC_PROGRAM).y, ControlOf(IDD_TORVANE_DIALOG, IDCANCEL).y);
}

TEST(ProgressTemplate, StaysHiddenUntilShownAndCannotBeCancelledByButton)
{
    const DialogTemplate& t = Get(IDD_PROGRESS);
    EXPECT_FALSE(t.style & DS_VISIBLE);
    EXPECT_TRUE(t.style & DS_CENTER);
    EXPECT_TRUE(t.style & DS_SYSMENU); // the close box is how the user stops
    EXPECT_FALSE(Visible(ControlOf(IDD_PROGRESS, IDCANCEL)));

    const auto& message = ControlOf(IDD_PROGRESS, IDC_PROGRESS_MESSAGE);
    EXPECT_EQ(message.kind, ControlKind::Static);
    EXPECT_EQ(message.text, "Message");
    // File names with '&' must show as typed.
    EXPECT_TRUE(message.style & CS_NOPREFIX);
    EXPECT_EQ(ControlOf(IDD_PROGRESS, IDC_PROGRESS_BAR).kind, ControlKind::ProgressBar);
}

TEST(PortSelectionTemplate, OffersComOneToTenInOrderAndAcceptsTyping)
{
    const auto& port = ControlOf(IDD_S_PRG, IDC_PORT);
    EXPECT_EQ(port.kind, ControlKind::ComboDropDown);
    EXPECT_EQ(port.items, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
                                                    "COM8", "COM9", "COM10"}));
    EXPECT_TRUE(port.style & CS_VSCROLL);
    EXPECT_FALSE(Visible(ControlOf(IDD_S_PRG, IDC_INTERNAL_FLASH)));
    EXPECT_FALSE(Visible(ControlOf(IDD_S_PRG, IDC_BOOT_LOADER)));
    EXPECT_EQ(ControlOf(IDD_S_PRG, IDCANCEL).text, "Exit");
    EXPECT_EQ(VisibleTexts(IDD_S_PRG),
              (std::vector<std::string>{"OK", "Exit", "Port Number", "RS232 Selection"}));
}

TEST(SetBaudrateTemplate, LooksLikeANoticeWithOneButton)
{
    EXPECT_EQ(VisibleTexts(IDD_SETCOMM),
              (std::vector<std::string>{"Communication Error ( be sure that Orvex os on )", "OK"}));
    for (int id : std::initializer_list<int>{IDCANCEL, IDC_BAUDRATE, IDC_ORVEX_ON, IDC_PAGE_PAUSE})
        EXPECT_FALSE(Visible(ControlOf(IDD_SETCOMM, id))) << id;
    EXPECT_EQ(ControlOf(IDD_SETCOMM, IDC_ORVEX_ON).text, "Orvex is on.");
    EXPECT_EQ(ControlOf(IDD_SETCOMM, IDC_BAUDRATE).items,
              (std::vector<std::string>{"9600", "19200", "38400", "57600", "115200"}));
    EXPECT_EQ(ControlOf(IDD_SETCOMM, IDC_PAGE_PAUSE).items,
              (std::vector<std::string>{"5", "10", "15", "20", "25", "30", "35", "40", "45", "50"}));
}

TEST(LoadUpgradeFileTemplate, ShowsOnlyThePathLoadAndOk)
{
    EXPECT_EQ(VisibleTexts(IDD_IDCHECK), (std::vector<std::string>{"upgrade file", "Load", "OK"}));
    const auto& path = ControlOf(IDD_IDCHECK, IDC_FILENAME);
    EXPECT_TRUE(Visible(path) && Enabled(path));
    EXPECT_TRUE(path.style & CS_AUTOHSCROLL); // long paths must fit
    for (int id = IDC_ID1; id <= IDC_ID7; ++id) {
        EXPECT_FALSE(Visible(ControlOf(IDD_IDCHECK, id))) << id;
        EXPECT_FALSE(Enabled(ControlOf(IDD_IDCHECK, id))) << id;
    }
    EXPECT_FALSE(Visible(ControlOf(IDD_IDCHECK, IDC_CHIP_2062)));
    EXPECT_FALSE(Visible(ControlOf(IDD_IDCHECK, IDC_CHIP_80)));
    EXPECT_FALSE(Visible(ControlOf(IDD_IDCHECK, IDCANCEL)));
}

TEST(SmallDialogTemplates, ShowTheirTextsExactly)
{
    EXPECT_EQ(VisibleTexts(IDD_ABOUTBOX),
              (std::vector<std::string>{"Program Orvex  1.0.0", "Copyright (C) 2004", "OK"}));
    EXPECT_EQ(VisibleTexts(IDD_FIRSTSET),
              (std::vector<std::string>{"OK", "Cancel", "Set communication state first."}));
    EXPECT_EQ(VisibleTexts(IDD_PREERASE), (std::vector<std::string>{"Erase?", "OK", "Cancel"}));
    EXPECT_EQ(VisibleTexts(IDD_DOWNLOAD), (std::vector<std::string>{"Download?", "OK", "Cancel"}));
    EXPECT_EQ(VisibleTexts(IDD_VERSION), (std::vector<std::string>{"Version", "OK"}));
    EXPECT_EQ(VisibleTexts(IDD_SETADDRESS), (std::vector<std::string>{"Start", "End", "OK", "Cancel"}));
    EXPECT_EQ(VisibleTexts(IDD_SELECT), (std::vector<std::string>{"FilePath", "Refer...", "OK", "Cancel"}));
    EXPECT_EQ(VisibleTexts(IDD_PREWRITE), (std::vector<std::string>{"to", "OK"}));
    EXPECT_EQ(VisibleTexts(IDD_STATES),
              (std::vector<std::string>{"After block", "Program", "Erase", "Check sum", "ID Check",
                                        "Data receive timeout", "Over number of data", "Menu"}));
}

TEST(SmallDialogTemplates, ValueFieldsTheUserMustNotEditAreReadOnly)
{
    EXPECT_TRUE(ControlOf(IDD_PREWRITE, IDC_PREWRITE_START).style & CS_READONLY);
    EXPECT_TRUE(ControlOf(IDD_PREWRITE, IDC_PREWRITE_END).style & CS_READONLY);
    EXPECT_FALSE(Visible(ControlOf(IDD_PREWRITE, IDCANCEL)));
    EXPECT_TRUE(ControlOf(IDD_VERSION, IDC_VERSION_TEXT).style & CS_READONLY);
    for (int id : {IDC_ST_READY, IDC_ST_AFTERBLOCK, IDC_ST_PROGRAM, IDC_ST_ERASE, IDC_ST_CHECKSUM,
                   IDC_ST_IDCHECK, IDC_ST_RECEIVE_TIMEOUT, IDC_ST_OVER_NUMBER}) {
        const auto& c = ControlOf(IDD_STATES, id);
        EXPECT_EQ(c.kind, ControlKind::Edit) << id;
        EXPECT_TRUE(c.style & CS_READONLY) << id;
    }
    // The address edits are typed into.
    EXPECT_FALSE(ControlOf(IDD_SETADDRESS, IDC_START_ADDRESS).style & CS_READONLY);
    EXPECT_FALSE(ControlOf(IDD_SETADDRESS, IDC_END_ADDRESS).style & CS_READONLY);
}
