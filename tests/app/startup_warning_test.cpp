// The start-up warning of the real dirshift.exe: only Yes opens a face; a ticked
// Yes or No is remembered for the next start, Cancel and Esc never are.
#include <gtest/gtest.h>

#include "app/startup_warning.h"
#include "tests/driver/app_process.h"
#include "tests/driver/dialog_driver.h"

namespace {

using namespace testing_driver;

constexpr wchar_t kRelocationCaption[] = L"Move folder to different drive and place hard link (junction) ...";
constexpr DWORD kTickedYes = 0x01000006;
constexpr DWORD kTickedNo = 0x01000007;

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(parent, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

std::wstring StaticTexts(HWND box) {
    std::wstring text;
    for (HWND child : Children(box))
        if (::lstrcmpiW(ClassNameOf(child).c_str(), L"Static") == 0) text += WindowText(child);
    return text;
}

HWND CheckBoxOf(HWND box) {
    for (HWND child : Children(box)) {
        const LONG_PTR type = ::GetWindowLongPtrW(child, GWL_STYLE) & BS_TYPEMASK;
        if (::lstrcmpiW(ClassNameOf(child).c_str(), L"Button") == 0 && (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX))
            return child;
    }
    return nullptr;
}

std::unique_ptr<AppProcess> StartAsking() {
    return AppProcess::StartDirshift(L"C:\\Data /create", L"", StartupWarning::AsStored);
}

// A start that ends without showing any window: the remembered No.
bool EndsWithoutAnyWindow(AppProcess& app, std::optional<DWORD>& exitCode) {
    bool sawWindow = false;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows(app.processId()))
                if (::IsWindowVisible(window)) sawWindow = true;
            return app.WaitForExit(0).has_value();
        },
        15000);
    exitCode = app.WaitForExit(0);
    return !sawWindow;
}

class StartupWarningTest : public ::testing::Test {
protected:
    void SetUp() override { ForgetStartupWarningAnswer(); }
    void TearDown() override { ForgetStartupWarningAnswer(); }
};

TEST_F(StartupWarningTest, ShowsTheWarningWithItsButtonsAndCheckBox) {
    auto app = StartAsking();
    ASSERT_NE(app, nullptr);
    HWND box = app->WaitForDialog(L"Dirshift");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(StaticTexts(box), kStartupWarningText);
    EXPECT_EQ(WindowText(::GetDlgItem(box, IDYES)), L"Yes");
    EXPECT_EQ(WindowText(::GetDlgItem(box, IDNO)), L"No");
    EXPECT_EQ(WindowText(::GetDlgItem(box, IDCANCEL)), L"Cancel");
    HWND checkBox = CheckBoxOf(box);
    ASSERT_NE(checkBox, nullptr);
    EXPECT_EQ(WindowText(checkBox), L"Do not ask me again");
    EXPECT_EQ(app->WaitForDialog(kRelocationCaption, 0), nullptr) << "no face before the answer";
    SaveScreenshot(L"startup-warning");
    PressButton(box, IDYES);
    EXPECT_NE(app->WaitForDialog(kRelocationCaption), nullptr);
    app->Kill();
}

// Every answer but Yes ends the program with 1 before any face opens; none of
// them, unticked, is remembered.
TEST_F(StartupWarningTest, OnlyYesOpensTheFaceAndNothingUntickedIsRemembered) {
    const struct {
        const char* name;
        void (*answer)(HWND box);
        bool opens;
    } cases[] = {
        {"Yes", [](HWND box) { PressButton(box, IDYES); }, true},
        {"No", [](HWND box) { PressButton(box, IDNO); }, false},
        {"Cancel", [](HWND box) { PressButton(box, IDCANCEL); }, false},
        {"Esc", [](HWND box) { PressEscape(box); }, false},
        {"close box", [](HWND box) { CloseWithCloseBox(box); }, false},
        // Cancel and Esc with the box ticked are not remembered either.
        {"ticked Cancel",
         [](HWND box) {
             ClickCheckBox(box, ::GetDlgCtrlID(CheckBoxOf(box)));
             PressButton(box, IDCANCEL);
         },
         false},
        {"ticked Esc",
         [](HWND box) {
             ClickCheckBox(box, ::GetDlgCtrlID(CheckBoxOf(box)));
             PressEscape(box);
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto app = StartAsking();
        ASSERT_NE(app, nullptr);
        HWND box = app->WaitForDialog(L"Dirshift");
        ASSERT_NE(box, nullptr);
        c.answer(box);
        if (c.opens) {
            HWND dialog = app->WaitForDialog(kRelocationCaption);
            ASSERT_NE(dialog, nullptr);
            PressButton(dialog, IDCANCEL);
            EXPECT_EQ(app->WaitForExit(), 2u);
        } else {
            EXPECT_EQ(app->WaitForExit(), 1u);
        }
        EXPECT_EQ(StoredStartupWarningAnswer(), std::nullopt);
    }
}

TEST_F(StartupWarningTest, TickedYesIsRememberedAndSkipsTheWarningNextTime) {
    auto first = StartAsking();
    ASSERT_NE(first, nullptr);
    HWND box = first->WaitForDialog(L"Dirshift");
    ASSERT_NE(box, nullptr);
    ClickCheckBox(box, ::GetDlgCtrlID(CheckBoxOf(box)));
    PressButton(box, IDYES);
    HWND dialog = first->WaitForDialog(kRelocationCaption);
    ASSERT_NE(dialog, nullptr);
    PressButton(dialog, IDCANCEL);
    EXPECT_EQ(first->WaitForExit(), 2u);
    EXPECT_EQ(StoredStartupWarningAnswer(), kTickedYes);

    auto second = StartAsking();
    ASSERT_NE(second, nullptr);
    dialog = second->WaitForDialog(kRelocationCaption);
    ASSERT_NE(dialog, nullptr) << "the face opens at once";
    EXPECT_EQ(second->WaitForDialog(L"Dirshift", 0), nullptr) << "no warning";
    PressButton(dialog, IDCANCEL);
    EXPECT_EQ(second->WaitForExit(), 2u);
}

TEST_F(StartupWarningTest, TickedNoEndsEveryLaterStartAtOnce) {
    auto first = StartAsking();
    ASSERT_NE(first, nullptr);
    HWND box = first->WaitForDialog(L"Dirshift");
    ASSERT_NE(box, nullptr);
    ClickCheckBox(box, ::GetDlgCtrlID(CheckBoxOf(box)));
    PressButton(box, IDNO);
    EXPECT_EQ(first->WaitForExit(), 1u);
    EXPECT_EQ(StoredStartupWarningAnswer(), kTickedNo);

    for (int start = 0; start < 2; ++start) {
        auto later = StartAsking();
        ASSERT_NE(later, nullptr);
        std::optional<DWORD> exitCode;
        EXPECT_TRUE(EndsWithoutAnyWindow(*later, exitCode));
        EXPECT_EQ(exitCode, 1u);
    }
}

}  // namespace
