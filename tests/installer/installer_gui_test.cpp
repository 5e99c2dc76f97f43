// The installer and the installed program in their windows: the program as Explorer
// starts it from the context-menu entries the installer registered, the installer
// waiting for a running copy to close, and the uninstaller's one question.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "version.h"

#include "junction/junction.h"
#include "resources/resource.h"
#include "tests/driver/app_process.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/test_volumes.h"
#include "tests/installer/installer_harness.h"

namespace {

using namespace installer_testing;
using testing_driver::AppProcess;

class InstalledDirshift : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RemoveEveryInstallation();
        ASSERT_EQ(RunSetup(L"/S"), 0u);
    }
    static void TearDownTestSuite() { RemoveEveryInstallation(); }
};

// Explorer puts the item's path in place of %1 and starts the command; the program
// is the command's first, quoted, token.
std::wstring ExpandAsExplorer(std::wstring command, const std::wstring& itemPath) {
    const size_t at = command.find(L"%1");
    if (at != std::wstring::npos) command.replace(at, 2, itemPath);
    return command;
}

std::wstring ProgramOf(const std::wstring& command) {
    if (command.empty() || command[0] != L'"') return L"";
    const size_t end = command.find(L'"', 1);
    return end == std::wstring::npos ? L"" : command.substr(1, end - 1);
}

enum class Face { Relocation, Manager };

constexpr wchar_t kScanComplete[] = L"Scan complete";

// The face's dialog: the top-level dialog of the process holding the face's path
// box and the control only that face has.
HWND WaitForFace(const AppProcess& app, Face face) {
    const int pathBox = face == Face::Relocation ? IDC_SOURCE_PATH : IDC_SCAN_FOLDER;
    const int ownControl = face == Face::Relocation ? IDC_RELOCATE : IDC_JUNCTION_LIST;
    HWND found = nullptr;
    testing_driver::WaitUntil(
        [&] {
            for (HWND window : testing_driver::TopLevelWindows(app.processId())) {
                if (::IsWindowVisible(window) && ::GetDlgItem(window, pathBox) != nullptr &&
                    ::GetDlgItem(window, ownControl) != nullptr) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        15000);
    return found;
}

TEST_F(InstalledDirshift, ContextMenuEntriesOpenTheRightFaceForTheClickedFolderOrDrive) {
    // On the NTFS test volume, so the manager's scan of the folder or drive can run.
    const std::wstring drive = testing_driver::kNtfsDrive;
    const std::wstring plainFolder = drive + L"\\Dirshift menu test";
    const std::wstring oddFolder = drive + L"\\Fotos & \u00c4rger (2024), #1";
    const std::wstring backing = drive + L"\\Dirshift menu test backing";
    // One junction in each folder and one right on the drive: the manager must list
    // the one of the place it was opened for, which shows it scanned that place.
    const std::wstring plainLink = plainFolder + L"\\link";
    const std::wstring oddLink = oddFolder + L"\\link";
    const std::wstring driveLink = drive + L"\\Dirshift menu test link";
    // Links an earlier run may have left behind; none is there on a fresh volume.
    for (const auto& link : {plainLink, oddLink, driveLink}) static_cast<void>(::RemoveJunction(link.c_str()));
    for (const auto& folder : {plainFolder, oddFolder, backing}) ::CreateDirectoryW(folder.c_str(), nullptr);
    for (const auto& link : {plainLink, oddLink, driveLink}) ASSERT_TRUE(::CreateJunction(link.c_str(), backing.c_str()));

    struct MenuCase {
        const wchar_t* name;
        const wchar_t* verbKey;
        std::wstring itemPath;  // what Explorer puts in place of %1
        Face face;
        std::wstring shownPath;
        std::wstring listedJunction;  // manager only
    };
    const MenuCase cases[] = {
        {L"move a folder with blanks", kRelocateVerbKey, plainFolder, Face::Relocation, plainFolder, L""},
        {L"move a folder with & , # ( ) and a non-ASCII letter", kRelocateVerbKey, oddFolder, Face::Relocation,
         oddFolder, L""},
        {L"move a folder right below a drive root", kRelocateVerbKey, L"C:\\users", Face::Relocation, L"C:\\users",
         L""},
        {L"find junctions in a folder", kFindVerbKey, plainFolder, Face::Manager, plainFolder, plainLink},
        {L"find junctions in a folder with odd characters", kFindVerbKey, oddFolder, Face::Manager, oddFolder,
         oddLink},
        // A drive's path ends in a backslash, which turns the closing quote into a
        // literal one: the program receives N:" and removes that stray quote.
        {L"find junctions on a drive", kDriveFindVerbKey, drive + L"\\", Face::Manager, drive, driveLink},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto command = ReadString(HKEY_LOCAL_MACHINE, std::wstring(c.verbKey) + L"\\command", L"");
        ASSERT_TRUE(command.has_value());
        const std::wstring commandLine = ExpandAsExplorer(*command, c.itemPath);
        const std::wstring program = ProgramOf(commandLine);
        ASSERT_EQ(program, DefaultInstallFolder() + L"\\dirshift.exe");

        auto app = AppProcess::Start(program, commandLine);
        ASSERT_NE(app, nullptr);
        HWND face = WaitForFace(*app, c.face);
        ASSERT_NE(face, nullptr) << "the expected face opens";
        const int pathBox = c.face == Face::Relocation ? IDC_SOURCE_PATH : IDC_SCAN_FOLDER;
        EXPECT_EQ(testing_driver::ControlText(face, pathBox), c.shownPath);
        if (c.face == Face::Manager) {
            EXPECT_TRUE(testing_driver::WaitUntil(
                [&] { return testing_driver::DialogStatusText(face) == kScanComplete; }, 15000));
            bool listed = false;
            for (const auto& row : testing_driver::ListViewRows(::GetDlgItem(face, IDC_JUNCTION_LIST), 2))
                listed = listed || row[0] == c.listedJunction;
            EXPECT_TRUE(listed) << "the scan covered the place the menu was opened for";
        }
        testing_driver::CloseWithCloseBox(face);
        EXPECT_TRUE(app->WaitForExit().has_value());
    }
    for (const auto& link : {plainLink, oddLink, driveLink}) EXPECT_TRUE(::RemoveJunction(link.c_str()));
    for (const auto& folder : {plainFolder, oddFolder, backing}) ::RemoveDirectoryW(folder.c_str());
}

// The top-level dialog of the process that has the button `id` (a message box:
// IDYES, IDRETRY, ...), or null after the time-out.
HWND WaitForBoxWithButton(const AppProcess& app, int id, DWORD timeoutMs = 20000) {
    HWND found = nullptr;
    testing_driver::WaitUntil(
        [&] {
            for (HWND window : testing_driver::TopLevelWindows(app.processId())) {
                if (::IsWindowVisible(window) && ::GetDlgItem(window, id) != nullptr) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

// "Move back and remove junction..." on a junction asks first (No ends with 2 and
// keeps the junction); on a folder that is no junction it says so and ends with 1.
TEST_F(InstalledDirshift, MoveBackEntryAsksForAJunctionAndRefusesAPlainFolder) {
    const std::wstring drive = testing_driver::kNtfsDrive;
    const std::wstring plainFolder = drive + L"\\Dirshift move back entry";
    const std::wstring backing = drive + L"\\Dirshift move back entry backing";
    const std::wstring link = plainFolder + L"\\link";
    static_cast<void>(::RemoveJunction(link.c_str()));
    for (const auto& folder : {plainFolder, backing}) ::CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(::CreateJunction(link.c_str(), backing.c_str()));

    const auto command = ReadString(HKEY_LOCAL_MACHINE, std::wstring(kRestoreVerbKey) + L"\\command", L"");
    ASSERT_TRUE(command.has_value());
    const struct {
        std::wstring itemPath;
        int button;  // the button the box must have, pressed to answer it
        DWORD exitCode;
    } cases[] = {
        {link, IDNO, 2},
        {plainFolder, IDOK, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.itemPath);
        const std::wstring commandLine = ExpandAsExplorer(*command, c.itemPath);
        auto app = AppProcess::Start(ProgramOf(commandLine), commandLine);
        ASSERT_NE(app, nullptr);
        HWND box = WaitForBoxWithButton(*app, c.button);
        ASSERT_NE(box, nullptr);
        testing_driver::PressButton(box, c.button);
        EXPECT_EQ(app->WaitForExit(), c.exitCode);
    }
    wchar_t target[kJunctionPathCapacity] = L"";
    DWORD tag = 0;
    EXPECT_TRUE(::ReadReparsePoint(link.c_str(), target, tag)) << "the declined junction stays";
    EXPECT_TRUE(::RemoveJunction(link.c_str()));
    for (const auto& folder : {plainFolder, backing}) ::RemoveDirectoryW(folder.c_str());
}

// An upgrade started while Dirshift runs: the installer asks the user to close it,
// changes nothing meanwhile, and carries on once the program is closed and the user
// chooses Retry.
TEST_F(InstalledDirshift, InstallerWaitsForTheRunningProgramAndGoesOnAfterRetry) {
    const std::wstring exe = DefaultInstallFolder() + L"\\dirshift.exe";
    ASSERT_TRUE(WriteString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion", L"0.9-marker"));
    auto program = AppProcess::Start(exe, L"\"" + exe + L"\" C:\\users");
    ASSERT_NE(program, nullptr);
    ASSERT_NE(WaitForFace(*program, Face::Manager), nullptr);

    auto setup = AppProcess::Start(SetupExePath(), L"\"" + SetupExePath() + L"\"", L"",
                                   testing_driver::StartupWarning::AsStored);
    ASSERT_NE(setup, nullptr);
    HWND wizard = setup->WaitForDialog();
    ASSERT_NE(wizard, nullptr);
    testing_driver::PressButton(wizard, IDOK);  // "Install" on the folder page

    HWND box = WaitForBoxWithButton(*setup, IDRETRY);
    ASSERT_NE(box, nullptr) << "the installer asks to close the program";
    EXPECT_NE(::GetDlgItem(box, IDCANCEL), nullptr);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion"), L"0.9-marker") << "nothing changed yet";

    program->Kill();
    testing_driver::PressButton(box, IDRETRY);
    ASSERT_TRUE(testing_driver::WaitUntil(
        [&] { return ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion") == DIRSHIFT_VERSION_WTEXT; },
        20000)) << "the installation completes";
    // The finish page's button ends the installer.
    ASSERT_TRUE(testing_driver::WaitUntil(
        [&] { return testing_driver::WindowText(::GetDlgItem(wizard, IDOK)).find(L"Finish") != std::wstring::npos; },
        20000));
    testing_driver::PressButton(wizard, IDOK);
    EXPECT_EQ(setup->WaitForExit(), 0u);
}

// The uninstaller's question about the user's settings, in its own window: the
// default answer keeps them, Yes removes them. (Silent mode never asks; the silent
// uninstall test covers that.)
class UninstallerQuestion : public ::testing::Test {
protected:
    void SetUp() override {
        // The settings belong to whoever runs these tests: keep a copy to put back.
        DeleteTree(HKEY_CURRENT_USER, kBackupKey);
        hadSettings_ = KeyExists(HKEY_CURRENT_USER, kSettingsKey);
        if (hadSettings_) {
            ASSERT_TRUE(CopyKey(kSettingsKey, kBackupKey));
        }
        RemoveEveryInstallation();
        ASSERT_EQ(RunSetup(L"/S"), 0u);
    }
    void TearDown() override {
        RemoveEveryInstallation();
        DeleteTree(HKEY_CURRENT_USER, kSettingsKey);
        if (hadSettings_) CopyKey(kBackupKey, kSettingsKey);
        DeleteTree(HKEY_CURRENT_USER, kBackupKey);
    }

    static bool CopyKey(const wchar_t* from, const wchar_t* to) {
        HKEY source = nullptr;
        HKEY target = nullptr;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, from, 0, KEY_READ, &source) != ERROR_SUCCESS) return false;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, to, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target, nullptr) !=
            ERROR_SUCCESS) {
            ::RegCloseKey(source);
            return false;
        }
        const bool copied = ::RegCopyTreeW(source, nullptr, target) == ERROR_SUCCESS;
        ::RegCloseKey(source);
        ::RegCloseKey(target);
        return copied;
    }

    static constexpr wchar_t kBackupKey[] = L"Software\\Dirshift installer test backup";
    bool hadSettings_ = false;
};

TEST_F(UninstallerQuestion, AsksAboutSettingsKeepsThemByDefaultAndRemovesThemOnYes) {
    struct AnswerCase {
        const wchar_t* name;
        bool pressYes;  // otherwise Enter, which chooses the default
        bool settingsStay;
    };
    const AnswerCase cases[] = {
        {L"Enter", false, true},
        {L"Yes", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) {
            ASSERT_EQ(RunSetup(L"/S"), 0u);
        }
        ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, kSettingsKey, L"Recurse", L"1"));

        // Run in place (_?=) so the windows belong to the process started here.
        const std::wstring uninstaller = DefaultInstallFolder() + L"\\uninstall.exe";
        auto app = AppProcess::Start(uninstaller, L"\"" + uninstaller + L"\" _?=" + DefaultInstallFolder(), L"",
                                     testing_driver::StartupWarning::AsStored);
        ASSERT_NE(app, nullptr);
        HWND wizard = app->WaitForDialog();
        ASSERT_NE(wizard, nullptr);
        testing_driver::PressButton(wizard, IDOK);  // "Uninstall" on the confirmation page

        HWND box = WaitForBoxWithButton(*app, IDYES);
        ASSERT_NE(box, nullptr) << "the uninstaller asks";
        EXPECT_NE(::GetDlgItem(box, IDNO), nullptr);
        const auto buttonType = [&](int id) { return ::GetWindowLongW(::GetDlgItem(box, id), GWL_STYLE) & BS_TYPEMASK; };
        EXPECT_EQ(buttonType(IDNO), BS_DEFPUSHBUTTON) << "keeping the settings is the default";
        EXPECT_EQ(buttonType(IDYES), BS_PUSHBUTTON);
        if (c.pressYes) {
            testing_driver::PressButton(box, IDYES);
        } else {
            testing_driver::PressEnterIn(box, IDNO);
        }

        // The last page's Close button ends the uninstaller once its work is done.
        ASSERT_TRUE(testing_driver::WaitUntil(
            [&] { return !KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey); }, 20000));
        ASSERT_TRUE(testing_driver::WaitUntil([&] { return testing_driver::IsControlEnabled(wizard, IDOK); }, 20000));
        testing_driver::PressButton(wizard, IDOK);
        EXPECT_EQ(app->WaitForExit(), 0u);

        EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, kSettingsKey), c.settingsStay);
        EXPECT_FALSE(FileExists(DefaultInstallFolder() + L"\\dirshift.exe"));
    }
}

}  // namespace
