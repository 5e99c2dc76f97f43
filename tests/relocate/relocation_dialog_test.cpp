// The relocation dialog of the real dirshift.exe: what it shows when it opens and
// how each way of closing it ends the program.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "ui/app_globals.h"
#include "resources/resource.h"
#include "tests/driver/app_process.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/ui_thread.h"
#include "relocate/relocate_folder.h"
#include "relocate/relocation_dialog.h"

namespace {

using namespace testing_driver;

std::wstring TestString(UINT id) {
    wchar_t text[512] = L"";
    ::LoadStringW(::GetModuleHandleW(nullptr), id, text, 512);
    return text;
}

TEST(RelocationDialog, OpensWithStartupPathCaptionAndStatusBar) {
    auto app = AppProcess::StartDirshift(L"\"C:\\Users\\Public\\Games\\\" /create");
    ASSERT_NE(app, nullptr);
    HWND dialog = app->WaitForDialog();
    ASSERT_NE(dialog, nullptr);

    EXPECT_EQ(WindowText(dialog), L"Move folder to different drive and place hard link (junction) ...");
    EXPECT_EQ(ControlText(dialog, IDC_SOURCE_PATH), L"C:\\Users\\Public\\Games\" /create");
    EXPECT_EQ(ControlText(dialog, IDC_TARGET_PATH), L"");
    EXPECT_EQ(ControlText(dialog, IDC_VERSION_TEXT), TestString(IDS_VERSION_NOTICE));
    EXPECT_NE(ControlText(dialog, IDC_VERSION_TEXT), L"Static");

    HWND statusBar = ::GetDlgItem(dialog, IDC_STATUS_BAR);
    ASSERT_NE(statusBar, nullptr);
    EXPECT_EQ(ClassNameOf(statusBar), STATUSCLASSNAMEW);
    EXPECT_TRUE(::SendMessageW(statusBar, SB_ISSIMPLE, 0, 0)) << "simple mode";
    // The simple part shows no text until a worker writes one.
    EXPECT_EQ(StatusBarText(statusBar), L"");

    EXPECT_TRUE(::GetWindowLongPtrW(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW) << "has a taskbar button";
    EXPECT_EQ(::GetWindow(dialog, GW_OWNER), nullptr) << "no owner";

    // The source field, the first tab stop, has the focus.
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    ASSERT_TRUE(::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &gui));
    EXPECT_EQ(gui.hwndFocus, ::GetDlgItem(dialog, IDC_SOURCE_PATH));

    SaveScreenshot(L"relocation-dialog");
    PressButton(dialog, IDCANCEL);
    EXPECT_EQ(app->WaitForExit(), 2u);
}

TEST(RelocationDialog, EveryWayOfClosingEndsWithExitCode2) {
    struct CloseWay {
        const wchar_t* name;
        void (*close)(HWND);
    };
    const CloseWay ways[] = {
        {L"Cancel button", [](HWND d) { PressButton(d, IDCANCEL); }},
        {L"close box", [](HWND d) { CloseWithCloseBox(d); }},
        {L"Alt+F4", [](HWND d) { CloseWithAltF4(d); }},
        {L"Escape", [](HWND d) { PressEscape(d); }},
        {L"end of session", [](HWND d) { ::PostMessageW(d, WM_ENDSESSION, TRUE, 0); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        auto app = AppProcess::StartDirshift(L"C:\\Data /create");
        ASSERT_NE(app, nullptr);
        HWND dialog = app->WaitForDialog();
        ASSERT_NE(dialog, nullptr);
        way.close(dialog);
        EXPECT_EQ(app->WaitForExit(), 2u);
    }
}

// In the test's own process, where the dialog's icons can be read back (Wine does
// not answer WM_GETICON for another process's window).
TEST(RelocationDialog, SetsProgramIconAsBigAndSmallIcon) {
    InitAppGlobals();
    const wchar_t startupPath[] = L"C:\\Data";
    UiThreadCall run([&] {
        return ::DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_RELOCATE), nullptr, RelocationDlgProc,
                                 reinterpret_cast<LPARAM>(startupPath));
    });
    HWND dialog = run.WaitForWindow();
    ASSERT_NE(dialog, nullptr);
    const LRESULT big = ::SendMessageW(dialog, WM_GETICON, ICON_BIG, 0);
    const LRESULT small = ::SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0);
    EXPECT_NE(big, 0);
    EXPECT_EQ(big, small);
    EXPECT_EQ(ControlText(dialog, IDC_SOURCE_PATH), L"C:\\Data");
    EXPECT_EQ(StatusBarWindow.load(), ::GetDlgItem(dialog, IDC_STATUS_BAR));
    CloseWithCloseBox(dialog);
    ASSERT_TRUE(run.WaitForReturn());
    EXPECT_EQ(run.result(), IDCANCEL);
}

// OK, the action button and Enter in either field all start the relocation; with
// empty fields it stops at once with its message, and the dialog stays open.
TEST(RelocationDialog, EveryWayOfStartingRunsTheRelocation) {
    struct StartWay {
        const wchar_t* name;
        void (*start)(HWND);
    };
    const StartWay ways[] = {
        {L"OK", [](HWND d) { PressButton(d, IDOK); }},
        {L"action button", [](HWND d) { PressButton(d, IDC_RELOCATE); }},
        {L"Enter in the source field", [](HWND d) { PressEnterIn(d, IDC_SOURCE_PATH); }},
        {L"Enter in the destination field", [](HWND d) { PressEnterIn(d, IDC_TARGET_PATH); }},
    };
    auto app = AppProcess::StartDirshift(L"/create");
    ASSERT_NE(app, nullptr);
    HWND dialog = app->WaitForDialog(L"Move folder to different drive and place hard link (junction) ...");
    ASSERT_NE(dialog, nullptr);
    SetControlText(dialog, IDC_SOURCE_PATH, L"");
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        way.start(dialog);
        HWND box = app->WaitForDialog(L"Dirshift");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(WindowText(::GetDlgItem(box, 0xFFFF)), L"Please supply a source directory name.");
        PressButton(box, IDOK);
        EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 10000));
        EXPECT_TRUE(::IsWindowVisible(dialog)) << "the dialog stays open";
    }
    PressButton(dialog, IDCANCEL);
    EXPECT_EQ(app->WaitForExit(), 2u);
}

// Windows asks before it logs off or shuts down: the dialog agrees, except while
// files are on their way between the two folders.
TEST(RelocationDialog, HoldsOffTheEndOfTheSessionOnlyWhileFilesMove) {
    InitAppGlobals();
    UiThreadCall run([] {
        return ::DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_RELOCATE), nullptr, RelocationDlgProc,
                                 reinterpret_cast<LPARAM>(L""));
    });
    HWND dialog = run.WaitForWindow();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(::SendMessageW(dialog, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    SetFilesMoving(true);
    EXPECT_EQ(::SendMessageW(dialog, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE);
    EXPECT_EQ(::SendMessageW(dialog, WM_QUERYENDSESSION, 0, 0), FALSE) << "a shutdown too";
    SetFilesMoving(false);
    EXPECT_EQ(::SendMessageW(dialog, WM_QUERYENDSESSION, 0, 0), TRUE);
    PressButton(dialog, IDCANCEL);
    ASSERT_TRUE(run.WaitForReturn());
    EXPECT_EQ(run.result(), IDCANCEL);
}

}  // namespace
