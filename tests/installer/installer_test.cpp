// The built installer under Wine, run silently as a script or an administrator
// would: what it puts on the machine, what its uninstaller takes away (and what it
// must leave), and upgrades. Every test starts from a machine without Dirshift.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "junction/junction.h"
#include "tests/driver/app_process.h"
#include "tests/driver/debug_capture.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/host_view.h"
#include "tests/driver/test_volumes.h"
#include "tests/installer/installer_harness.h"
#include "version.h"

namespace {

using namespace installer_testing;

class Installer : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveEveryInstallation();
        ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) << "a clean machine to start from";
        ASSERT_FALSE(FolderExists(DefaultInstallFolder()));
    }
    void TearDown() override { RemoveEveryInstallation(); }

    static std::wstring InstalledExe(const std::wstring& folder = DefaultInstallFolder()) {
        return folder + L"\\dirshift.exe";
    }
    static std::wstring Uninstaller(const std::wstring& folder = DefaultInstallFolder()) {
        return folder + L"\\uninstall.exe";
    }
};

// Everything the installer is responsible for, as one text to compare before and after.
std::wstring MachineState(const std::wstring& extraFolder = L"") {
    std::wstring state;
    for (const wchar_t* key : {L"Software\\Classes\\Directory", L"Software\\Classes\\Drive", kUninstallKey})
        state += DumpKey(HKEY_LOCAL_MACHINE, key);
    for (const auto& name : SubkeyNames(HKEY_LOCAL_MACHINE, kUninstallParentKey)) state += L"uninstall entry " + name + L"\n";
    state += DumpKey(HKEY_CURRENT_USER, kSettingsKey);
    state += DumpFolder(DefaultInstallFolder());
    if (!extraFolder.empty()) state += DumpFolder(extraFolder);
    return state;
}

TEST_F(Installer, SilentInstallPutsTheProgramAndEveryRegistryValueInPlace) {
    const std::wstring userSettings = DumpKey(HKEY_CURRENT_USER, kSettingsKey);
    ASSERT_EQ(RunSetup(L"/S"), 0u);

    const std::wstring folder = DefaultInstallFolder();
    const std::wstring exe = InstalledExe();
    const auto built = ReadWholeFile(testing_driver::DirshiftExePath());
    ASSERT_FALSE(built.empty());
    EXPECT_EQ(ReadWholeFile(exe), built) << "the installed program is the built one, byte for byte";
    EXPECT_TRUE(FileExists(Uninstaller()));

    struct StringValue {
        const wchar_t* key;
        const wchar_t* value;
        std::wstring expected;
    };
    const StringValue strings[] = {
        {kUninstallKey, L"DisplayName", L"Dirshift"},
        {kUninstallKey, L"DisplayVersion", DIRSHIFT_VERSION_WTEXT},
        {kUninstallKey, L"Publisher", L"Dirshift"},
        {kUninstallKey, L"DisplayIcon", exe + L",0"},
        {kUninstallKey, L"InstallLocation", folder},
        {kUninstallKey, L"UninstallString", L"\"" + Uninstaller() + L"\""},
        {kUninstallKey, L"QuietUninstallString", L"\"" + Uninstaller() + L"\" /S"},
        // The labels end in one ellipsis character (U+2026), not three dots or mojibake.
        {kRelocateVerbKey, L"", L"Move to another drive and leave a junction\u2026"},
        {kRelocateVerbKey, L"Icon", exe + L",0"},
        {kFindVerbKey, L"", L"Find and remove junctions here\u2026"},
        {kFindVerbKey, L"Icon", exe + L",0"},
        {kDriveFindVerbKey, L"", L"Find and remove junctions here\u2026"},
        {kRestoreVerbKey, L"", L"Move back and remove junction\u2026"},
        {kRestoreVerbKey, L"Icon", exe + L",0"},
        {kRestoreVerbKey, L"MultiSelectModel", L"Single"},
        {kDriveFindVerbKey, L"Icon", exe + L",0"},
        // One selected item at a time: never a burst of elevated copies.
        {kRelocateVerbKey, L"MultiSelectModel", L"Single"},
        {kFindVerbKey, L"MultiSelectModel", L"Single"},
        {kDriveFindVerbKey, L"MultiSelectModel", L"Single"},
    };
    for (const auto& s : strings) {
        SCOPED_TRACE(std::wstring(s.key) + L" : " + s.value);
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, s.key, s.value), s.expected);
    }
    // The commands themselves are run as Explorer runs them in the context-menu tests;
    // here only that each names the installed program and the face it opens.
    const auto relocate = ReadString(HKEY_LOCAL_MACHINE, std::wstring(kRelocateVerbKey) + L"\\command", L"");
    const auto find = ReadString(HKEY_LOCAL_MACHINE, std::wstring(kFindVerbKey) + L"\\command", L"");
    const auto driveFind = ReadString(HKEY_LOCAL_MACHINE, std::wstring(kDriveFindVerbKey) + L"\\command", L"");
    const auto restore = ReadString(HKEY_LOCAL_MACHINE, std::wstring(kRestoreVerbKey) + L"\\command", L"");
    ASSERT_TRUE(relocate && find && driveFind && restore);
    EXPECT_EQ(*restore, L"\"" + exe + L"\" \"%1\" /restore");
    for (const auto& command : {*relocate, *find, *driveFind, *restore}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(command.rfind(L"\"" + exe + L"\" ", 0), 0u) << "starts with the installed program, quoted";
        EXPECT_NE(command.find(L"%1"), std::wstring::npos);
    }
    EXPECT_NE(relocate->find(L"/create"), std::wstring::npos);
    EXPECT_EQ(find->find(L"/create"), std::wstring::npos);
    EXPECT_EQ(driveFind->find(L"/create"), std::wstring::npos) << "a drive root is never relocated";

    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoModify"), 1u);
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoRepair"), 1u);
    // Add/Remove Programs shows the size in KB: the program and its uninstaller.
    const size_t installedBytes = built.size() + ReadWholeFile(Uninstaller()).size();
    const auto size = ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize");
    ASSERT_TRUE(size.has_value());
    EXPECT_GE(*size + 1, installedBytes / 1024);
    EXPECT_LE(*size, installedBytes / 1024 + 1);

    EXPECT_EQ(DumpKey(HKEY_CURRENT_USER, kSettingsKey), userSettings) << "the installer leaves user settings alone";
}

// What the user and other programs add while Dirshift is installed: none of it is
// the uninstaller's to take away.
class UninstallWithUserChanges : public Installer {
protected:
    void SetUp() override {
        Installer::SetUp();
        RemoveUserChanges();  // of an earlier run that stopped half-way
    }
    void TearDown() override {
        RemoveUserChanges();
        Installer::TearDown();
    }

    void MakeUserChanges() {
        ASSERT_TRUE(::CreateDirectoryW(userFolder_.c_str(), nullptr));
        ASSERT_TRUE(WriteTextFile(userFolder_ + L"\\kept.txt", "the user's file"));
        ASSERT_TRUE(WriteTextFile(userNote_, "saved here by the user"));
        ASSERT_TRUE(WriteString(HKEY_LOCAL_MACHINE, otherVerb_, L"", L"Other tool"));
        ASSERT_TRUE(WriteString(HKEY_CURRENT_USER, kSettingsKey, kMark, L"1"));
        // A folder the user relocated with Dirshift: a junction on a real NTFS volume.
        ASSERT_TRUE(::CreateDirectoryW(moved_.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(backing_.c_str(), nullptr));
        ASSERT_TRUE(WriteTextFile(backing_ + L"\\save.dat", "a saved game"));
        testing_driver::DebugLineCapture capture;
        const bool made = ::CreateJunction(link_.c_str(), backing_.c_str());
        std::wstring lines;
        for (const auto& line : capture.Lines()) lines += line + L"\n";
        ASSERT_TRUE(made) << std::string(lines.begin(), lines.end());
    }

    void RemoveUserChanges() {
        DeleteFolderTree(userFolder_);
        ::DeleteFileW(userNote_.c_str());
        ::RemoveDirectoryW(DefaultInstallFolder().c_str());
        static_cast<void>(::RemoveJunction(link_.c_str()));  // absent when a test stopped early
        DeleteFolderTree(moved_);
        DeleteTree(HKEY_LOCAL_MACHINE, otherVerb_);
        // On Wine the folder class starts out missing: the other verb made it.
        for (const wchar_t* key : {kFolderShellKey, L"Software\\Classes\\Directory"}) {
            if (SubkeyNames(HKEY_LOCAL_MACHINE, key).empty() && DumpKey(HKEY_LOCAL_MACHINE, key).find(L"] ") == std::wstring::npos)
                DeleteTree(HKEY_LOCAL_MACHINE, key);
        }
        DeleteValue(HKEY_CURRENT_USER, kSettingsKey, kMark);
    }

    static constexpr wchar_t kMark[] = L"UninstallTestMark";
    const std::wstring userFolder_ = L"C:\\users\\Public\\Dirshift uninstall test";
    const std::wstring userNote_ = DefaultInstallFolder() + L"\\my notes.txt";
    const std::wstring otherVerb_ = std::wstring(kFolderShellKey) + L"\\OtherTool";
    const std::wstring moved_ = std::wstring(testing_driver::kNtfsDrive) + L"\\installer test";
    const std::wstring link_ = moved_ + L"\\Games";
    const std::wstring backing_ = moved_ + L"\\Games (moved)";
};

TEST_F(UninstallWithUserChanges, SilentUninstallRemovesExactlyWhatTheInstallAdded) {
    const std::wstring before = MachineState(userFolder_);

    ASSERT_EQ(RunSetup(L"/S"), 0u);
    ASSERT_NE(MachineState(userFolder_), before);
    MakeUserChanges();
    const auto reparseData = testing_driver::ReadNtfsReparseData(link_);
    ASSERT_TRUE(reparseData.has_value());

    ASSERT_EQ(RunQuietUninstall(), 0u);

    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(FileExists(InstalledExe()));
    EXPECT_FALSE(FileExists(Uninstaller()));
    for (const wchar_t* key : {kRelocateVerbKey, kFindVerbKey, kDriveFindVerbKey, kRestoreVerbKey})
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key)) << key;
    // What was not the installer's stays.
    EXPECT_TRUE(FileExists(userFolder_ + L"\\kept.txt"));
    EXPECT_TRUE(FileExists(userNote_)) << "a file the user saved in the program's folder";
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, otherVerb_, L""), L"Other tool");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kSettingsKey, kMark), L"1") << "silent mode keeps settings";
    // The junction is still a junction on disk, to the same folder, with the files behind it.
    EXPECT_EQ(testing_driver::ReadNtfsReparseData(link_), reparseData);
    EXPECT_EQ(ReadWholeFile(link_ + L"\\save.dat").size(), std::string("a saved game").size());

    // Without the user's own changes, the machine is as it was before the install.
    RemoveUserChanges();
    EXPECT_EQ(MachineState(userFolder_), before);
}

TEST_F(Installer, InstallingAgainLeavesOneInstallation) {
    struct UpgradeCase {
        const wchar_t* name;
        std::wstring firstFolder;   // where the first installation went ("" = the default)
        std::wstring secondFolder;  // where the second was asked to go ("" = not asked)
        std::wstring expectedFolder;
    };
    const std::wstring defaultFolder = DefaultInstallFolder();
    const std::wstring otherFolder = ProgramFilesFolder() + L"\\Dirshift Old Place";
    const UpgradeCase cases[] = {
        {L"same folder", L"", L"", defaultFolder},
        // Not asked, the upgrade goes where the first installation went.
        {L"earlier installation elsewhere, not asked", otherFolder, L"", otherFolder},
        // Asked for a new folder, the earlier copy is taken away.
        {L"moved to another folder", otherFolder, defaultFolder, defaultFolder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveEveryInstallation();
        DeleteFolderTree(otherFolder);
        const auto entriesBefore = SubkeyNames(HKEY_LOCAL_MACHINE, kUninstallParentKey).size();

        // NSIS takes /D= last and unquoted, spaces and all.
        ASSERT_EQ(RunSetup(c.firstFolder.empty() ? L"/S" : L"/S /D=" + c.firstFolder), 0u);
        ASSERT_EQ(RunSetup(c.secondFolder.empty() ? L"/S" : L"/S /D=" + c.secondFolder), 0u);

        EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE, kUninstallParentKey).size(), entriesBefore + 1);
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), c.expectedFolder);
        EXPECT_TRUE(FileExists(InstalledExe(c.expectedFolder)));
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRelocateVerbKey, L"Icon"), InstalledExe(c.expectedFolder) + L",0");
        for (const auto& folder : {defaultFolder, otherFolder}) {
            if (folder != c.expectedFolder) {
                EXPECT_FALSE(FolderExists(folder)) << "no second copy";
            }
        }
        // Exactly our verbs, once each.
        size_t ours = 0;
        for (const auto& name : SubkeyNames(HKEY_LOCAL_MACHINE, kFolderShellKey)) ours += name.rfind(L"Dirshift", 0) == 0;
        EXPECT_EQ(ours, 3u);  // relocate, find, move back

        // One uninstall takes it all away.
        ASSERT_EQ(RunQuietUninstall(), 0u);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        EXPECT_FALSE(FolderExists(c.expectedFolder));
    }
    DeleteFolderTree(otherFolder);
}

// A running program cannot be replaced or removed; the installer and uninstaller
// then fail with a non-zero exit code and leave the installation as it was,
// instead of reporting success over a half-done job.
TEST_F(Installer, RunningProgramBlocksUpgradeAndUninstallWithoutHarm) {
    ASSERT_EQ(RunSetup(L"/S"), 0u);
    // A version mark that only a completed install would overwrite.
    ASSERT_TRUE(WriteString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion", L"0.9-marker"));

    auto app = testing_driver::AppProcess::Start(InstalledExe(), L"\"" + InstalledExe() + L"\" C:\\users");
    ASSERT_NE(app, nullptr);
    ASSERT_TRUE(testing_driver::WaitUntil([&] { return !testing_driver::TopLevelWindows(app->processId()).empty(); }, 15000));
    const std::wstring stateBefore = MachineState();

    const auto setup = RunSetup(L"/S");
    ASSERT_TRUE(setup.has_value());
    EXPECT_NE(*setup, 0u) << "the upgrade reports failure";
    EXPECT_EQ(MachineState(), stateBefore) << "and changed nothing";

    // In place (_?=) the uninstaller's own exit code is the result.
    const auto uninstall = RunAndWaitForAll(L"\"" + Uninstaller() + L"\" /S _?=" + DefaultInstallFolder());
    ASSERT_TRUE(uninstall.has_value());
    EXPECT_NE(*uninstall, 0u) << "the uninstall reports failure";
    EXPECT_EQ(MachineState(), stateBefore) << "and removed nothing";

    app->Kill();
    ASSERT_EQ(RunQuietUninstall(), 0u);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
}

}  // namespace
