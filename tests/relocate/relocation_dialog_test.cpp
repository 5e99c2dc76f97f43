// The relocation dialog of the real dirshift.exe: what it shows when it opens and
// how each way of closing it ends the program.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "base/dpi.h"
#include "ui/app_globals.h"
#include "resources/resource.h"
#include "tests/driver/app_process.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/scale_checks.h"
#include "tests/driver/ui_thread.h"
#include "ui/relocation_reporter.h"
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
// not answer WM_GETICON for another process's window): icon 138 at the sizes of the
// dialog's DPI, the big one for Alt+Tab and the taskbar, the small one for the caption.
TEST(RelocationDialog, SetsProgramIconAsBigAndSmallIcon) {
    InitAppGlobals();
    const wchar_t startupPath[] = L"C:\\Data";
    UiThreadCall run([&] {
        return ::DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_RELOCATE), nullptr, RelocationDlgProc,
                                 reinterpret_cast<LPARAM>(startupPath));
    });
    HWND dialog = run.WaitForWindow();
    ASSERT_NE(dialog, nullptr);
    ExpectProgramIcons(dialog, AppInstance, DpiForWindow(dialog));
    EXPECT_EQ(ControlText(dialog, IDC_SOURCE_PATH), L"C:\\Data");
    EXPECT_EQ(StatusBarWindow.load(), ::GetDlgItem(dialog, IDC_STATUS_BAR));
    CloseWithCloseBox(dialog);
    ASSERT_TRUE(run.WaitForReturn());
    EXPECT_EQ(run.result(), IDCANCEL);
}

// Moved to a monitor of another scale (Windows sends WM_DPICHANGED; under Wine,
// where every monitor has the prefix's one DPI, the test sends it): the dialog takes
// the suggested rectangle, its icons and status bar the new DPI. And back again.
TEST(RelocationDialog, FollowsItsWindowToAMonitorOfAnotherScale) {
    InitAppGlobals();
    UiThreadCall run([&] {
        return ::DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_RELOCATE), nullptr, RelocationDlgProc,
                                 reinterpret_cast<LPARAM>(L""));
    });
    HWND dialog = run.WaitForWindow();
    ASSERT_NE(dialog, nullptr);
    const UINT dpi = DpiForWindow(dialog);
    RECT before{};
    ::GetWindowRect(dialog, &before);
    const int width = before.right - before.left;
    const int height = before.bottom - before.top;
    const struct {
        UINT dpi;
        RECT suggested;
    } moves[] = {
        {dpi * 3 / 2, RECT{before.left - 30, before.top, before.left - 30 + width * 3 / 2, before.top + height * 3 / 2}},
        {dpi * 2, RECT{0, 0, 2 * width, 2 * height}},
        {dpi, before},
    };
    for (const auto& move : moves) {
        SCOPED_TRACE(::testing::Message() << "to " << move.dpi << " DPI");
        ::SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(move.dpi, move.dpi), reinterpret_cast<LPARAM>(&move.suggested));
        RECT now{};
        ::GetWindowRect(dialog, &now);
        EXPECT_TRUE(::EqualRect(&now, &move.suggested)) << now.left << "," << now.top << " " << now.right << "," << now.bottom;
        ExpectProgramIcons(dialog, AppInstance, move.dpi);
        ExpectStatusBarForDpi(dialog, move.dpi);
    }
    // The dialog manager of Windows resizes the dialog once more after the change:
    // the status bar follows whatever resizes it.
    ::SetWindowPos(dialog, nullptr, 0, 0, width + 40, height + 30, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ExpectStatusBarForDpi(dialog, dpi);
    CloseWithCloseBox(dialog);
    ASSERT_TRUE(run.WaitForReturn());
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
