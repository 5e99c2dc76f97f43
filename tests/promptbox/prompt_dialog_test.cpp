// The box in real windows: every button set's buttons, ids and default button,
// Esc and the close box per set, the time-out, the disabled period, Report, the
// clipboard copy, the coloured band and where the controls stand.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/dpi.h"
#include "promptbox/prompt_box.h"
#include "promptbox/prompt_template.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/scale_checks.h"
#include "tests/driver/ui_thread.h"
#include "tests/promptbox/promptbox_test_support.h"

namespace {

using namespace testing_driver;
using namespace promptbox_test;

class PromptBoxDialog : public ::testing::Test {
protected:
    void SetUp() override {
        UseProgramDefaults();
        // These boxes store nothing.
        PromptBoxDefaults.moduleName = nullptr;
    }
    void TearDown() override { ResetDefaults(); }

    RegistryScope registry_;
};

struct ExpectedButton {
    int id;
    const wchar_t* text;
};

std::vector<ButtonInfo> PushButtonsOf(HWND box) {
    std::vector<ButtonInfo> buttons;
    for (const ButtonInfo& b : ButtonsOf(box)) {
        if (b.id != 5555) buttons.push_back(b);
    }
    return buttons;
}

HWND FocusOf(DWORD threadId) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    return ::GetGUIThreadInfo(threadId, &info) ? info.hwndFocus : nullptr;
}

TEST_F(PromptBoxDialog, EachButtonSetShowsItsButtonsIdsAndDefault) {
    struct Case {
        UINT style;
        std::vector<ExpectedButton> buttons;
        int defaultId;
    };
    const Case cases[] = {
        {MB_OK, {{1, L"OK"}}, IDOK},
        {MB_OKCANCEL, {{1, L"OK"}, {2, L"Cancel"}}, IDOK},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, {{3, L"Abort"}, {4, L"Retry"}, {5, L"Ignore"}}, IDRETRY},
        {MB_YESNOCANCEL, {{6, L"Yes"}, {7, L"No"}, {2, L"Cancel"}}, IDYES},
        {MB_YESNO | MB_DEFBUTTON4, {{6, L"Yes"}, {7, L"No"}}, IDYES},
        {MB_RETRYCANCEL, {{4, L"Retry"}, {2, L"Cancel"}}, IDRETRY},
        {MB_CANCELTRYCONTINUE | MB_DEFBUTTON3, {{2, L"Cancel"}, {10, L"Try Again"}, {11, L"Continue"}}, IDCONTINUE},
        {PB_CONTINUEABORT, {{11, L"Continue"}, {3, L"Abort"}}, IDCONTINUE},
        {PB_SKIPSKIPALLCANCEL, {{14, L"Skip"}, {15, L"Skip All"}, {2, L"Cancel"}}, PB_IDSKIP},
        {PB_IGNOREIGNOREALLCANCEL, {{5, L"Ignore"}, {16, L"Ignore All"}, {2, L"Cancel"}}, IDIGNORE},
        {12, {{1, L"OK"}}, IDOK},
        {MB_YESNOCANCEL | PB_YESTOALL | PB_NOTOALL | MB_DEFBUTTON4,
         {{6, L"Yes"}, {19, L"Yes to All"}, {7, L"No"}, {20, L"No to All"}, {2, L"Cancel"}},
         PB_IDNOTOALL},
        {MB_OK | MB_HELP | MB_DEFBUTTON2, {{1, L"OK"}, {300, L"Help"}}, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "style 0x" << std::hex << c.style);
        PromptCall call(L"Pick one", c.style | PB_SILENT);
        HWND box = call.WaitForBox();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(ClassNameOf(box), L"#32770");
        const std::vector<ButtonInfo> buttons = PushButtonsOf(box);
        ASSERT_EQ(buttons.size(), c.buttons.size());
        for (size_t i = 0; i < buttons.size(); ++i) {
            EXPECT_EQ(buttons[i].id, c.buttons[i].id) << "button " << i;
            EXPECT_EQ(buttons[i].text, c.buttons[i].text) << "button " << i;
            EXPECT_EQ(buttons[i].isDefault, buttons[i].id == c.defaultId) << "button " << i;
        }
        EXPECT_EQ(FocusOf(call.threadId()), ::GetDlgItem(box, c.defaultId)) << "the default button has the focus";

        // The first button that closes the box answers with its id.
        const int press = c.buttons[0].id;
        PressButton(box, press);
        ASSERT_TRUE(call.WaitForReturn());
        EXPECT_EQ(call.result(), press);
    }
}

TEST_F(PromptBoxDialog, EnterPressesTheDefaultButton) {
    PromptCall call(L"Enter", MB_YESNOCANCEL | MB_DEFBUTTON2 | PB_SILENT);
    HWND box = call.WaitForBox();
    ASSERT_NE(box, nullptr);
    PressEnterIn(box, IDNO);
    ASSERT_TRUE(call.WaitForReturn());
    EXPECT_EQ(call.result(), IDNO);
}

TEST_F(PromptBoxDialog, EscapeAndCloseBoxFollowTheButtonSet) {
    struct Case {
        UINT style;
        int escapeResult;  // 0: Esc and the close box do nothing
        int closeWith;     // the button that ends a box Esc cannot end
    };
    const Case cases[] = {
        {MB_OK, IDOK, 0},
        {MB_OKCANCEL, IDCANCEL, 0},
        {MB_ABORTRETRYIGNORE, 0, IDABORT},
        {MB_YESNOCANCEL, IDCANCEL, 0},
        {MB_YESNO, 0, IDYES},
        {MB_RETRYCANCEL, IDCANCEL, 0},
        {MB_CANCELTRYCONTINUE, IDCANCEL, 0},
        {PB_CONTINUEABORT, 0, IDCONTINUE},
        {PB_SKIPSKIPALLCANCEL, IDCANCEL, 0},
        {PB_IGNOREIGNOREALLCANCEL, IDCANCEL, 0},
        {12, 0, IDOK},
    };
    struct Way {
        const char* name;
        void (*close)(HWND);
    };
    const Way ways[] = {
        {"Esc", [](HWND box) { PressEscape(box); }},
        {"close box", [](HWND box) { CloseWithCloseBox(box); }},
        {"Alt+F4", [](HWND box) { CloseWithAltF4(box); }},
    };
    for (const Case& c : cases) {
        for (const Way& way : ways) {
            SCOPED_TRACE(::testing::Message() << "style 0x" << std::hex << c.style << ", " << way.name);
            PromptCall call(L"Close me", c.style | PB_SILENT);
            HWND box = call.WaitForBox();
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(IsCloseItemGrayed(box), c.escapeResult == 0);
            way.close(box);
            if (c.escapeResult != 0) {
                ASSERT_TRUE(call.WaitForReturn());
                EXPECT_EQ(call.result(), c.escapeResult);
            } else {
                EXPECT_TRUE(StaysOpen(box, 400));
                PressButton(box, c.closeWith);
                ASSERT_TRUE(call.WaitForReturn());
                EXPECT_EQ(call.result(), c.closeWith);
            }
        }
    }
}

TEST_F(PromptBoxDialog, CustomButtonsAnswerWithTheirIdsAndEscapeDoesNothing) {
    wcscpy_s(PromptBoxDefaults.customButtons, L"Move\nCopy\n\nLink\nSkip\nQuit");
    for (int press : {23, 26}) {
        PromptCall call(L"How?", MB_OK | MB_DEFBUTTON3 | PB_SILENT);
        HWND box = call.WaitForBox();
        ASSERT_NE(box, nullptr);
        const std::vector<ButtonInfo> buttons = PushButtonsOf(box);
        ASSERT_EQ(buttons.size(), 4u);
        EXPECT_EQ(buttons[0].text, L"Move");
        EXPECT_EQ(buttons[3].text, L"Skip");
        EXPECT_EQ(buttons[3].id, 26);
        EXPECT_TRUE(buttons[2].isDefault);
        PressEscape(box);
        EXPECT_TRUE(StaysOpen(box, 300));
        PressButton(box, press);
        ASSERT_TRUE(call.WaitForReturn());
        EXPECT_EQ(call.result(), press);
    }
}

TEST_F(PromptBoxDialog, LineFeedsOnlyCustomTextGivesAnOkThatEscapeCloses) {
    wcscpy_s(PromptBoxDefaults.customButtons, L"\n\n");
    PromptCall call(L"Nothing to choose", MB_YESNO | PB_SILENT);
    HWND box = call.WaitForBox();
    ASSERT_NE(box, nullptr);
    const std::vector<ButtonInfo> buttons = PushButtonsOf(box);
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_EQ(buttons[0].id, IDOK);
    EXPECT_EQ(buttons[0].text, L"OK");
    EXPECT_FALSE(IsCloseItemGrayed(box));
    PressEscape(box);
    ASSERT_TRUE(call.WaitForReturn());
    EXPECT_EQ(call.result(), IDOK);
}

TEST_F(PromptBoxDialog, TimeOutCountsDownOnTheDefaultButtonAndPressesIt) {
    PromptBoxDefaults.timeoutSeconds = 2;
    PromptCall call(L"Closing soon", MB_OKCANCEL | PB_SILENT);
    HWND box = call.WaitForBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ControlText(box, IDOK), L"OK");
    EXPECT_TRUE(WaitUntil([box] { return ControlText(box, IDOK) == L"OK = 2"; }, 3000));
    EXPECT_TRUE(WaitUntil([box] { return ControlText(box, IDOK) == L"OK = 1"; }, 3000));
    EXPECT_EQ(ControlText(box, IDCANCEL), L"Cancel");
    ASSERT_TRUE(call.WaitForReturn(5000));
    EXPECT_EQ(static_cast<UINT>(call.result()), PB_TIMEDOUT | IDOK);
}

TEST_F(PromptBoxDialog, TimedOutAnswerWithTickedBoxIsStoredWithItsBits) {
    PromptBoxDefaults.moduleName = L"dirshift.exe";
    PromptBoxDefaults.timeoutSeconds = 1;
    const wchar_t* text = L"Time-out with a ticked box";
    PromptCall call(text, MB_YESNOCANCEL | MB_DEFBUTTON2 | PB_DONTASKAGAIN | PB_SILENT);
    HWND box = call.WaitForBox();
    ASSERT_NE(box, nullptr);
    // Ticked without a click, so the countdown keeps running.
    ::SendDlgItemMessageW(box, 5555, BM_SETCHECK, BST_CHECKED, 0);
    ASSERT_TRUE(call.WaitForReturn(5000));
    EXPECT_EQ(static_cast<UINT>(call.result()), PB_TIMEDOUT | PB_DONTASKAGAIN | IDNO);
    DWORD stored = 0;
    ASSERT_TRUE(StoredAnswer(L"dirshift.exe", text, &stored));
    EXPECT_EQ(stored, PB_TIMEDOUT | PB_DONTASKAGAIN | IDNO);
}

TEST_F(PromptBoxDialog, ClickOnTheBoxOrTheCheckBoxStopsTheTimeOut) {
    struct Way {
        const char* name;
        void (*click)(HWND);
    };
    const Way ways[] = {
        {"click in the box", [](HWND box) { ::PostMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5)); }},
        // On the frame rather than the caption: a caption press starts a window move
        // that waits for a mouse release this display never sends.
        {"click on the frame", [](HWND box) { ::PostMessageW(box, WM_NCLBUTTONDOWN, HTBORDER, 0); }},
        {"check box", [](HWND box) { ClickCheckBox(box, 5555); }},
    };
    PromptBoxDefaults.timeoutSeconds = 2;
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        PromptCall call(L"Stop the clock", MB_OK | PB_DONTTELLAGAIN | PB_SILENT);
        HWND box = call.WaitForBox();
        ASSERT_NE(box, nullptr);
        ASSERT_TRUE(WaitUntil([box] { return ControlText(box, IDOK) == L"OK = 2"; }, 3000));
        way.click(box);
        EXPECT_TRUE(WaitUntil([box] { return ControlText(box, IDOK) == L"OK"; }, 2000)) << "label restored";
        EXPECT_TRUE(StaysOpen(box, 3000)) << "the time-out no longer fires";
        PressButton(box, IDOK);
        ASSERT_TRUE(call.WaitForReturn());
        EXPECT_EQ(call.result() & PB_TIMEDOUT, 0u);
        EXPECT_EQ(call.result() & 0xFFFF, IDOK);
    }
}

TEST_F(PromptBoxDialog, CountdownsOf1000SecondsOrMoreBecomeTen) {
    struct Case {
        int seconds;
        const wchar_t* firstLabel;
    };
    for (const Case& c : {Case{1000, L"OK = 10"}, Case{5000, L"OK = 10"}, Case{999, L"OK = 999"}}) {
        SCOPED_TRACE(c.seconds);
        PromptBoxDefaults.timeoutSeconds = c.seconds;
        PromptCall call(L"Long wait", MB_OK | PB_SILENT);
        HWND box = call.WaitForBox();
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(WaitUntil([&] { return ControlText(box, IDOK) == c.firstLabel; }, 3000)) << ControlText(box, IDOK);
        PressButton(box, IDOK);
        ASSERT_TRUE(call.WaitForReturn());
        EXPECT_EQ(call.result(), IDOK) << "a press before the end has no time-out bit";
    }
}

TEST_F(PromptBoxDialog, NegativeCountdownsMeanNone) {
    PromptBoxDefaults.timeoutSeconds = -5;
    PromptBoxDefaults.disabledSeconds = -5;
    PromptCall call(L"No countdown", MB_YESNO | PB_SILENT);
    HWND box = call.WaitForBox();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(IsControlEnabled(box, IDYES)) << "buttons usable at once";
    EXPECT_TRUE(IsControlEnabled(box, IDNO));
    EXPECT_TRUE(StaysOpen(box, 1500));
    EXPECT_EQ(ControlText(box, IDYES), L"Yes");
    PressButton(box, IDNO);
    ASSERT_TRUE(call.WaitForReturn());
    EXPECT_EQ(call.result(), IDNO);
}

TEST_F(PromptBoxDialog, DisabledPeriodCountsInTheTitleAndBlocksEveryWayOut) {
    PromptBoxDefaults.disabledSeconds = 2;
    PromptCall call(L"Read this first", MB_YESNOCANCEL | MB_HELP | PB_DONTASKAGAIN | PB_SILENT);
    HWND box = call.WaitForBox();
    ASSERT_NE(box, nullptr);
    for (int id : {IDYES, IDNO, IDCANCEL}) EXPECT_FALSE(IsControlEnabled(box, id)) << id;
    EXPECT_TRUE(IsControlEnabled(box, 300)) << "Help stays usable";
    EXPECT_TRUE(IsControlEnabled(box, 5555)) << "the check box stays usable";
    EXPECT_TRUE(IsCloseItemGrayed(box));

    EXPECT_TRUE(WaitUntil([box] { return WindowText(box) == L"Dirshift 2"; }, 3000)) << WindowText(box);
    // No way out while the buttons are disabled.
    PressButton(box, IDYES);
    PressEscape(box);
    CloseWithCloseBox(box);
    PressEnterIn(box, 5555);
    EXPECT_TRUE(WaitUntil([box] { return WindowText(box) == L"Dirshift 1"; }, 3000)) << WindowText(box);
    EXPECT_TRUE(::IsWindow(box));

    EXPECT_TRUE(WaitUntil([box] { return WindowText(box) == L"Dirshift"; }, 3000)) << WindowText(box);
    EXPECT_TRUE(WaitUntil([box] { return IsControlEnabled(box, IDYES); }, 2000));
    EXPECT_TRUE(IsControlEnabled(box, IDNO));
    EXPECT_TRUE(IsControlEnabled(box, IDCANCEL));
    EXPECT_FALSE(IsCloseItemGrayed(box)) << "the close box works again";
    EXPECT_TRUE(::IsWindow(box)) << "nothing pressed during the period got through";
    PressEscape(box);
    ASSERT_TRUE(call.WaitForReturn());
    EXPECT_EQ(call.result(), IDCANCEL);
}

std::atomic<int> reportCalls{0};
std::wstring reportedText;
std::atomic<UINT32> reportedData{0};

void RecordReport(const wchar_t* text, UINT32 data) {
    reportedText = text;
    reportedData = data;
    ++reportCalls;
}

TEST_F(PromptBoxDialog, ReportCallsTheCallbackAndKeepsTheBoxOpen) {
    reportCalls = 0;
    PromptBoxDefaults.reportCallback = RecordReport;
    PromptBoxDefaults.reportData = 42;
    PromptCall call(L"Report this", MB_OK | PB_SILENT);
    HWND box = call.WaitForBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ControlText(box, 301), L"Re&port");
    PressButton(box, 301);
    ASSERT_TRUE(WaitUntil([] { return reportCalls == 1; }, 3000));
    EXPECT_EQ(reportedText, L"Report this");
    EXPECT_EQ(reportedData, 42u);
    EXPECT_TRUE(StaysOpen(box, 300));
    PressButton(box, IDOK);
    ASSERT_TRUE(call.WaitForReturn());
    EXPECT_EQ(call.result(), IDOK);
}

void WaitForForeground(HWND box) {
    ASSERT_TRUE(WaitUntil([box] { return ::GetForegroundWindow() == box; }, 3000)) << "the box is in front";
}

const std::wstring S = L"---------------------------\r\n";

TEST_F(PromptBoxDialog, CtrlCCopiesTitleTextAndButtonsWithSeparators) {
    struct Case {
        const wchar_t* text;
        UINT style;
        std::wstring buttons;
    };
    const Case cases[] = {
        {L"Successfully removed junction point(s)", MB_OK | PB_DONTTELLAGAIN, L"OK   Do not tell me again   "},
        {L"Move the folder?\nIt may take a while.", MB_YESNOCANCEL | MB_ICONQUESTION | PB_DONTASKAGAIN,
         L"Yes   No   Cancel   Do not ask me again   "},
        {L"A & B", MB_YESNO | PB_YESTOALL | PB_BUILTINLABELS, L"Yes   Yes to All   No   "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "style 0x" << std::hex << c.style);
        PutTextOnClipboard(L"before");
        PromptCall call(c.text, c.style | PB_SILENT);
        HWND box = call.WaitForBox();
        ASSERT_NE(box, nullptr);
        WaitForForeground(box);
        // Watched without opening the clipboard, which would keep the box from it.
        const DWORD sequence = ::GetClipboardSequenceNumber();
        TypeKeys({{VK_CONTROL, false}, {'C', false}, {'C', true}, {VK_CONTROL, true}});
        EXPECT_TRUE(WaitUntil([sequence] { return ::GetClipboardSequenceNumber() != sequence; }, 3000));
        EXPECT_TRUE(WaitUntil([&] { return ClipboardText() != L"before"; }, 3000));
        EXPECT_EQ(ClipboardText(), S + L"Dirshift\r\n" + S + c.text + L"\r\n" + S + c.buttons + L"\r\n" + S);
        EXPECT_TRUE(::IsWindow(box)) << "copying does not close the box";
        PressButton(box, PushButtonsOf(box)[0].id);
        ASSERT_TRUE(call.WaitForReturn());
    }
}

TEST_F(PromptBoxDialog, CWithoutControlOrControlWithAnotherKeyCopiesNothing) {
    PutTextOnClipboard(L"untouched");
    PromptCall call(L"Keys", MB_OKCANCEL | PB_SILENT);
    HWND box = call.WaitForBox();
    ASSERT_NE(box, nullptr);
    WaitForForeground(box);
    const DWORD sequence = ::GetClipboardSequenceNumber();
    TypeKeys({{'C', false}, {'C', true}, {VK_CONTROL, false}, {'V', false}, {'V', true}, {VK_CONTROL, true}});
    // Esc typed after them is handled after them; it still reaches the box.
    TypeKeys({{VK_ESCAPE, false}, {VK_ESCAPE, true}});
    ASSERT_TRUE(call.WaitForReturn());
    EXPECT_EQ(call.result(), IDCANCEL);
    EXPECT_EQ(::GetClipboardSequenceNumber(), sequence);
    EXPECT_EQ(ClipboardText(), L"untouched");
}

TEST_F(PromptBoxDialog, ControlsStandInsideTheBoxInTheirPlaces) {
    const std::wstring longText =
        L"Successfully created the virtual folder! Be WARNED that if you delete files from the virtual folder, "
        L"they will be deleted from the backing folder too. The folders are in-sync. If you want to remove the "
        L"virtual link, use this utility for safety.";
    struct Case {
        std::wstring text;
        UINT style;
    };
    const Case cases[] = {
        {L"Short.", MB_OK},
        {longText, MB_OK | MB_ICONASTERISK | PB_DONTTELLAGAIN},
        {L"Line one\nLine two\nLine three", MB_YESNOCANCEL | MB_ICONEXCLAMATION | PB_DONTASKAGAIN},
        {L"Wide row", MB_YESNOCANCEL | PB_YESTOALL | PB_NOTOALL | MB_HELP},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "style 0x" << std::hex << c.style);
        PromptCall call(c.text, c.style | PB_SILENT);
        HWND box = call.WaitForBox();
        ASSERT_NE(box, nullptr);
        RECT client{};
        ::GetClientRect(box, &client);
        auto rectOf = [box](HWND child) {
            RECT r{};
            ::GetWindowRect(child, &r);
            ::MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&r), 2);
            return r;
        };
        for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
            const RECT r = rectOf(child);
            EXPECT_GE(r.left, 0);
            EXPECT_GE(r.top, 0);
            EXPECT_LE(r.right, client.right) << "control " << ::GetDlgCtrlID(child);
            EXPECT_LE(r.bottom, client.bottom) << "control " << ::GetDlgCtrlID(child);
        }
        const std::vector<ButtonInfo> buttons = PushButtonsOf(box);
        const RECT message = rectOf(::GetDlgItem(box, 1001));
        const RECT last = rectOf(::GetDlgItem(box, buttons.back().id));
        EXPECT_LE(message.bottom, last.top) << "the text ends above the button row";
        // The modern look (Windows 6 and later) puts the row 16 pixels from the right
        // edge, give or take the rounding of dialog units.
        EXPECT_NEAR(client.right - last.right, 16, 4);
        if (HWND check = ::GetDlgItem(box, 5555)) {
            EXPECT_GE(rectOf(check).top, last.bottom) << "the check box stands below the row";
            EXPECT_NEAR(rectOf(check).left, 17, 4);
        }
        if (HWND icon = ::GetDlgItem(box, 1000)) {
            EXPECT_LE(rectOf(icon).right, message.left);
        }

        RECT window{};
        ::GetWindowRect(box, &window);
        EXPECT_LE(window.right - window.left, ::GetSystemMetrics(SM_CXSCREEN));
        PressButton(box, buttons[0].id);
        ASSERT_TRUE(call.WaitForReturn());
    }
}

TEST_F(PromptBoxDialog, MessageBandHasTheWindowColourAndTheButtonAreaTheDialogColour) {
    PromptCall call(L"Coloured band", MB_OKCANCEL | MB_ICONQUESTION | PB_SILENT);
    HWND box = call.WaitForBox();
    ASSERT_NE(box, nullptr);
    RECT client{};
    ::GetClientRect(box, &client);
    const COLORREF window = ::GetSysColor(COLOR_WINDOW) & 0xFFFFFF;
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE) & 0xFFFFFF;
    ASSERT_NE(window, face) << "the colours must differ for this test";
    auto pixel = [box](int x, int y) {
        HDC dc = ::GetDC(box);
        const COLORREF c = ::GetPixel(dc, x, y);
        ::ReleaseDC(box, dc);
        return c;
    };
    EXPECT_TRUE(WaitUntil([&] { return pixel(3, 3) == window; }, 3000)) << std::hex << pixel(3, 3);
    EXPECT_TRUE(WaitUntil([&] { return pixel(3, client.bottom - 3) == face; }, 3000))
        << std::hex << pixel(3, client.bottom - 3);
    PressButton(box, IDOK);
    ASSERT_TRUE(call.WaitForReturn());
}

// Moved to a monitor of twice the scale (Windows asks for the size the box wants
// there, then sends WM_DPICHANGED; under Wine, where every monitor has the prefix's
// one DPI, the test sends both): the box lays itself out anew at the suggested
// place, each part the part it had doubled, beyond what its texts stretch, in the
// message font and with the icon of the new scale. Back again, it is the box it was.
TEST_F(PromptBoxDialog, LaysItselfOutAnewOnAMonitorOfAnotherScale) {
    PromptCall call(L"Do you accept this risk?", MB_YESNOCANCEL | MB_ICONEXCLAMATION | PB_DONTASKAGAIN | PB_SILENT);
    HWND box = call.WaitForBox();
    ASSERT_NE(box, nullptr);
    if (DpiForWindow(box) != kBaseDpi) GTEST_SKIP() << "the shared prefix runs at 96 DPI";
    const UINT target = 2 * kBaseDpi;
    const std::vector<Part> before = PartsOf(box);
    RECT window{};
    ::GetWindowRect(box, &window);

    SIZE asked{};
    EXPECT_EQ(::SendMessageW(box, kWmGetDpiScaledSize, target, reinterpret_cast<LPARAM>(&asked)), TRUE);
    const RECT suggested{window.left + 40, window.top + 30, window.left + 40 + asked.cx, window.top + 30 + asked.cy};
    ::SendMessageW(box, WM_DPICHANGED, MAKEWPARAM(target, target), reinterpret_cast<LPARAM>(&suggested));

    RECT now{};
    ::GetWindowRect(box, &now);
    EXPECT_EQ(now.left, suggested.left);
    EXPECT_EQ(now.top, suggested.top);
    RECT client{};
    ::GetClientRect(box, &client);
    RECT frame = client;
    const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(box, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(::GetWindowLongPtrW(box, GWL_EXSTYLE));
    ASSERT_TRUE(AdjustWindowRectForDpi(frame, style, exStyle, target));
    EXPECT_EQ(frame.right - frame.left, asked.cx) << "the size it asked for is the size it took";
    EXPECT_EQ(frame.bottom - frame.top, asked.cy);

    const int stretch = TextStretch(box, target);
    const std::vector<Part> after = PartsOf(box);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].name, before[i].name);
        ExpectScaled(after[i].rect, before[i].rect, target, stretch, after[i].name);
    }
    NONCLIENTMETRICSW fonts{};
    ASSERT_TRUE(NonClientFontsForDpi(target, fonts));
    LOGFONTW shown{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendDlgItemMessageW(box, 1001, WM_GETFONT, 0, 0)), sizeof(shown), &shown);
    EXPECT_EQ(shown.lfHeight, fonts.lfMessageFont.lfHeight);
    const RECT icon = ChildRect(box, ::GetDlgItem(box, 1000));
    EXPECT_EQ(icon.right - icon.left, SystemMetricForDpi(SM_CXICON, target) + ScaleForDpi(2, target));
    for (const std::wstring& clipped : ClippedTexts(box)) ADD_FAILURE() << std::string(clipped.begin(), clipped.end());

    ::SendMessageW(box, WM_DPICHANGED, MAKEWPARAM(kBaseDpi, kBaseDpi), reinterpret_cast<LPARAM>(&window));
    ::GetWindowRect(box, &now);
    EXPECT_TRUE(::EqualRect(&now, &window));
    const std::vector<Part> back = PartsOf(box);
    ASSERT_EQ(back.size(), before.size());
    for (size_t i = 0; i < back.size(); ++i) EXPECT_TRUE(::EqualRect(&back[i].rect, &before[i].rect)) << i;

    PressButton(box, IDYES);
    ASSERT_TRUE(call.WaitForReturn());
    EXPECT_EQ(call.result() & 0xFFFF, IDYES);
}

TEST_F(PromptBoxDialog, MessagesBeforeInitDialogGetDefaultHandling) {
    HWND plain = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                   ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(plain, nullptr);
    const UINT messages[] = {WM_COMMAND, WM_TIMER, WM_ERASEBKGND, WM_CTLCOLORSTATIC, WM_LBUTTONDOWN, WM_SETFONT};
    for (UINT message : messages) EXPECT_EQ(PromptBoxDlgProc(plain, message, IDOK, 0), FALSE) << message;
    EXPECT_TRUE(::IsWindow(plain));
    ::DestroyWindow(plain);
}

}  // namespace
