// The windows' box for a refused upgrade file.
#include <gtest/gtest.h>

#include "framework/WinApp.h"
#include "framework/Wnd.h"
#include "shell/image/RefusalBox.h"
#include "tests/image/ImageTestSupport.h"

namespace {

TEST(RefusalBox, one_plain_box_owned_by_the_main_window_or_else_the_active_one)
{
    CRecordingHost host;
    IHost* previous = SetHost(&host);
    CWnd active;
    host.activeWindow = &active;
    ShowRefusalBox();
    {
        CWinApp app;
        CWnd mainWindow;
        app.m_pMainWnd = &mainWindow;
        ShowRefusalBox();
        ASSERT_EQ(host.boxes.size(), 2u);
        EXPECT_EQ(host.boxes[1].owner, &mainWindow);
    }
    SetHost(previous);
    EXPECT_EQ(host.boxes[0].owner, &active);
    EXPECT_EQ(host.boxes[0].text, "Can not accept this file.");
    EXPECT_EQ(host.boxes[0].caption, "Firmaware Upgrade");
    EXPECT_EQ(host.boxes[0].type, static_cast<unsigned>(MB_OK));
}

} // namespace
