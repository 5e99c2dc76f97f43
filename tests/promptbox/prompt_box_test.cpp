// PromptBox as callers use it, in real windows: the remembered-answer short cut,
// what is stored and what never is, the hand-over to the system box, captions,
// owners and WM_QUIT.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>

#include "promptbox/prompt_box.h"
#include "promptbox/remembered_answers.h"
#include "resources/resource.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/ui_thread.h"
#include "tests/promptbox/promptbox_test_support.h"

namespace {

using namespace testing_driver;
using namespace promptbox_test;

constexpr UINT kStartupWarningStyle = MB_YESNOCANCEL | MB_ICONEXCLAMATION | PB_DONTASKAGAIN;  // 0x01000033

class PromptBoxCall : public ::testing::Test {
protected:
    void SetUp() override { UseProgramDefaults(); }
    void TearDown() override { ResetDefaults(); }

    RegistryScope registry_;
};

// Runs PromptBox on a UI thread that counts every window it creates.
struct CountedCall {
    int result = 0;
    int windowsCreated = 0;
    bool returned = false;
};

thread_local int tlsWindowsCreated = 0;

LRESULT CALLBACK CountWindows(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) ++tlsWindowsCreated;
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

CountedCall CallCountingWindows(const wchar_t* text, UINT style) {
    CountedCall counted;
    UiThreadCall call([&]() -> INT_PTR {
        tlsWindowsCreated = 0;
        HHOOK hook = ::SetWindowsHookExW(WH_CBT, CountWindows, nullptr, ::GetCurrentThreadId());
        const int result = PromptBox(nullptr, text, L"Dirshift", style);
        counted.windowsCreated = tlsWindowsCreated;
        if (hook != nullptr) ::UnhookWindowsHookEx(hook);
        return result;
    });
    counted.returned = call.WaitForReturn(3000);
    counted.result = static_cast<int>(call.result());
    return counted;
}

void TickCheckBox(HWND box) {
    ClickCheckBox(box, 5555);
    ASSERT_TRUE(WaitUntil([box] { return IsChecked(box, 5555); }, 2000));
}

TEST_F(PromptBoxCall, TickedYesIsStoredAndReturnedLaterWithoutABox) {
    const wchar_t* text = L"Junctions can confuse backup programs. Go on?";
    {
        PromptCall call(text, kStartupWarningStyle);
        HWND box = call.WaitForBox();
        ASSERT_NE(box, nullptr);
        TickCheckBox(box);
        PressButton(box, IDYES);
        ASSERT_TRUE(call.WaitForReturn());
        EXPECT_EQ(call.result(), 0x01000006);
    }
    DWORD stored = 0;
    ASSERT_TRUE(StoredAnswer(L"dirshift.exe", text, &stored));
    EXPECT_EQ(stored, 0x01000006u);

    const CountedCall again = CallCountingWindows(text, kStartupWarningStyle);
    ASSERT_TRUE(again.returned) << "a remembered answer shows no box";
    EXPECT_EQ(again.result, 0x01000006);
    EXPECT_EQ(again.windowsCreated, 0);

    // Any check-box kind finds the answer; the stored value is returned as it is.
    const CountedCall otherKind = CallCountingWindows(text, MB_OK | PB_DONTSHOWAGAIN);
    ASSERT_TRUE(otherKind.returned);
    EXPECT_EQ(otherKind.result, 0x01000006);
}

TEST_F(PromptBoxCall, RememberedNoIsAsFinalAsYes) {
    const wchar_t* text = L"Remove the junction?";
    {
        PromptCall call(text, kStartupWarningStyle);
        HWND box = call.WaitForBox();
        ASSERT_NE(box, nullptr);
        TickCheckBox(box);
        PressButton(box, IDNO);
        ASSERT_TRUE(call.WaitForReturn());
        EXPECT_EQ(call.result(), 0x01000007);
    }
    for (int i = 0; i < 2; ++i) {
        const CountedCall again = CallCountingWindows(text, kStartupWarningStyle);
        ASSERT_TRUE(again.returned);
        EXPECT_EQ(again.result, 0x01000007);
        EXPECT_EQ(again.windowsCreated, 0);
    }
}

TEST_F(PromptBoxCall, CancelEscapeAndCloseBoxNeverStore) {
    struct Way {
        const char* name;
        void (*close)(HWND);
    };
    const Way ways[] = {
        {"Cancel", [](HWND box) { PressButton(box, IDCANCEL); }},
        {"Esc", [](HWND box) { PressEscape(box); }},
        {"close box", [](HWND box) { CloseWithCloseBox(box); }},
    };
    const wchar_t* text = L"Relocate now?";
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        PromptCall call(text, kStartupWarningStyle);
        HWND box = call.WaitForBox();
        ASSERT_NE(box, nullptr);
        TickCheckBox(box);
        way.close(box);
        ASSERT_TRUE(call.WaitForReturn());
        EXPECT_EQ(call.result(), IDCANCEL) << "no check-box bit";
        DWORD stored = 0;
        EXPECT_FALSE(StoredAnswer(L"dirshift.exe", text, &stored));
    }
    PromptCall shown(text, kStartupWarningStyle);
    HWND box = shown.WaitForBox();
    ASSERT_NE(box, nullptr) << "nothing remembered: the box shows again";
    PressButton(box, IDNO);
    ASSERT_TRUE(shown.WaitForReturn());
    EXPECT_EQ(shown.result(), IDNO) << "unticked: no bit";
}

TEST_F(PromptBoxCall, OkBoxEscapeAnswersOkButStoresNothing) {
    const wchar_t* text = L"Successfully removed junction point(s)";
    {
        PromptCall call(text, MB_OK | PB_DONTTELLAGAIN);
        HWND box = call.WaitForBox();
        ASSERT_NE(box, nullptr);
        TickCheckBox(box);
        PressEscape(box);
        ASSERT_TRUE(call.WaitForReturn());
        EXPECT_EQ(call.result(), IDOK);
        DWORD stored = 0;
        EXPECT_FALSE(StoredAnswer(L"dirshift.exe", text, &stored));
    }
    {
        PromptCall call(text, MB_OK | PB_DONTTELLAGAIN);
        HWND box = call.WaitForBox();
        ASSERT_NE(box, nullptr);
        TickCheckBox(box);
        PressButton(box, IDOK);
        ASSERT_TRUE(call.WaitForReturn());
        EXPECT_EQ(call.result(), 0x02000001);
        DWORD stored = 0;
        ASSERT_TRUE(StoredAnswer(L"dirshift.exe", text, &stored));
        EXPECT_EQ(stored, 0x02000001u);
    }
}

TEST_F(PromptBoxCall, AnswersAreKeptPerTextAndSharedByTextsWithTheSameKey) {
    WriteRememberedAnswer(kTestCompany, RememberedAnswerValueName(L"dirshift.exe", ComputeMessageKey(L"abc")).c_str(),
                          0x01000006);
    const CountedCall same = CallCountingWindows(L"\x0161" L"bc", kStartupWarningStyle);
    ASSERT_TRUE(same.returned) << "a text with the same key shares the answer";
    EXPECT_EQ(same.result, 0x01000006);

    PromptCall other(L"abd", kStartupWarningStyle);
    HWND box = other.WaitForBox();
    ASSERT_NE(box, nullptr) << "abd has its own key";
    PressButton(box, IDNO);
    ASSERT_TRUE(other.WaitForReturn());
}

TEST_F(PromptBoxCall, StoredAnswersAreIgnoredWithoutACheckBoxOrWithoutTheirBit) {
    const wchar_t* text = L"Overwrite?";
    const std::wstring name = RememberedAnswerValueName(L"dirshift.exe", ComputeMessageKey(text));
    WriteRememberedAnswer(kTestCompany, name.c_str(), 0x01000006);
    {
        PromptCall call(text, MB_YESNOCANCEL);
        HWND box = call.WaitForBox();
        ASSERT_NE(box, nullptr) << "a call without a check-box bit never reads the registry";
        EXPECT_EQ(::GetDlgItem(box, 5555), nullptr);
        PressButton(box, IDNO);
        ASSERT_TRUE(call.WaitForReturn());
        EXPECT_EQ(call.result(), IDNO);
    }
    WriteRememberedAnswer(kTestCompany, name.c_str(), IDYES);
    {
        PromptCall call(text, kStartupWarningStyle);
        HWND box = call.WaitForBox();
        ASSERT_NE(box, nullptr) << "a stored value without a check-box bit does not end the call";
        PressButton(box, IDCANCEL);
        ASSERT_TRUE(call.WaitForReturn());
    }
}

TEST_F(PromptBoxCall, WithoutModuleNameTheBitIsSetButNothingStored) {
    PromptBoxDefaults.moduleName = nullptr;
    const wchar_t* text = L"Scan complete";
    PromptCall call(text, MB_OK | PB_DONTSHOWAGAIN);
    HWND box = call.WaitForBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ControlText(box, 5555), L"Do not show me again");
    TickCheckBox(box);
    PressButton(box, IDOK);
    ASSERT_TRUE(call.WaitForReturn());
    EXPECT_EQ(call.result(), 0x04000001);
    HKEY key = nullptr;
    EXPECT_NE(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\DirshiftPromptBoxTest", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    if (key != nullptr) ::RegCloseKey(key);
}

TEST_F(PromptBoxCall, CheckBoxTextGivenAsResourceNumberIsRememberedByItsText) {
    {
        PromptCall call(L"Scan complete", MB_OK | PB_DONTTELLAGAIN);
        HWND box = call.WaitForBox();
        ASSERT_NE(box, nullptr);
        TickCheckBox(box);
        PressButton(box, IDOK);
        ASSERT_TRUE(call.WaitForReturn());
    }
    UiThreadCall call([&]() -> INT_PTR {
        return PromptBox(nullptr, MAKEINTRESOURCEW(IDS_SCAN_COMPLETE), L"Dirshift", MB_OK | PB_DONTTELLAGAIN);
    });
    ASSERT_TRUE(call.WaitForReturn(3000));
    EXPECT_EQ(call.result(), 0x02000001);
}

TEST_F(PromptBoxCall, SystemModalStopMessagesGoToTheSystemBox) {
    const wchar_t* text = L"The disk is failing.";
    // Even a remembered answer for the text is not consulted.
    WriteRememberedAnswer(kTestCompany, RememberedAnswerValueName(L"dirshift.exe", ComputeMessageKey(text)).c_str(),
                          0x01000001);
    for (UINT style : {MB_OK | MB_ICONHAND | MB_SYSTEMMODAL | PB_DONTASKAGAIN,
                       MB_OK | MB_ICONEXCLAMATION | MB_SYSTEMMODAL | PB_DONTASKAGAIN}) {
        SCOPED_TRACE(style);
        PromptCall call(text, style, L"Disk");
        HWND box = call.WaitForBox();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(::GetDlgItem(box, 5555), nullptr) << "the system box has no check box";
        EXPECT_EQ(::GetDlgItem(box, 1001), nullptr) << "nor our message control";
        EXPECT_EQ(WindowText(box), L"Disk");
        PressButton(box, IDOK);
        ASSERT_TRUE(call.WaitForReturn());
        EXPECT_EQ(call.result(), IDOK);
    }
    // Without the system-modal bit the stop icon stays in our own box.
    PromptCall own(text, MB_OK | MB_ICONHAND | PB_DONTASKAGAIN | PB_SILENT, L"Disk");
    ASSERT_TRUE(own.WaitForReturn(3000)) << "and the remembered answer ends it";
    EXPECT_EQ(own.result(), 0x01000001);
}

TEST_F(PromptBoxCall, CaptionDefaultsToErrorAndLoadsFromResources) {
    {
        PromptCall call(L"Something failed.", MB_OK, nullptr);
        HWND box = call.WaitForBox();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(WindowText(box), L"Error");
        PressButton(box, IDOK);
        ASSERT_TRUE(call.WaitForReturn());
    }
    UiThreadCall call([]() -> INT_PTR {
        return PromptBox(nullptr, MAKEINTRESOURCEW(IDS_NO_FOLDER_SELECTED), MAKEINTRESOURCEW(IDS_APP_CAPTION), MB_OK);
    });
    HWND box = call.WaitForWindow();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(WindowText(box), L"Dirshift");
    EXPECT_EQ(ControlText(box, 1001), L"No folder selected");
    PressButton(box, IDOK);
    ASSERT_TRUE(call.WaitForReturn());
}

TEST_F(PromptBoxCall, WmQuitClosesTheBoxAndIsPostedAgain) {
    std::atomic<bool> quitSeenAgain{false};
    std::atomic<WPARAM> quitCode{0};
    UiThreadCall call([&]() -> INT_PTR {
        const int result = PromptBox(nullptr, L"Waiting", L"Dirshift", MB_YESNO);
        MSG message;
        if (::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
            quitSeenAgain = true;
            quitCode = message.wParam;
        }
        return result;
    });
    HWND box = call.WaitForWindow();
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(::PostThreadMessageW(call.threadId(), WM_QUIT, 7, 0));
    ASSERT_TRUE(call.WaitForReturn());
    EXPECT_EQ(call.result(), -1) << "no button was pressed";
    EXPECT_FALSE(::IsWindow(box));
    EXPECT_TRUE(quitSeenAgain);
    EXPECT_EQ(quitCode, 7u);
}

// An owner window of the UI thread, made before the box.
HWND MakeOwner(bool disabled) {
    HWND owner = ::CreateWindowExW(0, L"STATIC", L"Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 80, 600, 400,
                                   nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (disabled) ::EnableWindow(owner, FALSE);
    return owner;
}

TEST_F(PromptBoxCall, OwnerIsDisabledWhileTheBoxIsUpAndCentresIt) {
    for (bool disabledBefore : {false, true}) {
        SCOPED_TRACE(disabledBefore ? "owner disabled before" : "owner enabled before");
        std::atomic<HWND> owner{nullptr};
        std::atomic<bool> enabledAfter{false};
        UiThreadCall call([&]() -> INT_PTR {
            owner = MakeOwner(disabledBefore);
            const int result = PromptBox(owner, L"Centred on its owner", L"Dirshift", MB_OKCANCEL);
            enabledAfter = ::IsWindowEnabled(owner) != FALSE;
            ::DestroyWindow(owner);
            return result;
        });
        HWND box = call.WaitForWindow();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(::GetWindow(box, GW_OWNER), owner.load());
        EXPECT_FALSE(::IsWindowEnabled(owner));

        RECT ownerRect{}, boxRect{};
        ::GetWindowRect(owner, &ownerRect);
        ::GetWindowRect(box, &boxRect);
        EXPECT_NEAR((boxRect.left + boxRect.right) / 2, (ownerRect.left + ownerRect.right) / 2, 1);
        EXPECT_NEAR((boxRect.top + boxRect.bottom) / 2, (ownerRect.top + ownerRect.bottom) / 2, 1);

        PressButton(box, IDOK);
        ASSERT_TRUE(call.WaitForReturn());
        EXPECT_EQ(call.result(), IDOK);
        EXPECT_EQ(enabledAfter.load(), !disabledBefore) << "only an owner the box disabled is enabled again";
    }
}

TEST_F(PromptBoxCall, BoxStaysOnTheScreenWhateverItsOwnersPlace) {
    struct Case {
        const char* name;
        RECT owner;
        bool minimised;
    };
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    const Case cases[] = {
        {"owner hanging off the top left", {-500, -400, 100, 100}, false},
        {"owner hanging off the bottom right", {screenWidth - 100, screenHeight - 60, screenWidth + 500, screenHeight + 400},
         false},
        {"minimised owner", {100, 80, 700, 480}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<HWND> owner{nullptr};
        UiThreadCall call([&]() -> INT_PTR {
            HWND window = ::CreateWindowExW(0, L"STATIC", L"Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, c.owner.left,
                                            c.owner.top, c.owner.right - c.owner.left, c.owner.bottom - c.owner.top,
                                            nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
            if (c.minimised) ::ShowWindow(window, SW_MINIMIZE);
            owner = window;
            return PromptBox(window, L"Where am I?", L"Dirshift", MB_OK);
        });
        HWND box = call.WaitForWindow();
        ASSERT_NE(box, nullptr);
        RECT rect{};
        ::GetWindowRect(box, &rect);
        EXPECT_GE(rect.left, 0);
        EXPECT_GE(rect.top, 0);
        EXPECT_LE(rect.right, screenWidth);
        EXPECT_LE(rect.bottom, screenHeight);
        PressButton(box, IDOK);
        ASSERT_TRUE(call.WaitForReturn());
    }
}

TEST_F(PromptBoxCall, OwnerFallsBackToTheActiveWindowsLastPopup) {
    std::atomic<HWND> owner{nullptr};
    UiThreadCall call([&]() -> INT_PTR {
        owner = MakeOwner(false);
        ::SetActiveWindow(owner);
        return PromptBox(nullptr, L"Owned by the active window", L"Dirshift", MB_OK);
    });
    HWND box = call.WaitForWindow();
    ASSERT_NE(box, nullptr);
    if (::GetWindow(box, GW_OWNER) == nullptr) {
        PressButton(box, IDOK);
        GTEST_SKIP() << "the owner window did not become active on this display";
    }
    EXPECT_EQ(::GetWindow(box, GW_OWNER), owner.load());
    PressButton(box, IDOK);
    ASSERT_TRUE(call.WaitForReturn());
}

TEST_F(PromptBoxCall, RequestedPositionIsKept) {
    PromptBoxDefaults.x = 50;
    PromptBoxDefaults.y = 60;
    PromptCall call(L"Here", MB_OK);
    HWND box = call.WaitForBox();
    ASSERT_NE(box, nullptr);
    RECT rect{};
    ::GetWindowRect(box, &rect);
    EXPECT_EQ(rect.left, 50);
    EXPECT_EQ(rect.top, 60);
    PressButton(box, IDOK);
    ASSERT_TRUE(call.WaitForReturn());
}

}  // namespace
