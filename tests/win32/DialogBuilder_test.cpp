// Every template through the system's dialog manager: the window must hold the
// template's controls in its order, with their classes, ids, styles and sizes.
#include <gtest/gtest.h>

#include "framework/win32/DialogBuilder.h"
#include "framework/win32/Win32.h"
#include "res/DialogTemplates.h"

namespace {

INT_PTR CALLBACK Quiet(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// Shown windows cost a round trip to the display each; the checks need none.
DialogTemplate Hidden(DialogTemplate tmpl)
{
    tmpl.style &= ~tpl::kVisible;
    return tmpl;
}

struct DialogWindow
{
    explicit DialogWindow(const DialogTemplate& tmpl) : blob(Hidden(tmpl))
    {
        hwnd = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                          static_cast<LPCDLGTEMPLATEW>(blob.Data()), nullptr, Quiet, 0);
    }
    ~DialogWindow()
    {
        if (hwnd) DestroyWindow(hwnd);
    }
    CDialogTemplateBlob blob;
    HWND hwnd = nullptr;
};

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// Position and size in pixels, each converted on its own as the dialog manager does.
RECT DialogRect(HWND dialog, int x, int y, int cx, int cy)
{
    RECT r{x, y, cx, cy};
    MapDialogRect(dialog, &r);
    return {r.left, r.top, r.left + r.right, r.top + r.bottom};
}

RECT ChildRect(HWND dialog, HWND child)
{
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

} // namespace

TEST(DialogBuilder, EveryTemplateBuildsItsControlsInOrderWithTheirGeometry)
{
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    for (const DialogTemplate* tmpl : AllDialogTemplates()) {
        SCOPED_TRACE(tmpl->caption);
        DialogWindow dialog(*tmpl);
        ASSERT_NE(dialog.hwnd, nullptr);

        wchar_t caption[128] = {};
        GetWindowTextW(dialog.hwnd, caption, 128);
        EXPECT_EQ(caption, std::wstring(tmpl->caption.begin(), tmpl->caption.end()));
        const auto style = static_cast<uint32_t>(GetWindowLongW(dialog.hwnd, GWL_STYLE));
        EXPECT_EQ((style & WS_SYSMENU) != 0, (tmpl->style & tpl::kSysMenu) != 0);
        EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME),
                  (tmpl->style & tpl::kMinimizeBox) ? WS_MINIMIZEBOX : 0u);
        RECT client{};
        GetClientRect(dialog.hwnd, &client);
        const RECT designed = DialogRect(dialog.hwnd, 0, 0, tmpl->cx, tmpl->cy);
        EXPECT_EQ(client.right, designed.right);
        EXPECT_EQ(client.bottom, designed.bottom);
        // The dialog font is the shell's 8-point face, not the system font.
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog.hwnd, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_LT(std::abs(font.lfHeight), 16);

        HWND child = GetWindow(dialog.hwnd, GW_CHILD);
        for (const ControlTemplate& line : tmpl->controls) {
            SCOPED_TRACE(line.text + " id " + std::to_string(line.id));
            ASSERT_NE(child, nullptr);
            EXPECT_EQ(GetDlgCtrlID(child) & 0xFFFF, line.id & 0xFFFF);
            EXPECT_EQ(_wcsicmp(ClassOf(child).c_str(), ControlClassName(line.kind).c_str()), 0);
            const auto childStyle = static_cast<uint32_t>(GetWindowLongW(child, GWL_STYLE));
            const uint32_t wanted = ControlWindowStyle(line);
            const uint32_t checked = WS_VISIBLE | WS_DISABLED | WS_TABSTOP | WS_GROUP | 0x1F;
            if (line.kind != ControlKind::Static && line.kind != ControlKind::Icon &&
                line.kind != ControlKind::EtchedHorz) {
                EXPECT_EQ(childStyle & checked, wanted & checked);
            } else {
                EXPECT_EQ(childStyle & (WS_VISIBLE | SS_TYPEMASK), wanted & (WS_VISIBLE | SS_TYPEMASK));
            }
            const RECT want = DialogRect(dialog.hwnd, line.x, line.y, line.cx, line.cy);
            const RECT got = ChildRect(dialog.hwnd, child);
            EXPECT_EQ(got.left, want.left);
            EXPECT_EQ(got.top, want.top);
            // A combo's window is its closed height; an icon takes the icon's own size.
            // An etched line draws its own edge.
            if (line.kind != ControlKind::Icon && line.kind != ControlKind::EtchedHorz) {
                EXPECT_EQ(got.right, want.right);
            }
            if (line.kind != ControlKind::Icon && line.kind != ControlKind::EtchedHorz &&
                line.kind != ControlKind::ComboDropDown && line.kind != ControlKind::ComboDropList) {
                EXPECT_EQ(got.bottom, want.bottom);
            }
            child = GetWindow(child, GW_HWNDNEXT);
        }
        EXPECT_EQ(child, nullptr);
    }
}
