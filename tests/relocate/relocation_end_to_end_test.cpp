// The real dirshift.exe relocating folders on the NTFS test volume. Every case
// ends either with all files in the new folder and a working junction at the old
// path, or with all files back at the old path; every file's checksum is accounted
// for exactly once, and the junction's bytes are read back from Linux.
#include <gtest/gtest.h>

#include "ui/app_globals.h"
#include "relocate/relocation_dialog.h"
#include "junction/junction.h"
#include "resources/resource.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/host_view.h"
#include "tests/driver/test_volumes.h"
#include "tests/driver/ui_thread.h"
#include "tests/relocate/file_tree.h"
#include "tests/relocate/relocation_session.h"

namespace {

using namespace relocation_testing;
using namespace testing_driver;

constexpr wchar_t kScanFailed[] =
    L"One or more files are in use or insufficient rights exist. This folder can not be relocated.";
constexpr wchar_t kSystemQuestion[] =
    L"One or more files have the SYSTEM attribute and may be system protected. You may need elevated rights or "
    L"permissions to continue with them, but we'll try anyway. Click Yes if you want to try anyway.";
constexpr wchar_t kSourceInUse[] =
    L"ERROR: It appears that there is either a file in use in this folder, or a permission issue exist. This folder "
    L"can not be moved.";

std::wstring CompletedText(const std::wstring& source, const std::wstring& target) {
    return L"Successfully created the virtual folder! Be WARNED that if you delete files from the virtual folder, they "
           L"will be deleted from the backing folder too. The folders are in-sync. If you want to remove the virtual "
           L"link, use this utility for safety.\n\n" +
           source + L"\n ->\n" + target +
           L"\n\nREMEMBER: Deleting files from EITHER folder will delete BOTH instances since they are 'linked'";
}

std::wstring Drive(const wchar_t* letter) { return letter; }

// The tree of the main cases: nested folders, a hidden file and folder, a
// read-only folder, and content large enough to span several reads.
std::vector<TreeFile> UserTree() {
    return {
        {L"readme.txt", "top level"},
        {L"docs\\letter.doc", std::string(100000, 'L')},
        {L"docs\\2024\\q1\\report.xls", "report"},
        {L"docs\\2024\\q2\\empty.txt", ""},
        {L"hidden.dat", "hidden file", FILE_ATTRIBUTE_HIDDEN},
        {L".config\\settings.ini", "[a]\nb=1"},
        {L"locked\\inside.txt", "in a read-only folder"},
    };
}

void MakeReadOnlyFolder(const std::wstring& folder) {
    ::SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_READONLY);
}

// State (a): everything in the destination, the old path a junction to it on disk,
// and the files reachable through the old path.
void ExpectRelocated(const std::wstring& source, const std::wstring& target, const TreeSnapshot& expected) {
    EXPECT_EQ(SnapshotTree(target), expected) << "destination";
    const auto onDisk = OnDiskJunctionTarget(source);
    ASSERT_TRUE(onDisk.has_value()) << "the old path carries no mount point on disk";
    EXPECT_EQ(*onDisk, L"\\??\\" + FullPath(target));
    EXPECT_EQ(HostTypeOf(source), HostType::Symlink) << "ntfs-3g shows a junction as a symbolic link";
    const DWORD attributes = ::GetFileAttributesW(source.c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(SnapshotTree(source), expected) << "through the old path";
}

// State (b): everything back in the source, nothing of it left in the destination.
void ExpectUnchanged(const std::wstring& source, const TreeSnapshot& before) {
    EXPECT_EQ(SnapshotTree(source), before);
    EXPECT_FALSE(OnDiskJunctionTarget(source).has_value());
    EXPECT_EQ(HostTypeOf(source), HostType::Directory);
}

class RelocationEndToEnd : public ::testing::Test {
protected:
    // The destination goes last, so a junction never outlives its target.
    ScratchFolder targetParent_{Drive(kSecondDrive)};
    ScratchFolder sourceParent_{Drive(kNtfsDrive)};
    std::wstring source_ = sourceParent_ / L"Games";
    std::wstring target_ = targetParent_ / L"Games moved";
};

TEST_F(RelocationEndToEnd, MovesTheTreeAndLeavesAJunctionOnDisk) {
    MakeTree(source_, UserTree());
    MakeReadOnlyFolder(source_ + L"\\docs\\2024");
    MakeReadOnlyFolder(source_);
    const TreeSnapshot before = SnapshotTree(source_);
    ASSERT_EQ(before.size(), 7u);

    RelocationSession session(source_, target_);
    ASSERT_TRUE(session.started());
    session.PressOk();
    const auto finalText = session.Answer(IDOK);
    ASSERT_TRUE(finalText.has_value());
    EXPECT_EQ(*finalText, CompletedText(source_, target_));
    EXPECT_EQ(session.app().WaitForExit(20000), 0u);

    ExpectRelocated(source_, target_, before);
    EXPECT_FALSE(PathExists(source_ + L"_abc_in_use_test"));
}

TEST_F(RelocationEndToEnd, SystemFilesAskFirstAndNoChangesNothing) {
    std::vector<TreeFile> tree = UserTree();
    tree.push_back({L"boot\\bootstat.dat", "system", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN});
    MakeTree(source_, tree);
    ASSERT_TRUE(::GetFileAttributesW((source_ + L"\\boot\\bootstat.dat").c_str()) & FILE_ATTRIBUTE_SYSTEM);
    const TreeSnapshot before = SnapshotTree(source_);

    RelocationSession session(source_, target_);
    ASSERT_TRUE(session.started());
    // No, then Cancel: nothing happens and nothing more is said.
    for (int answer : {IDNO, IDCANCEL}) {
        session.PressOk();
        EXPECT_EQ(session.Answer(answer), std::optional<std::wstring>(kSystemQuestion));
        EXPECT_TRUE(session.NoBoxWithin(1500));
        ExpectUnchanged(source_, before);
        EXPECT_FALSE(PathExists(target_));
    }
    // Yes, in the same dialog: the relocation goes through.
    session.PressOk();
    EXPECT_EQ(session.Answer(IDYES), std::optional<std::wstring>(kSystemQuestion));
    EXPECT_EQ(session.Answer(IDOK), std::optional<std::wstring>(CompletedText(source_, target_)));
    EXPECT_EQ(session.app().WaitForExit(20000), 0u);
    ExpectRelocated(source_, target_, before);
}

TEST_F(RelocationEndToEnd, DestinationThatHoldsFilesKeepsThem) {
    MakeTree(source_, UserTree());
    MakeTree(target_, {{L"already here.txt", "own"}, {L"own folder\\x.txt", "own x"}});
    const TreeSnapshot expected = Union(SnapshotTree(source_), SnapshotTree(target_));

    RelocationSession session(source_, target_);
    ASSERT_TRUE(session.started());
    session.PressOk();
    EXPECT_EQ(session.Answer(IDOK), std::optional<std::wstring>(CompletedText(source_, target_)));
    EXPECT_EQ(session.app().WaitForExit(20000), 0u);
    ExpectRelocated(source_, target_, expected);
}

TEST_F(RelocationEndToEnd, FileHeldOpenWithoutSharingIsRefused) {
    MakeTree(source_, UserTree());
    const TreeSnapshot before = SnapshotTree(source_);
    const std::wstring held = source_ + L"\\docs\\2024\\q1\\report.xls";
    HANDLE file = ::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);

    RelocationSession session(source_, target_);
    ASSERT_TRUE(session.started());
    session.PressOk();
    EXPECT_EQ(session.Answer(IDOK), std::optional<std::wstring>(kScanFailed));
    EXPECT_EQ(DialogStatusText(session.dialog()), held) << "the file that stopped the scan";
    ::CloseHandle(file);
    EXPECT_EQ(session.Cancel(), 2u);
    ExpectUnchanged(source_, before);
    EXPECT_FALSE(PathExists(target_));
}

TEST_F(RelocationEndToEnd, ReadOnlyFileEndsMovedOrRefusedWithNothingLost) {
    MakeTree(source_, UserTree());
    WriteTextFile(source_ + L"\\locked\\ro.txt", "read-only");
    ::SetFileAttributesW((source_ + L"\\locked\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    const bool readOnlyStuck = ::GetFileAttributesW((source_ + L"\\locked\\ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY;
    const TreeSnapshot before = SnapshotTree(source_);

    RelocationSession session(source_, target_);
    ASSERT_TRUE(session.started());
    session.PressOk();
    const auto text = session.Answer(IDOK);
    ASSERT_TRUE(text.has_value());
    if (*text == kScanFailed) {
        // Where the attribute holds for the program (Windows, or Wine as an ordinary user).
        EXPECT_EQ(session.Cancel(), 2u);
        ExpectUnchanged(source_, before);
    } else {
        // Wine run as root opens read-only files for writing, and this ntfs-3g mount
        // does not even keep the attribute: then the move goes through whole.
        EXPECT_FALSE(readOnlyStuck) << "a read-only file passed the scan";
        EXPECT_EQ(*text, CompletedText(source_, target_));
        EXPECT_EQ(session.app().WaitForExit(20000), 0u);
        ExpectRelocated(source_, target_, before);
    }
}

// Between two Unix file systems Wine's shell moves the files, leaves the folders
// behind and still reports success; the files must all come back, and what the
// destination held before must stay where it was.
// Between file systems the files are copied, checked, and the source deleted
// last: the destination ends with the source's files beside its own, each with
// its attributes and time, and nothing is left beside the old path.
TEST_F(RelocationEndToEnd, MovesBetweenFileSystemsKeepingAttributesAndTimes) {
    ScratchFolder otherVolume(Drive(kPlainDrive));
    const std::wstring target = otherVolume / L"Games moved";
    MakeTree(source_, UserTree());
    MakeReadOnlyFolder(source_ + L"\\docs\\2024");
    MakeTree(target, {{L"own.txt", "own"}, {L"own folder\\x.txt", "own x"}});
    const TreeSnapshot before = SnapshotTree(source_);
    const TreeDetails detailsBefore = DetailsOfTree(source_);
    const TreeSnapshot targetBefore = SnapshotTree(target);

    RelocationSession session(source_, target);
    ASSERT_TRUE(session.started());
    session.PressOk();
    EXPECT_EQ(session.Answer(IDOK), std::optional<std::wstring>(CompletedText(source_, target)));
    EXPECT_EQ(session.app().WaitForExit(20000), 0u);

    ExpectRelocated(source_, target, Union(before, targetBefore));
    const TreeDetails detailsAfter = DetailsOfTree(target);
    for (const auto& [name, details] : detailsBefore) {
        const auto copied = detailsAfter.find(name);
        ASSERT_NE(copied, detailsAfter.end()) << std::string(name.begin(), name.end());
        EXPECT_EQ(copied->second, details) << std::string(name.begin(), name.end());
    }
    EXPECT_FALSE(PathExists(source_ + L".moved-by-dirshift")) << "the original is deleted once its copy is proven";
}

// A file more than 300 characters deep, which only the copy between drives can
// take: moved to T: by the program, then moved back with "/restore".
TEST_F(RelocationEndToEnd, APathLongerThanThreeHundredCharactersIsMovedAndMovedBack) {
    ScratchFolder otherVolume(Drive(kPlainDrive));
    const std::wstring target = otherVolume / L"Games moved";
    MakeLongTree(source_);
    const std::vector<std::wstring> before = LongTreeFiles(source_);
    ASSERT_EQ(before.size(), 6u);

    RelocationSession session(source_, target);
    ASSERT_TRUE(session.started());
    session.PressOk();
    EXPECT_EQ(session.Answer(IDOK), std::optional<std::wstring>(CompletedText(source_, target)));
    EXPECT_EQ(session.app().WaitForExit(20000), 0u);
    EXPECT_EQ(LongTreeFiles(target), before);
    EXPECT_EQ(OnDiskJunctionTarget(source_), std::optional<std::wstring>(L"\\??\\" + FullPath(target)));

    auto app = AppProcess::StartDirshift(L"\"" + source_ + L"\" /restore");
    ASSERT_NE(app, nullptr);
    HWND question = app->WaitForDialog(L"Dirshift", 60000);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(BoxText(question).rfind(L"Move the files back and remove the junction?", 0), 0u);
    PressButton(question, IDYES);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(question) || !::IsWindowVisible(question); }, 10000));
    HWND done = app->WaitForDialog(L"Dirshift", 60000);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(BoxText(done).rfind(L"The files are back in", 0), 0u) << ::testing::PrintToString(BoxText(done));
    PressButton(done, IDOK);
    EXPECT_EQ(app->WaitForExit(30000), std::optional<DWORD>(0u));
    EXPECT_FALSE(OnDiskJunctionTarget(source_).has_value());
    EXPECT_EQ(LongTreeFiles(source_), before);
    EXPECT_FALSE(PathExists(target));
}

TEST_F(RelocationEndToEnd, FolderThatIsAProcessCurrentDirectoryIsNotMoved) {
    MakeTree(source_, UserTree());
    const TreeSnapshot before = SnapshotTree(source_);

    RelocationSession session(source_, target_, source_);  // the program's own current folder
    ASSERT_TRUE(session.started());
    session.PressOk();
    EXPECT_EQ(session.Answer(IDOK), std::optional<std::wstring>(kSourceInUse));
    EXPECT_EQ(session.Cancel(), 2u);
    ExpectUnchanged(source_, before);
    EXPECT_FALSE(PathExists(source_ + L"_abc_in_use_test"));
    EXPECT_FALSE(PathExists(target_));
}

// Requests refused before anything changes, each with its message.
TEST_F(RelocationEndToEnd, RequestsThatCannotEndWellChangeNothing) {
    MakeTree(source_, UserTree());
    ScratchFolder plain(Drive(kPlainDrive));
    const std::wstring plainSource = plain / L"Data";
    MakeTree(plainSource, {{L"a.txt", "a"}});
    const TreeSnapshot before = SnapshotTree(source_);
    // Fits the field, but its probe name would not fit a path.
    const std::wstring longSource = sourceParent_ / std::wstring(250 - sourceParent_.path().size() - 1, L's');
    const std::wstring tooLong(300, L'x');
    const std::wstring probeName = source_ + L"_abc_in_use_test";
    MakeTree(probeName, {{L"someone's.txt", "not ours"}});

    const struct {
        const char* name;
        std::wstring source;
        std::wstring target;
        std::wstring message;
    } cases[] = {
        {"no source", L"", target_, L"Please supply a source directory name."},
        {"blank source and no target", L"   ", L"", L"Please supply a source directory name."},
        {"no target", source_, L" \\", L"Please supply a destination directory name."},
        {"same folder", source_, source_ + L"\\", L"The source and the destination are the same folder. Please "
                                                  L"choose a destination outside the source folder. No changes were "
                                                  L"made."},
        {"same folder, other case", source_, sourceParent_ / L"GAMES", L"The source and the destination are the same "
                                                                       L"folder. Please choose a destination outside "
                                                                       L"the source folder. No changes were made."},
        {"destination inside", source_, source_ + L"\\docs\\new", L"The destination folder lies inside the source "
                                                                  L"folder. Please choose a destination outside the "
                                                                  L"source folder. No changes were made."},
        {"destination contains", source_, sourceParent_.path(), L"The source folder lies inside the destination "
                                                                L"folder. Please choose a destination that does not "
                                                                L"contain the source folder. No changes were made."},
        {"source without reparse support", plainSource, target_,
         L"The source folder is on a drive that does not support junctions (reparse points), for example a drive "
         L"formatted with FAT32. This folder can not be relocated. No changes were made."},
        {"source longer than the field", tooLong, target_,
         L"The path of the source folder is too long. Dirshift can relocate a folder whose full path has at most 243 "
         L"characters. No changes were made."},
        {"source whose probe name would not fit", longSource, target_,
         L"The path of the source folder is too long. Dirshift can relocate a folder whose full path has at most 243 "
         L"characters. No changes were made."},
        {"destination longer than the field", source_, tooLong,
         L"The path of the destination folder is too long. Dirshift accepts a destination whose full path has at "
         L"most 259 characters. No changes were made."},
        // Checked once the scan has passed, before the folder is renamed for the probe.
        {"probe name taken", source_, target_,
         L"ERROR: To test whether the source folder is in use, Dirshift renames it for a moment to\n" + probeName +
             L"\nbut something with that name already exists. Please rename or remove it first. No changes were "
             L"made."},
    };
    RelocationSession session(L"", L"");
    ASSERT_TRUE(session.started());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetControlText(session.dialog(), IDC_SOURCE_PATH, c.source);
        SetControlText(session.dialog(), IDC_TARGET_PATH, c.target);
        session.PressOk();
        EXPECT_EQ(session.Answer(IDOK, 20000), std::optional<std::wstring>(c.message));
        EXPECT_TRUE(session.NoBoxWithin(500));
        EXPECT_EQ(ControlText(session.dialog(), IDC_SOURCE_PATH), c.source) << "the fields stay as typed";
    }
    EXPECT_EQ(session.Cancel(), 2u);
    ExpectUnchanged(source_, before);
    EXPECT_EQ(SnapshotTree(plainSource).size(), 1u);
    EXPECT_FALSE(PathExists(target_));
    EXPECT_FALSE(PathExists(source_ + L"\\docs\\new"));
    EXPECT_EQ(SnapshotTree(probeName).size(), 1u);
}

// Destinations that are no plain local folder, sources that are links, and a
// drive without room: each refused before anything changes, in words that say so.
TEST_F(RelocationEndToEnd, DestinationsAndSourcesThatCannotTakeTheMoveAreRefused) {
    MakeTree(source_, UserTree());
    MakeTree(targetParent_.path(), {{L"Data", "the user's own file"}, {L"real\\kept.txt", "kept"}});
    const std::wstring link = targetParent_ / L"link";
    const std::wstring linkedSource = sourceParent_ / L"linked";
    ASSERT_TRUE(CreateJunction(link.c_str(), (targetParent_ / L"real").c_str()));
    ASSERT_TRUE(CreateJunction(linkedSource.c_str(), source_.c_str()));
    WriteTextFile(source_ + L"\\big.bin", std::string(1200000, 'b'));
    const TreeSnapshot before = SnapshotTree(source_);
    const TreeSnapshot targetsBefore = SnapshotTree(targetParent_.path());
    const std::wstring small = Drive(kSmallDrive) + L"\\Games";
    ULARGE_INTEGER free;
    ASSERT_TRUE(::GetDiskFreeSpaceExW(L"S:\\", &free, nullptr, nullptr));
    std::wstring freeText = std::to_wstring(free.QuadPart);
    for (size_t at = freeText.size(); at > 3; at -= 3) freeText.insert(at - 3, 1, L',');

    // A tree that other tools made deeper than the shell can move.
    const std::wstring deepSource = sourceParent_ / L"Deep";
    const std::wstring fits = deepSource + L"\\" + std::wstring(250 - FullPath(deepSource).size() - 1, L'd');
    const std::wstring deepFolder = fits + L"\\" + std::wstring(20, L'e');
    MakeTree(deepSource, {{L"top.txt", "top"}});
    ASSERT_TRUE(::CreateDirectoryW(fits.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + FullPath(deepFolder)).c_str(), nullptr));

    const struct {
        const char* name;
        std::wstring source;
        std::wstring target;
        std::wstring message;
    } cases[] = {
        {"a path inside longer than the shell can move", deepSource, target_,
         L"The source folder holds\n" + deepFolder +
             L"\nwhose full path is longer than 259 characters. The Windows shell can not move such a path. Please "
             L"shorten it first. No changes were made."},
        {"destination is a file", source_, targetParent_ / L"Data",
         L"The destination\n" + (targetParent_ / L"Data") +
             L"\nis a file, not a folder. Please choose a folder that does not exist yet or an existing folder. No "
             L"changes were made."},
        {"destination is a junction", source_, link,
         L"The destination\n" + link +
             L"\nis a junction or a symbolic link to another folder. Please choose a plain folder. No changes were "
             L"made."},
        {"destination is a device", source_, targetParent_ / L"CON",
         L"The destination\n" + (targetParent_ / L"CON") +
             L"\nnames a device (such as CON, NUL, AUX or COM1), not a folder. Please choose another name. No changes "
             L"were made."},
        {"destination is a network path", source_, L"\\\\server\\share\\Games",
         L"The destination\n\\\\server\\share\\Games\nis on a network drive. A junction can only point to a folder on "
         L"a local drive. No changes were made."},
        {"source is a junction", linkedSource, target_,
         L"The source folder\n" + linkedSource +
             L"\nis itself a junction or a symbolic link: its files live in another folder. Dirshift relocates only "
             L"plain folders. No changes were made."},
        {"destination drive too small", source_, small,
         L"The files to move take 1,300,054 bytes, but the drive of the destination\n" + small + L"\nhas only " +
             freeText + L" bytes free. No changes were made."},
    };
    RelocationSession session(L"", L"");
    ASSERT_TRUE(session.started());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetControlText(session.dialog(), IDC_SOURCE_PATH, c.source);
        SetControlText(session.dialog(), IDC_TARGET_PATH, c.target);
        session.PressOk();
        EXPECT_EQ(session.Answer(IDOK, 20000), std::optional<std::wstring>(c.message));
        EXPECT_TRUE(session.NoBoxWithin(500));
    }
    EXPECT_EQ(session.Cancel(), 2u);
    ExpectUnchanged(source_, before);
    EXPECT_EQ(SnapshotTree(targetParent_.path()), targetsBefore);
    EXPECT_EQ(OnDiskJunctionTarget(linkedSource), L"\\??\\" + FullPath(source_));
    EXPECT_FALSE(PathExists(target_));
    EXPECT_FALSE(PathExists(small));
    EXPECT_TRUE(RemoveJunction(link.c_str()));
    EXPECT_TRUE(RemoveJunction(linkedSource.c_str()));
    EXPECT_TRUE(PathExists(L"\\\\?\\" + FullPath(deepFolder)));
    ::RemoveDirectoryW((L"\\\\?\\" + FullPath(deepFolder)).c_str());
}

// Links travel as links: a destination drive that cannot hold them is refused
// before any file is copied there.
TEST_F(RelocationEndToEnd, LinksNeedADestinationThatCanHoldThem) {
    ScratchFolder outside(Drive(kNtfsDrive), L"outside");
    ScratchFolder otherVolume(Drive(kPlainDrive));
    const std::wstring target = otherVolume / L"Games moved";
    MakeTree(outside.path(), {{L"theirs.txt", "not part of the move"}});
    MakeTree(source_, UserTree());
    const std::wstring outward = source_ + L"\\docs\\Application Data";
    ASSERT_TRUE(CreateJunction(outward.c_str(), outside.path().c_str()));
    const auto bytes = ReadNtfsReparseData(outward);
    ASSERT_TRUE(bytes.has_value());
    const TreeSnapshot before = SnapshotTree(source_);

    RelocationSession session(source_, target);
    ASSERT_TRUE(session.started());
    session.PressOk();
    EXPECT_EQ(session.Answer(IDOK),
              std::optional<std::wstring>(L"The source folder holds junctions or symbolic links, for example\n" +
                                          outward + L"\nbut the drive of the destination\n" + target +
                                          L"\ncan not hold them (it does not support reparse points, for example a "
                                          L"drive formatted with FAT32 or exFAT). No changes were made."));
    EXPECT_EQ(session.Cancel(), 2u);

    ExpectUnchanged(source_, before);
    EXPECT_EQ(ReadNtfsReparseData(outward), bytes);
    EXPECT_FALSE(PathExists(target));
    EXPECT_TRUE(RemoveJunction(outward.c_str()));
}

// Links inside the folder (one the program made, pointing out of the tree, and one
// written from Linux, pointing into it) travel as links, and a drive root typed as
// the destination stays the root in the junction.
TEST_F(RelocationEndToEnd, LinksTravelAsLinksToADriveRoot) {
    ScratchFolder outside(Drive(kNtfsDrive), L"outside");
    MakeTree(outside.path(), {{L"theirs.txt", "not part of the move"}});
    MakeTree(source_, UserTree());
    const std::wstring outward = source_ + L"\\Application Data";
    const std::wstring inward = source_ + L"\\docs\\current";
    ASSERT_TRUE(CreateJunction(outward.c_str(), outside.path().c_str()));
    ASSERT_TRUE(::CreateDirectoryW(inward.c_str(), nullptr));
    ASSERT_EQ(WriteNtfsReparseData(inward, MountPointData(L"\\??\\" + FullPath(source_ + L"\\docs\\2024"),
                                                          FullPath(source_ + L"\\docs\\2024"), true)),
              0);
    for (int attempt = 0; attempt < 20 && HostTypeOf(inward) != HostType::Symlink; ++attempt) ::Sleep(50);
    const auto outwardBytes = ReadNtfsReparseData(outward);
    ASSERT_TRUE(outwardBytes.has_value());
    const TreeSnapshot before = SnapshotTree(source_);
    const TreeSnapshot outsideBefore = SnapshotTree(outside.path());
    ASSERT_EQ(before.size(), 7u + 1u + 2u) << "own files, and through the links";
    const std::wstring root = Drive(kRootDrive) + L"\\";

    RelocationSession session(source_, root);
    ASSERT_TRUE(session.started());
    session.PressOk();
    EXPECT_EQ(session.Answer(IDOK), std::optional<std::wstring>(CompletedText(source_, root)));
    EXPECT_EQ(session.app().WaitForExit(20000), 0u);

    EXPECT_EQ(OnDiskJunctionTarget(source_), std::optional<std::wstring>(L"\\??\\" + root));
    EXPECT_EQ(ReadNtfsReparseData(root + L"Application Data"), outwardBytes) << "byte for byte";
    EXPECT_EQ(OnDiskJunctionTarget(root + L"docs\\current"), L"\\??\\" + root + L"docs\\2024") << "re-pointed";
    EXPECT_EQ(SnapshotTree(root), before);
    EXPECT_EQ(SnapshotTree(source_), before) << "through the old path";
    EXPECT_EQ(SnapshotTree(outside.path()), outsideBefore);

    // The root drive is shared by the tests: leave it empty. The links go first: a
    // junction whose target is gone is invisible to Wine and would keep its folder.
    EXPECT_TRUE(RemoveJunction(source_.c_str()));
    EXPECT_TRUE(RemoveJunction((root + L"docs\\current").c_str()));
    EXPECT_TRUE(RemoveJunction((root + L"Application Data").c_str()));
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE listing = ::FindFirstFileW((root + L"*").c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..") names.push_back(root + name);
        } while (::FindNextFileW(listing, &entry));
        ::FindClose(listing);
    }
    for (const auto& path : names) {
        if (!::DeleteFileW(path.c_str())) RemoveTree(path);
    }
}

// A message box belongs to the dialog: while one is open, an OK that still reaches
// the dialog starts nothing.
TEST_F(RelocationEndToEnd, ASecondOkWhileABoxIsOpenStartsNothing) {
    MakeTree(source_, UserTree());
    MakeTree(targetParent_.path(), {{L"Data", "the user's own file"}});
    const TreeSnapshot before = SnapshotTree(source_);

    RelocationSession session(source_, targetParent_ / L"Data");
    ASSERT_TRUE(session.started());
    session.PressOk();
    HWND box = session.app().WaitForDialog(L"Dirshift", 20000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(::GetWindow(box, GW_OWNER), session.dialog());
    EXPECT_FALSE(::IsWindowEnabled(session.dialog()));
    SaveScreenshot(L"relocation-destination-is-a-file");
    SetControlText(session.dialog(), IDC_TARGET_PATH, target_);
    ::PostMessageW(session.dialog(), WM_COMMAND, IDOK, 0);
    ::Sleep(1500);
    EXPECT_EQ(session.Answer(IDOK), std::optional<std::wstring>(L"The destination\n" + (targetParent_ / L"Data") +
                                                                L"\nis a file, not a folder. Please choose a folder "
                                                                L"that does not exist yet or an existing folder. No "
                                                                L"changes were made."));
    EXPECT_TRUE(session.NoBoxWithin(1500)) << "the second OK started a relocation";
    EXPECT_EQ(session.Cancel(), 2u);
    ExpectUnchanged(source_, before);
    EXPECT_FALSE(PathExists(target_));
}

}  // namespace

namespace {

using namespace relocation_testing;
using namespace testing_driver;

// Each try starts and joins a worker; none may leave a handle or a thread behind.
TEST(RelocationRepeatedTries, LeaveNoHandleBehind) {
    InitAppGlobals();
    ScratchFolder parent{kNtfsDrive};
    const std::wstring source = parent / L"Data";
    MakeTree(source, {{L"a.txt", "a"}, {L"sub\\b.txt", "b"}});
    HANDLE held = ::CreateFileW((source + L"\\sub\\b.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    const std::wstring startupPath = source;
    UiThreadCall run([&] {
        return ::DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_RELOCATE), nullptr, RelocationDlgProc,
                                 reinterpret_cast<LPARAM>(startupPath.c_str()));
    });
    HWND dialog = run.WaitForWindow();
    ASSERT_NE(dialog, nullptr);
    SetControlText(dialog, IDC_TARGET_PATH, parent / L"Data moved");

    auto tryOnce = [&] {
        PressButton(dialog, IDOK);
        HWND box = nullptr;
        WaitUntil(
            [&] {
                for (HWND window : ThreadWindows(run.threadId()))
                    if (window != dialog && ::IsWindowVisible(window) && ClassNameOf(window) == L"#32770") box = window;
                return box != nullptr;
            },
            30000);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(BoxText(box), kScanFailed);
        PressButton(box, IDOK);
        WaitUntil([&] { return !::IsWindow(box); }, 10000);
    };
    tryOnce();  // the first try loads what later tries reuse
    DWORD handlesBefore = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &handlesBefore);
    for (int i = 0; i < 5; ++i) tryOnce();
    DWORD handlesAfter = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &handlesAfter);
    EXPECT_LE(handlesAfter, handlesBefore + 2) << "before " << handlesBefore << ", after " << handlesAfter;
    EXPECT_EQ(DialogStatusText(dialog), source + L"\\sub\\b.txt");

    CloseWithCloseBox(dialog);
    ASSERT_TRUE(run.WaitForReturn());
    EXPECT_EQ(run.result(), IDCANCEL);
    ::CloseHandle(held);
}

}  // namespace
