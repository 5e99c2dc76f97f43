// The junction manager face of the real dirshift.exe: the folder it was started
// for, the recurse choice across starts, closing during a scan, and a message box
// answer remembered from one start to the next.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "ui/settings.h"
#include "junction/junction.h"
#include "promptbox/remembered_answers.h"
#include "resources/resource.h"
#include "tests/driver/app_process.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/host_view.h"
#include "tests/driver/test_volumes.h"
#include "tests/junction/junction_test_support.h"
#include "tests/manager/manager_test_support.h"

namespace {

using namespace testing_driver;
using namespace manager_test;
using junction_test::MakeFolders;
using junction_test::UniquePath;

using Rows = std::vector<std::vector<std::wstring>>;

constexpr wchar_t kManagerCaption[] = L"Manage and find junctions (hard links)";

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

bool WaitForScanEnd(HWND dialog, const std::wstring& status, DWORD timeoutMs = 30000) {
    return WaitUntil(
        [&] {
            return DialogStatusText(dialog) == status && ControlText(dialog, IDC_SCAN) == L"Scan" &&
                   IsControlEnabled(dialog, IDC_SCAN);
        },
        timeoutMs);
}

std::wstring MakeJunction(const std::wstring& link, std::wstring* target = nullptr) {
    const std::wstring backing = UniquePath(kNtfsDrive, L"backing");
    MakeFolders(backing);
    MakeFolders(link.substr(0, link.find_last_of(L'\\')));
    EXPECT_TRUE(CreateJunction(link.c_str(), backing.c_str()));
    if (target != nullptr) *target = backing;
    return link;
}

TEST(ManagerEndToEnd, FolderNamedOnTheCommandLineIsScannedAtStart) {
    SettingsScope settings;
    const std::wstring root = UniquePath(kNtfsDrive, L"cmdline");
    std::wstring target;
    const std::wstring link = MakeJunction(root + L"\\link", &target);

    // As Explorer's "find junctions here" passes it: quoted, with a trailing backslash.
    auto app = AppProcess::StartDirshift(Quoted(root + L"\\"));
    ASSERT_NE(app, nullptr);
    HWND dialog = app->WaitForDialog(kManagerCaption);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForScanEnd(dialog, ProgramString(IDS_SCAN_COMPLETE)));
    EXPECT_EQ(ControlText(dialog, IDC_SCAN_FOLDER), root);
    EXPECT_EQ(ListViewRows(::GetDlgItem(dialog, IDC_JUNCTION_LIST), 2), (Rows{{link, target}}));
    EXPECT_TRUE(IsControlEnabled(dialog, IDC_REMOVE_SELECTED));
    PressButton(dialog, IDCANCEL);
    EXPECT_EQ(app->WaitForExit(), 2u);
}

TEST(ManagerEndToEnd, WithoutAFolderTheDialogOpensWithNoFolderSelected) {
    SettingsScope settings;
    auto app = AppProcess::StartDirshift(L"");
    ASSERT_NE(app, nullptr);
    HWND dialog = app->WaitForDialog(kManagerCaption);
    ASSERT_NE(dialog, nullptr);
    const std::wstring noFolder = ProgramString(IDS_NO_FOLDER_SELECTED);
    EXPECT_TRUE(WaitUntil([&] { return ControlText(dialog, IDC_SCAN_FOLDER) == noFolder; }, 5000));
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_JUNCTION_LIST));
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_REMOVE_SELECTED));
    PressButton(dialog, IDOK);
    EXPECT_EQ(app->WaitForExit(), 1u);
}

TEST(ManagerEndToEnd, RecurseChoiceSurvivesARestart) {
    SettingsScope settings;
    {
        auto app = AppProcess::StartDirshift(L"");
        ASSERT_NE(app, nullptr);
        HWND dialog = app->WaitForDialog(kManagerCaption);
        ASSERT_NE(dialog, nullptr);
        EXPECT_FALSE(IsChecked(dialog, IDC_RECURSE));
        ClickCheckBox(dialog, IDC_RECURSE);
        PressButton(dialog, IDOK);
        EXPECT_EQ(app->WaitForExit(), 1u);
    }
    DWORD type = 0;
    EXPECT_EQ(RecurseValueBytes(&type), (std::vector<BYTE>{1, 0, 0, 0}));
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    {
        auto app = AppProcess::StartDirshift(L"");
        ASSERT_NE(app, nullptr);
        HWND dialog = app->WaitForDialog(kManagerCaption);
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(IsChecked(dialog, IDC_RECURSE));
        ClickCheckBox(dialog, IDC_RECURSE);
        CloseWithCloseBox(dialog);
        EXPECT_EQ(app->WaitForExit(), 2u);
    }
    EXPECT_EQ(RecurseValueBytes(), (std::vector<BYTE>{0, 0, 0, 0}));
}

TEST(ManagerEndToEnd, ClosingDuringAScanEndsTheProgramCleanly) {
    SettingsScope settings;
    ASSERT_TRUE(WriteRecurseSetting(1));
    const std::wstring root = UniquePath(kNtfsDrive, L"closing");
    MakeFolders(root);
    for (int i = 0; i < 40; ++i) {
        const std::wstring level = root + L"\\d" + std::to_wstring(i);
        ::CreateDirectoryW(level.c_str(), nullptr);
        for (int j = 0; j < 40; ++j) ::CreateDirectoryW((level + L"\\e" + std::to_wstring(j)).c_str(), nullptr);
    }
    MakeJunction(root + L"\\d0\\link");

    struct Way {
        const char* name;
        void (*close)(HWND);
        DWORD exitCode;
    };
    const Way ways[] = {
        {"Cancel", [](HWND d) { PressButton(d, IDCANCEL); }, 2},
        {"Alt+F4", [](HWND d) { CloseWithAltF4(d); }, 2},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        auto app = AppProcess::StartDirshift(Quoted(root));
        ASSERT_NE(app, nullptr);
        HWND dialog = app->WaitForDialog(kManagerCaption);
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return ControlText(dialog, IDC_SCAN) == ProgramString(IDS_PB_ABORT); }, 10000));
        way.close(dialog);
        EXPECT_EQ(app->WaitForExit(20000), way.exitCode) << "a crash would end with an exception code";
        EXPECT_TRUE(app->WaitForDebugLine(L"Tressel.Info: Aborting scan...", 0));
    }
}

// The remembered answer of the success message, where dirshift.exe files it.
std::optional<DWORD> StoredSuccessAnswer() {
    const std::wstring valueName =
        RememberedAnswerValueName(L"dirshift.exe", ComputeMessageKey(L"Successfully removed junction point(s)"));
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Dirshift\\dirshift.exe\\PromptBox", valueName.c_str(),
                       RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

TEST(ManagerEndToEnd, DoNotTellMeAgainSilencesTheSuccessMessageNextTime) {
    SettingsScope settings;
    const std::wstring root = UniquePath(kNtfsDrive, L"silenced");
    const std::wstring first = MakeJunction(root + L"\\first");
    {
        auto app = AppProcess::StartDirshift(Quoted(root));
        ASSERT_NE(app, nullptr);
        HWND dialog = app->WaitForDialog(kManagerCaption);
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(WaitForScanEnd(dialog, ProgramString(IDS_SCAN_COMPLETE)));
        PressButton(dialog, IDC_REMOVE_SELECTED);
        HWND box = WaitForProcessMessageBox(app->processId(), dialog);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box), L"Successfully removed junction point(s)");
        EXPECT_EQ(ControlText(box, 5555), L"Do not tell me again");
        ClickCheckBox(box, 5555);
        PressButton(box, IDOK);
        // The status bar still reads "Scan complete" from the first scan until the
        // rescan that the removal posted has begun: the emptied list is what tells.
        EXPECT_TRUE(WaitUntil([&] { return ListViewRowCount(::GetDlgItem(dialog, IDC_JUNCTION_LIST)) == 0; }, 10000));
        EXPECT_TRUE(WaitForScanEnd(dialog, ProgramString(IDS_SCAN_COMPLETE)));
        PressButton(dialog, IDCANCEL);
        EXPECT_EQ(app->WaitForExit(), 2u);
    }
    EXPECT_EQ(StoredSuccessAnswer(), std::optional<DWORD>(0x02000001));
    EXPECT_EQ(HostTypeOf(first), HostType::Missing);

    const std::wstring second = MakeJunction(root + L"\\second");
    auto app = AppProcess::StartDirshift(Quoted(root));
    ASSERT_NE(app, nullptr);
    HWND dialog = app->WaitForDialog(kManagerCaption);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForScanEnd(dialog, ProgramString(IDS_SCAN_COMPLETE)));
    ASSERT_EQ(ListViewRowCount(::GetDlgItem(dialog, IDC_JUNCTION_LIST)), 1);
    PressButton(dialog, IDC_REMOVE_SELECTED);
    EXPECT_EQ(WaitForProcessMessageBox(app->processId(), dialog, 2000), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return ListViewRowCount(::GetDlgItem(dialog, IDC_JUNCTION_LIST)) == 0; }, 10000));
    EXPECT_EQ(HostTypeOf(second), HostType::Missing);
    PressButton(dialog, IDCANCEL);
    EXPECT_EQ(app->WaitForExit(), 2u);
}

}  // namespace
