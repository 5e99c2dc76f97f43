// The relocation engine on its own, in this process, without a dialog: every run
// ends with all files in the destination and a junction at the old path, or with
// all files at the old path, and the observer hears exactly what the user would.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "engine/move_back.h"
#include "engine/relocation_engine.h"
#include "engine/relocation_paths.h"
#include "junction/junction.h"
#include "junction/wine_host.h"
#include "tests/driver/host_view.h"
#include "tests/driver/test_volumes.h"
#include "tests/relocate/file_tree.h"
#include "tests/relocate/recording_observer.h"
#include "tests/relocate/relocation_session.h"

namespace {

using namespace relocation_testing;
using namespace testing_driver;
using M = RelocationMessage;



RelocationResult Relocate(const std::wstring& source, const std::wstring& target, RecordingObserver& observer) {
    RelocationRequest request;
    request.source = source;
    request.target = target;
    return RunRelocation(request, observer);
}

const std::vector<TreeFile> kTree = {
    {L"readme.txt", "top"},
    {L"docs\\deep\\report.xls", std::string(70000, 'r')},
    {L"hidden.dat", "hidden", FILE_ATTRIBUTE_HIDDEN},
};

TEST(RelocationEngine, MovesEverythingAndLeavesAJunctionOnDisk) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    const std::wstring source = scratch / L"Games";
    const std::wstring target = elsewhere / L"Games";
    MakeTree(source, kTree);
    const TreeSnapshot before = SnapshotTree(source);

    RecordingObserver observer;
    // Typed as people type: a trailing separator and blanks around.
    EXPECT_EQ(Relocate(L"  " + source + L"\\", target + L" ", observer), RelocationResult::Completed);
    EXPECT_EQ(observer.heard, std::vector<M>{M::Completed});
    EXPECT_EQ(observer.lastFacts.source, source);
    EXPECT_EQ(observer.lastFacts.target, target);
    EXPECT_EQ(observer.scansEnded, 1);
    EXPECT_EQ(observer.moving, (std::vector<bool>{true, false})) << "log-off held off while files move";
    EXPECT_EQ(SnapshotTree(target), before);
    EXPECT_EQ(OnDiskJunctionTarget(source), L"\\??\\" + FullPath(target));
    EXPECT_EQ(SnapshotTree(source), before) << "through the old path";
}

TEST(RelocationEngine, RefusalsChangeNothingAndSayWhy) {
    ScratchFolder scratch(kNtfsDrive);
    const std::wstring source = scratch / L"src";
    const std::wstring taken = scratch / L"taken";
    MakeTree(source, kTree);
    MakeTree(taken, {{L"readme.txt", "the destination's own"}});
    MakeTree(scratch.path(), {{L"busy_abc_in_use_test", "a file with the probe's name"}});
    MakeTree(scratch / L"busy", {{L"a.txt", "a"}});
    const TreeSnapshot before = SnapshotTree(scratch.path());

    struct Case {
        std::wstring source;
        std::wstring target;
        RelocationMessage message;
    };
    const Case cases[] = {
        {L"", L"", M::NoSource},
        {L"   ", scratch / L"x", M::NoSource},
        {source, L"", M::NoTarget},
        {source + std::wstring(300, L'x'), scratch / L"x", M::SourceTooLong},
        {source, scratch / std::wstring(300, L'y'), M::TargetTooLong},
        {source, source + L"\\", M::SameFolder},
        {source, source + L"\\inner", M::TargetInsideSource},
        {source + L"\\docs", source, M::SourceInsideTarget},
        {std::wstring(kPlainDrive) + L"\\src", scratch / L"x", M::NoReparseSupport},
        {source, taken, M::NameClash},
        {scratch / L"busy", scratch / L"x", M::ProbeNameTaken},
    };
    for (const Case& c : cases) {
        RecordingObserver observer;
        EXPECT_EQ(Relocate(c.source, c.target, observer), RelocationResult::NotStarted) << c.source;
        EXPECT_EQ(observer.heard, std::vector<M>{c.message}) << c.source << L" -> " << c.target;
        EXPECT_TRUE(observer.moving.empty()) << "nothing moved";
    }
    EXPECT_EQ(SnapshotTree(scratch.path()), before);
    EXPECT_FALSE(PathExists(scratch / L"x"));
}

TEST(RelocationEngine, TheSystemQuestionDecidesAndNoIsFinal) {
    ScratchFolder scratch(kNtfsDrive);
    const std::wstring source = scratch / L"sys";
    const std::wstring target = scratch / L"sys moved";
    MakeTree(source, {{L"boot\\bootstat.dat", "system", FILE_ATTRIBUTE_SYSTEM}, {L"a.txt", "a"}});
    const TreeSnapshot before = SnapshotTree(source);

    RecordingObserver declining(false);
    EXPECT_EQ(Relocate(source, target, declining), RelocationResult::NotStarted);
    EXPECT_EQ(declining.heard, std::vector<M>{M::SystemFilesQuestion});
    EXPECT_EQ(SnapshotTree(source), before);
    EXPECT_FALSE(PathExists(target));

    RecordingObserver accepting(true);
    EXPECT_EQ(Relocate(source, target, accepting), RelocationResult::Completed);
    EXPECT_EQ(accepting.heard, (std::vector<M>{M::SystemFilesQuestion, M::Completed}));
    EXPECT_EQ(SnapshotTree(target), before);
}

TEST(RelocationEngine, AFileInUseStopsTheScanBeforeAnythingMoves) {
    ScratchFolder scratch(kNtfsDrive);
    const std::wstring source = scratch / L"held";
    MakeTree(source, kTree);
    const TreeSnapshot before = SnapshotTree(source);
    const std::wstring held = source + L"\\docs\\deep\\report.xls";
    HANDLE file = ::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);

    RecordingObserver observer;
    EXPECT_EQ(Relocate(source, scratch / L"moved", observer), RelocationResult::NotStarted);
    ::CloseHandle(file);
    EXPECT_EQ(observer.heard, std::vector<M>{M::ScanFailed});
    EXPECT_EQ(observer.progress.stoppedAt, held);
    EXPECT_EQ(SnapshotTree(source), before);
    EXPECT_FALSE(PathExists(scratch / L"moved"));
}

// Between two file systems Wine's shell moves the files but leaves sub-folders
// behind and still reports success: the engine must see it and bring all back.
// Sets reparse data on the empty folder `path` from Linux, as other tools do, and
// waits until the kernel shows it as a link (it keeps the plain folder it had
// cached until a look at it fails).
void MakeLinkFromLinux(const std::wstring& path, const Bytes& data) {
    ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr)) << path;
    ASSERT_EQ(WriteNtfsReparseData(path, data), 0) << path;
    for (int attempt = 0; attempt < 20 && HostTypeOf(path) != HostType::Symlink; ++attempt) ::Sleep(50);
    ASSERT_EQ(HostTypeOf(path), HostType::Symlink) << path;
}

std::wstring NtName(const std::wstring& path) { return L"\\??\\" + FullPath(path); }

TEST(RelocationEngine, DestinationsAndSourcesThatAreNoPlainFoldersAreRefused) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    const std::wstring source = scratch / L"src";
    MakeTree(source, kTree);
    MakeTree(elsewhere.path(), {{L"Data", "the user's own file"}, {L"real\\kept.txt", "kept"}});
    ASSERT_TRUE(CreateJunction((elsewhere / L"link").c_str(), (elsewhere / L"real").c_str()));
    ASSERT_TRUE(CreateJunction((scratch / L"linked source").c_str(), source.c_str()));
    const TreeSnapshot before = SnapshotTree(scratch.path());
    const TreeSnapshot elsewhereBefore = SnapshotTree(elsewhere.path());

    struct Case {
        std::wstring source;
        std::wstring target;
        RelocationMessage message;
    };
    const Case cases[] = {
        {source, elsewhere / L"Data", M::TargetIsFile},
        {source, elsewhere / L"Data\\", M::TargetIsFile},
        {source, elsewhere / L"link", M::TargetIsLink},
        {source, elsewhere / L"CON", M::TargetIsDevice},
        {source, L"NUL", M::TargetIsDevice},
        {source, L"\\\\server\\share\\Games", M::TargetNotLocal},
        {source, L"\\\\?\\UNC\\server\\share\\Games", M::TargetNotLocal},
        {scratch / L"linked source", elsewhere / L"new", M::SourceIsLink},
        {std::wstring(kNtfsDrive) + L"\\", elsewhere / L"new", M::SourceIsDriveRoot},
        {kNtfsDrive, elsewhere / L"new", M::SourceIsDriveRoot},
        {std::wstring(kNtfsDrive) + L"\\", scratch / L"new", M::SourceIsDriveRoot},
    };
    for (const Case& c : cases) {
        RecordingObserver observer;
        EXPECT_EQ(Relocate(c.source, c.target, observer), RelocationResult::NotStarted) << c.target;
        EXPECT_EQ(observer.heard, std::vector<M>{c.message}) << c.source << L" -> " << c.target;
    }
    EXPECT_EQ(SnapshotTree(scratch.path()), before);
    EXPECT_EQ(SnapshotTree(elsewhere.path()), elsewhereBefore);
    EXPECT_EQ(OnDiskJunctionTarget(scratch / L"linked source"), NtName(source)) << "the linked source is untouched";
    EXPECT_FALSE(PathExists(scratch / L"linked source_abc_in_use_test"));
    EXPECT_FALSE(PathExists(elsewhere / L"new"));
    EXPECT_TRUE(RemoveJunction((elsewhere / L"link").c_str()));
    EXPECT_TRUE(RemoveJunction((scratch / L"linked source").c_str()));
}

// One folder inside the other is told however the destination is written: by a
// short (8.3) name, or through a junction that leads into the source.
TEST(RelocationEngine, ADestinationInsideTheSourceIsToldWhateverWayItIsWritten) {
    ScratchFolder scratch(kNtfsDrive);
    const std::wstring source = scratch / L"A Long Folder Name";
    MakeTree(source, kTree);
    const TreeSnapshot before = SnapshotTree(scratch.path());
    wchar_t shortName[MAX_PATH] = L"";
    ASSERT_NE(::GetShortPathNameW(source.c_str(), shortName, MAX_PATH), 0u);
    ASSERT_NE(std::wstring(shortName), source) << "the drive gives no short names";
    const std::wstring via = scratch / L"via";
    ASSERT_TRUE(CreateJunction(via.c_str(), source.c_str()));

    for (const std::wstring& target : {std::wstring(shortName) + L"\\inner", via + L"\\inner"}) {
        RecordingObserver observer;
        EXPECT_EQ(Relocate(source, target, observer), RelocationResult::NotStarted) << target;
        EXPECT_EQ(observer.heard, std::vector<M>{M::TargetInsideSource}) << target;
    }
    RecordingObserver same;
    EXPECT_EQ(Relocate(source, shortName, same), RelocationResult::NotStarted);
    EXPECT_EQ(same.heard, std::vector<M>{M::SameFolder});
    EXPECT_TRUE(RemoveJunction(via.c_str()));
    EXPECT_EQ(SnapshotTree(scratch.path()), before) << "nothing changed";
}

// A relocation into a folder that held files of its own: its move back names what
// the relocation did not bring there, which moves back too. One into a new folder
// asks the plain question.
TEST(RelocationEngine, AMoveBackSaysWhatTheDestinationHeldBefore) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    const std::wstring source = scratch / L"Games";
    const std::wstring target = elsewhere / L"Games";
    MakeTree(source, kTree);
    MakeTree(target, {{L"theirs.txt", "held before"}});
    const TreeSnapshot both = Union(SnapshotTree(source), SnapshotTree(target));
    RecordingObserver moved;
    ASSERT_EQ(Relocate(source, target, moved), RelocationResult::Completed);

    MoveBackRequest request;
    request.junction = source;
    RecordingObserver declined(false);
    EXPECT_EQ(RunMoveBack(request, declined), MoveBackResult::Declined);
    EXPECT_EQ(declined.heard, std::vector<M>{M::MoveBackQuestionHeldBefore});
    EXPECT_EQ(declined.asked.name, target + L"\\theirs.txt");
    EXPECT_EQ(declined.asked.limit, 1);
    RecordingObserver back;
    EXPECT_EQ(RunMoveBack(request, back), MoveBackResult::Completed);
    EXPECT_EQ(back.heard, (std::vector<M>{M::MoveBackQuestionHeldBefore, M::MoveBackCompleted}));
    EXPECT_EQ(SnapshotTree(source), both) << "as the question said, everything came back";

    const std::wstring fresh = elsewhere / L"New place";
    RecordingObserver again;
    ASSERT_EQ(Relocate(source, fresh, again), RelocationResult::Completed);
    RecordingObserver plain(false);
    EXPECT_EQ(RunMoveBack(request, plain), MoveBackResult::Declined);
    EXPECT_EQ(plain.heard, std::vector<M>{M::MoveBackQuestion});
    EXPECT_TRUE(RemoveJunction(source.c_str()));
}

// A subst drive exists only in the logon session that made it: what a junction
// stores is the folder that the drive stands for. (Wine keeps the definition and
// answers QueryDosDevice, but opens nothing through the drive, so the relocation
// itself through one is seen only on Windows.)
TEST(RelocationEngine, ASubstDriveIsReplacedByTheFolderItStandsFor) {
    ScratchFolder elsewhere(kSecondDrive);
    const std::wstring substituted = FullPath(elsewhere.path());
    ASSERT_TRUE(::DefineDosDeviceW(0, L"Q:", substituted.c_str()));
    const std::wstring games = WithoutSubstDrive(L"Q:\\Games");
    const std::wstring root = WithoutSubstDrive(L"Q:\\");
    ::DefineDosDeviceW(DDD_REMOVE_DEFINITION, L"Q:", substituted.c_str());
    EXPECT_EQ(games, substituted + L"\\Games");
    EXPECT_EQ(root, substituted);
    const std::wstring real = std::wstring(kNtfsDrive) + L"\\Games";
    EXPECT_EQ(WithoutSubstDrive(real), real) << "a real drive stays";
}

TEST(RelocationEngine, ADriveRootStaysARootUpToTheJunction) {
    ScratchFolder scratch(kNtfsDrive);
    const std::wstring source = scratch / L"Games";
    MakeTree(source, kTree);
    const TreeSnapshot before = SnapshotTree(source);
    const std::wstring root = std::wstring(kRootDrive) + L"\\";

    // Typed as the root, and as the bare letter, which would otherwise name the
    // current folder on that drive.
    for (const std::wstring& typed : {root, std::wstring(kRootDrive)}) {
        RecordingObserver observer;
        EXPECT_EQ(Relocate(source, typed, observer), RelocationResult::Completed) << typed;
        EXPECT_EQ(observer.heard, std::vector<M>{M::Completed}) << observer.lastFacts.name;
        EXPECT_EQ(observer.lastFacts.target, root);
        EXPECT_EQ(OnDiskJunctionTarget(source), L"\\??\\" + root);
        EXPECT_EQ(SnapshotTree(root), before);
        EXPECT_EQ(SnapshotTree(source), before) << "through the old path";

        // Back to a plain folder for the next round.
        ASSERT_TRUE(RemoveJunction(source.c_str()));
        MakeTree(source, kTree);
        for (const auto& file : kTree) ::DeleteFileW((root + file.relativePath).c_str());
        RemoveTree(root + L"docs");
    }
}

// A tree with links in it: one the program made pointing out of the tree, one
// pointing into the tree below a sub-folder, and a junction and a directory
// symbolic link written from Linux, standing for what other tools make.
class LinksInside : public ::testing::Test {
protected:
    void SetUp() override {
        MakeTree(source_, kTree);
        MakeTree(source_, {{L"data\\inner.txt", "inside"}});
        MakeTree(outside_.path(), {{L"theirs.txt", "not part of the move"}, {L"sub\\deep.txt", "deep"}});
        ASSERT_TRUE(CreateJunction((source_ + L"\\Application Data").c_str(), outside_.path().c_str()));
        ASSERT_TRUE(CreateJunction((source_ + L"\\docs\\to data").c_str(), (source_ + L"\\data").c_str()));
        MakeLinkFromLinux(source_ + L"\\from linux",
                          MountPointData(NtName(outside_ / L"sub"), FullPath(outside_ / L"sub"), true));
        MakeLinkFromLinux(source_ + L"\\symlink",
                          SymbolicLinkData(NtName(outside_.path()), FullPath(outside_.path()), false));
        for (const wchar_t* link : kLinks) bytesBefore_.push_back(*ReadNtfsReparseData(source_ + L"\\" + link));
        before_ = SnapshotTree(source_);
        outsideBefore_ = SnapshotTree(outside_.path());
        // Four own files; through the links two, one, one and two more.
        ASSERT_EQ(before_.size(), 10u);
    }

    // The links below `root` carry exactly the bytes they had (the junction into
    // the tree aside).
    void ExpectLinksAsBefore(const std::wstring& root) {
        for (size_t i = 0; i < std::size(kLinks); ++i) {
            EXPECT_EQ(ReadNtfsReparseData(root + L"\\" + kLinks[i]), bytesBefore_[i]) << kLinks[i];
        }
    }

    static constexpr const wchar_t* kLinks[] = {L"Application Data", L"from linux", L"symlink"};
    ScratchFolder outside_{kNtfsDrive, L"outside"};
    ScratchFolder scratch_{kNtfsDrive};
    std::wstring source_ = scratch_ / L"Local";
    std::vector<Bytes> bytesBefore_;
    TreeSnapshot before_;
    TreeSnapshot outsideBefore_;
};

TEST_F(LinksInside, TravelAsLinksWithinAVolume) {
    ScratchFolder elsewhere(kSecondDrive);
    const std::wstring target = elsewhere / L"Local";

    RecordingObserver observer;
    EXPECT_EQ(Relocate(source_, target, observer), RelocationResult::Completed);
    EXPECT_EQ(observer.heard, std::vector<M>{M::Completed});
    EXPECT_EQ(OnDiskJunctionTarget(source_), NtName(target));
    ExpectLinksAsBefore(target);
    EXPECT_EQ(OnDiskJunctionTarget(target + L"\\docs\\to data"), NtName(target + L"\\data")) << "re-pointed";
    EXPECT_EQ(SnapshotTree(target), before_);
    EXPECT_EQ(SnapshotTree(outside_.path()), outsideBefore_) << "nothing outside the source changes";
    EXPECT_EQ(HostTypeOf(outside_.path()), HostType::Directory);
}

TEST_F(LinksInside, NeedADestinationThatCanHoldThem) {
    ScratchFolder plain(kPlainDrive);
    const std::wstring target = plain / L"Local";

    RecordingObserver observer;
    EXPECT_EQ(Relocate(source_, target, observer), RelocationResult::NotStarted);
    EXPECT_EQ(observer.heard, std::vector<M>{M::LinksNeedReparseTarget});
    EXPECT_EQ(observer.lastFacts.name, source_ + L"\\Application Data");
    ExpectLinksAsBefore(source_);
    EXPECT_EQ(SnapshotTree(source_), before_);
    EXPECT_FALSE(PathExists(target));
}

// Reparse data of a Microsoft tag that is no link (deduplicated files carry one):
// the tag, the payload's length, and the payload.
Bytes MicrosoftData(std::uint32_t tag, const Bytes& payload) {
    Bytes data(8, 0);
    for (int i = 0; i < 4; ++i) data[i] = static_cast<std::uint8_t>(tag >> (8 * i));
    Poke16(data, 4, static_cast<std::uint16_t>(payload.size()));
    data.insert(data.end(), payload.begin(), payload.end());
    return data;
}

// Windows lists such reparse points and the scan refuses them by name. Wine 8 on
// ntfs-3g sees them as links to nowhere and shows nothing at all; the relocation
// must then still end with every file in one place, as the user is told.
TEST_F(LinksInside, AReparsePointOfAnotherKindStopsEverything) {
    for (const auto& [where, data] : {std::pair<std::wstring, Bytes>{L"deduplicated",
                                                                     MicrosoftData(0x80000013, Bytes(16, 3))},
                                      {L"vendor", ThirdPartyData(0x00001234, Bytes{1, 2, 3, 4})}}) {
        SCOPED_TRACE(testing::PrintToString(where));
        const std::wstring foreign = source_ + L"\\" + where;
        ASSERT_TRUE(::CreateDirectoryW(foreign.c_str(), nullptr));
        ASSERT_EQ(WriteNtfsReparseData(foreign, data), 0);
        for (int attempt = 0; attempt < 5; ++attempt) HostTypeOf(foreign);  // the kernel drops its cached folder
        ScratchFolder elsewhere(kSecondDrive);
        const std::wstring target = elsewhere / L"Local";

        RecordingObserver observer;
        const RelocationResult result = Relocate(source_, target, observer);
        if (::GetFileAttributesW(foreign.c_str()) != INVALID_FILE_ATTRIBUTES) {
            EXPECT_EQ(result, RelocationResult::NotStarted);
            EXPECT_EQ(observer.heard, std::vector<M>{M::ForeignReparsePoint});
            EXPECT_EQ(observer.lastFacts.name, foreign);
            EXPECT_FALSE(PathExists(target));
        } else {
            // Left behind by the move, it keeps the emptied folder from becoming
            // the junction: everything goes back.
            EXPECT_EQ(result, RelocationResult::RolledBack);
            EXPECT_EQ(observer.heard, std::vector<M>{M::JunctionFailedRestored});
            EXPECT_EQ(ReadNtfsReparseData(foreign), data);
        }
        ExpectLinksAsBefore(source_);
        EXPECT_EQ(SnapshotTree(source_), before_);
        EXPECT_EQ(SnapshotTree(outside_.path()), outsideBefore_);
        EXPECT_EQ(wine_host::Unlink(UnixPathOf(foreign).c_str()), 0);
    }
}

TEST(RelocationEngine, ADriveTooSmallIsRefusedWithBothFigures) {
    ScratchFolder scratch(kNtfsDrive);
    const std::wstring source = scratch / L"big";
    MakeTree(source, {{L"a.bin", std::string(1500000, 'a')}, {L"sub\\b.bin", std::string(600000, 'b')}});
    const TreeSnapshot before = SnapshotTree(source);
    const std::wstring target = std::wstring(kSmallDrive) + L"\\big";

    RecordingObserver observer;
    EXPECT_EQ(Relocate(source, target, observer), RelocationResult::NotStarted);
    EXPECT_EQ(observer.heard, std::vector<M>{M::NotEnoughRoom});
    EXPECT_EQ(observer.lastFacts.needed, 2100000u);
    EXPECT_LT(observer.lastFacts.available, 2100000u);
    EXPECT_GT(observer.lastFacts.available, 0u);
    EXPECT_EQ(SnapshotTree(source), before);
    EXPECT_FALSE(PathExists(target));
}

TEST(RelocationEngine, PathsTheShellCannotMoveAreNamedBeforeAnythingMoves) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    const std::wstring source = scratch / L"deep";
    // A tree whose deepest file ends 10 characters short of the limit in the source.
    const std::wstring fill(MAX_PATH - 1 - 10 - FullPath(source).size() - 8, L'd');
    MakeTree(source, {{fill + L"\\a.txt", "deep"}, {L"top.txt", "top"}});
    const TreeSnapshot before = SnapshotTree(source);

    RecordingObserver longer;
    const std::wstring longTarget = elsewhere / std::wstring(40, L'x');
    EXPECT_EQ(Relocate(source, longTarget, longer), RelocationResult::NotStarted);
    EXPECT_EQ(longer.heard, std::vector<M>{M::PathTooLongInTarget});
    EXPECT_EQ(longer.lastFacts.name, FullPath(longTarget) + L"\\" + fill + L"\\a.txt");

    // One folder deeper, past the limit already in the source: reached through the
    // verbatim form, as other tools make such trees.
    const std::wstring tooDeep = source + L"\\" + fill + L"\\" + std::wstring(20, L'e');
    ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + FullPath(tooDeep)).c_str(), nullptr));
    RecordingObserver deeper;
    EXPECT_EQ(Relocate(source, elsewhere / L"deep", deeper), RelocationResult::NotStarted);
    EXPECT_EQ(deeper.heard, std::vector<M>{M::PathTooLongInside});
    EXPECT_EQ(deeper.lastFacts.name, tooDeep);
    EXPECT_EQ(SnapshotTree(source), before);
    EXPECT_FALSE(PathExists(elsewhere / L"deep"));
    ::RemoveDirectoryW((L"\\\\?\\" + FullPath(tooDeep)).c_str());
}

// A SYSTEM file at the top of the folder is moved on its own by the shell (a
// sub-folder is renamed whole, with whatever it holds). Alone or hidden too, it
// must end moved with the rest, or back with the rest as the user is told.
TEST(RelocationEngine, ASystemFileAtTheTopEndsMovedOrRestoredAsTold) {
    for (const DWORD attributes : {DWORD{FILE_ATTRIBUTE_SYSTEM}, DWORD{FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN}}) {
        SCOPED_TRACE(attributes);
        ScratchFolder scratch(kNtfsDrive);
        ScratchFolder elsewhere(kSecondDrive);
        const std::wstring source = scratch / L"sys";
        const std::wstring target = elsewhere / L"sys";
        MakeTree(source, {{L"desktop.ini", "[.ShellClassInfo]", attributes}, {L"a.txt", "a"}, {L"sub\\b.txt", "b"}});
        ASSERT_TRUE(::GetFileAttributesW((source + L"\\desktop.ini").c_str()) & FILE_ATTRIBUTE_SYSTEM);
        const TreeSnapshot before = SnapshotTree(source);

        RecordingObserver observer(true);
        const RelocationResult result = Relocate(source, target, observer);
        if (result == RelocationResult::Completed) {
            EXPECT_EQ(observer.heard, (std::vector<M>{M::SystemFilesQuestion, M::Completed}));
            EXPECT_EQ(SnapshotTree(target), before);
            EXPECT_EQ(OnDiskJunctionTarget(source), NtName(target));
            EXPECT_TRUE(RemoveJunction(source.c_str()));
        } else {
            EXPECT_EQ(result, RelocationResult::RolledBack);
            EXPECT_EQ(observer.heard, (std::vector<M>{M::SystemFilesQuestion, M::MoveFailed, M::Restored}));
            EXPECT_EQ(SnapshotTree(source), before);
            EXPECT_TRUE(SnapshotTree(target).empty());
        }
    }
}

// A program that holds the source folder open (sharing its deletion, as indexers
// do) keeps the removed folder's name taken until it lets go: the junction waits
// for the name instead of failing on it.
TEST(RelocationEngine, ASourceFolderThatLingersIsWaitedFor) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    const std::wstring source = scratch / L"held";
    const std::wstring target = elsewhere / L"held";
    MakeTree(source, kTree);
    const TreeSnapshot before = SnapshotTree(source);
    HANDLE holder = ::CreateFileW(source.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    // Lets go a second after the relocation starts, well within the wait.
    std::thread release([&] {
        ::Sleep(1000);
        ::CloseHandle(holder);
    });

    RecordingObserver observer;
    const RelocationResult result = Relocate(source, target, observer);
    release.join();
    EXPECT_EQ(result, RelocationResult::Completed) << testing::PrintToString(observer.heard);
    EXPECT_EQ(observer.heard, std::vector<M>{M::Completed});
    EXPECT_EQ(OnDiskJunctionTarget(source), NtName(target));
    EXPECT_EQ(SnapshotTree(target), before);
    EXPECT_TRUE(RemoveJunction(source.c_str()));
}

// Held past the wait, the folder never frees its name: no junction can stand
// there, and every file ends in one place, as the user is told.
TEST(RelocationEngine, ASourceFolderThatStaysHeldEndsWithEveryFileInOnePlace) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    ScratchFolder outside(kNtfsDrive, L"outside");
    const std::wstring source = scratch / L"held";
    const std::wstring target = elsewhere / L"held";
    MakeTree(source, kTree);
    MakeTree(outside.path(), {{L"theirs.txt", "not part of the move"}});
    // Links out of the tree and into it travel apart from the files, and must
    // come back as they were.
    const std::wstring outward = source + L"\\Application Data";
    const std::wstring inward = source + L"\\docs\\to deep";
    ASSERT_TRUE(CreateJunction(outward.c_str(), outside.path().c_str()));
    ASSERT_TRUE(CreateJunction(inward.c_str(), (source + L"\\docs\\deep").c_str()));
    const auto outwardBytes = ReadNtfsReparseData(outward);
    const auto inwardBytes = ReadNtfsReparseData(inward);
    const TreeSnapshot before = SnapshotTree(source);
    const TreeSnapshot outsideBefore = SnapshotTree(outside.path());
    HANDLE holder = ::CreateFileW(source.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    RecordingObserver observer;
    const RelocationResult result = Relocate(source, target, observer);
    ::CloseHandle(holder);
    EXPECT_EQ(SnapshotTree(outside.path()), outsideBefore);
    EXPECT_FALSE(OnDiskJunctionTarget(source).has_value());
    if (result == RelocationResult::RolledBack) {
        EXPECT_EQ(observer.heard, std::vector<M>{M::JunctionFailedRestored});
        EXPECT_EQ(SnapshotTree(source), before) << "also once the holder has let go";
        EXPECT_EQ(ReadNtfsReparseData(outward), outwardBytes);
        EXPECT_EQ(ReadNtfsReparseData(inward), inwardBytes);
        EXPECT_TRUE(SnapshotTree(target).empty());
        EXPECT_TRUE(RemoveJunction(outward.c_str()));
        EXPECT_TRUE(RemoveJunction(inward.c_str()));
    } else {
        // Windows refuses to put anything into a folder that is being deleted.
        EXPECT_EQ(result, RelocationResult::NotRestored);
        EXPECT_EQ(observer.heard, std::vector<M>{M::JunctionFailedNotRestored});
        EXPECT_EQ(Union(SnapshotTree(source), SnapshotTree(target)), before);
    }
}

}  // namespace
