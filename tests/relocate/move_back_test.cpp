// Moving a relocated folder's files back, through the engine in this process: every
// run ends with the files at the old path in a plain folder and the target gone, or
// with the files all in the target and the junction back with the bytes it had.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "engine/folder_move.h"
#include "engine/journal_keeper.h"
#include "engine/folder_identity.h"
#include "engine/move_back.h"
#include "engine/relocation_recovery.h"
#include "junction/junction.h"
#include "junction/link_data.h"
#include "tests/driver/host_view.h"
#include "tests/driver/test_volumes.h"
#include "tests/relocate/file_tree.h"
#include "tests/relocate/recording_observer.h"
#include "tests/relocate/relocation_session.h"

namespace {

using namespace relocation_testing;
using namespace testing_driver;
using M = RelocationMessage;



const std::vector<TreeFile> kTree = {
    {L"readme.txt", "top"},
    {L"docs\\deep\\report.xls", std::string(70000, 'r')},
    {L"hidden.dat", "hidden", FILE_ATTRIBUTE_HIDDEN},
    {L"Musique d'ambiance\\Piste 01 \u2013 For\u00eat.ogg", std::string(3000, 'm')},
};
constexpr std::uint64_t kTreeBytes = 3 + 70000 + 6 + 3000;

// A folder relocated by the engine itself: `source` a junction to `target`.
struct Relocated {
    Relocated(const std::wstring& sourceRoot, const std::wstring& targetRoot)
        : source(sourceRoot + L"\\Games"), target(targetRoot + L"\\Games") {
        MakeTree(source, kTree);
        before = SnapshotTree(source);
        RecordingObserver observer;
        RelocationRequest request;
        request.source = source;
        request.target = target;
        relocated = RunRelocation(request, observer) == RelocationResult::Completed;
        linkBytes = ReadNtfsReparseData(source);
    }
    std::wstring source;
    std::wstring target;
    TreeSnapshot before;
    bool relocated = false;
    std::optional<Bytes> linkBytes;
};

MoveBackResult MoveBackFiles(const std::wstring& junction, RecordingObserver& observer,
                             const JournalStore* store = nullptr) {
    MoveBackRequest request;
    request.junction = junction;
    request.journal = store;
    return RunMoveBack(request, observer);
}

bool JournalLeft(const JournalStore& store) {
    RelocationJournal journal;
    return store.Read(journal) != JournalStore::ReadResult::None;
}

// Nothing changed: the junction has its bytes, the files are all in the target.
void ExpectUnchanged(const Relocated& folder) {
    EXPECT_EQ(ReadNtfsReparseData(folder.source), folder.linkBytes);
    EXPECT_EQ(SnapshotTree(folder.target), folder.before);
    EXPECT_EQ(SnapshotTree(folder.source), folder.before) << "through the junction";
}

TEST(MoveBack, BringsEveryFileBackAndRemovesJunctionAndTarget) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    Relocated folder(scratch.path(), elsewhere.path());
    ASSERT_TRUE(folder.relocated);
    ASSERT_TRUE(folder.linkBytes.has_value());

    RecordingObserver observer;
    // Typed as people type: a trailing separator.
    EXPECT_EQ(MoveBackFiles(folder.source + L"\\", observer), MoveBackResult::Completed);
    EXPECT_EQ(observer.heard, (std::vector<M>{M::MoveBackQuestion, M::MoveBackCompleted}));
    EXPECT_EQ(observer.asked.source, folder.source);
    EXPECT_EQ(observer.asked.target, FullPath(folder.target));
    EXPECT_EQ(observer.asked.needed, kTreeBytes);

    EXPECT_FALSE(ReadNtfsReparseData(folder.source).has_value()) << "a plain folder again, seen from Linux";
    EXPECT_TRUE(IsFolder(folder.source));
    EXPECT_EQ(::GetFileAttributesW(folder.source.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    EXPECT_EQ(SnapshotTree(folder.source), folder.before);
    EXPECT_EQ(::GetFileAttributesW((folder.source + L"\\hidden.dat").c_str()) & FILE_ATTRIBUTE_HIDDEN,
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(PathExists(folder.target));
}

// Remembers how many scans had ended when the question came.
class OrderObserver : public RecordingObserver {
public:
    bool Confirm(RelocationMessage question, const RelocationFacts& facts) override {
        scansEndedAtQuestion = scansEnded;
        return RecordingObserver::Confirm(question, facts);
    }
    int scansEndedAtQuestion = -1;
};

// Stops the scan at its first look, as Cancel in the dialog does.
class CancellingObserver : public RecordingObserver {
public:
    AccessScanProgress& ScanProgress() override { return cancelling_; }

private:
    struct : SilentProgress {
        bool StopRequested() override { return true; }
    } cancelling_;
};

// The scan runs first, on its worker, and its total is the size the question
// names: nothing walks the folder on the caller's thread before the question.
TEST(MoveBack, TheQuestionComesAfterTheScanAndNamesItsTotal) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    Relocated folder(scratch.path(), elsewhere.path());
    ASSERT_TRUE(folder.relocated);

    OrderObserver observer;
    EXPECT_EQ(MoveBackFiles(folder.source, observer), MoveBackResult::Completed);
    EXPECT_EQ(observer.scansEndedAtQuestion, 1);
    EXPECT_EQ(observer.asked.needed, kTreeBytes);
}

TEST(MoveBack, ACancelledScanAsksNothingAndChangesNothing) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    ScratchFolder journalFolder(TempRoot());
    const JournalStore store(journalFolder / L"store");
    Relocated folder(scratch.path(), elsewhere.path());
    ASSERT_TRUE(folder.relocated);

    CancellingObserver observer;
    EXPECT_EQ(MoveBackFiles(folder.source, observer, &store), MoveBackResult::Declined);
    EXPECT_TRUE(observer.heard.empty()) << "the dialog shows the cancelled scan itself";
    EXPECT_EQ(observer.scansEnded, 1);
    EXPECT_FALSE(JournalLeft(store));
    ExpectUnchanged(folder);
}

TEST(MoveBack, DecliningChangesNothing) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    Relocated folder(scratch.path(), elsewhere.path());
    ASSERT_TRUE(folder.relocated);

    RecordingObserver observer(false);
    EXPECT_EQ(MoveBackFiles(folder.source, observer), MoveBackResult::Declined);
    EXPECT_EQ(observer.heard, std::vector<M>{M::MoveBackQuestion});
    ExpectUnchanged(folder);
}

TEST(MoveBack, AFileHeldOpenInTheTargetIsRefusedBeforeAnythingChanges) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    Relocated folder(scratch.path(), elsewhere.path());
    ASSERT_TRUE(folder.relocated);
    const std::wstring held = folder.target + L"\\docs\\deep\\report.xls";
    HANDLE file = ::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);

    RecordingObserver observer;
    const MoveBackResult result = MoveBackFiles(folder.source, observer);
    ::CloseHandle(file);
    EXPECT_EQ(result, MoveBackResult::Refused);
    EXPECT_EQ(observer.heard, std::vector<M>{M::MoveBackScanFailed}) << "refused before anything is asked";
    EXPECT_EQ(observer.scansEnded, 1);
    EXPECT_EQ(observer.progress.stoppedAt, FullPath(held));
    ExpectUnchanged(folder);
}

// A file that something opens while the files move cannot follow: the files moved
// so far go back, and the junction is made again from its own bytes.
TEST(MoveBack, AMoveThatFailsPartWayPutsFilesAndJunctionBack) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    Relocated folder(scratch.path(), elsewhere.path());
    ASSERT_TRUE(folder.relocated);

    RecordingObserver observer;
    HANDLE file = INVALID_HANDLE_VALUE;
    observer.onMoving = [&] {
        // Opened after the scan: held without sharing, so it cannot be moved.
        file = ::CreateFileW((folder.target + L"\\readme.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    };
    const MoveBackResult result = MoveBackFiles(folder.source, observer);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::CloseHandle(file);
    EXPECT_EQ(result, MoveBackResult::RolledBack);
    EXPECT_EQ(observer.heard, (std::vector<M>{M::MoveBackQuestion, M::MoveBackFailedRestored}));
    ExpectUnchanged(folder);
}

TEST(MoveBack, RefusesWhatItCannotMoveBackAndSaysWhy) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);

    const std::wstring plain = scratch / L"plain";
    MakeTree(plain, {{L"a.txt", "a"}});
    RecordingObserver notJunction;
    EXPECT_EQ(MoveBackFiles(plain, notJunction), MoveBackResult::Refused);
    EXPECT_EQ(notJunction.heard, std::vector<M>{M::MoveBackNotJunction});
    EXPECT_TRUE(PathExists(plain + L"\\a.txt"));

    RecordingObserver missing;
    EXPECT_EQ(MoveBackFiles(scratch / L"nothing here", missing), MoveBackResult::Refused);
    EXPECT_EQ(missing.heard, std::vector<M>{M::MoveBackNotJunction});

    RecordingObserver empty;
    EXPECT_EQ(MoveBackFiles(L"", empty), MoveBackResult::Refused);
    EXPECT_EQ(empty.heard, std::vector<M>{M::MoveBackNotJunction});

    // A junction to a drive's root (a relocation may take one as its destination):
    // the root also holds what the drive keeps there and can never be removed, so
    // nothing is moved and the junction stays as it was.
    const std::wstring root = std::wstring(kRootDrive) + L"\\";
    const std::wstring onRoot = root + L"moved-there.txt";
    MakeTree(root, {{L"moved-there.txt", "the user's"}});
    const std::wstring toRoot = scratch / L"to the root";
    ASSERT_TRUE(CreateJunction(toRoot.c_str(), root.c_str()));
    const std::optional<Bytes> junctionBefore = ReadNtfsReparseData(toRoot);
    const TreeSnapshot rootBefore = SnapshotTree(root);
    RecordingObserver atRoot;
    EXPECT_EQ(MoveBackFiles(toRoot, atRoot), MoveBackResult::Refused);
    EXPECT_EQ(atRoot.heard, std::vector<M>{M::MoveBackTargetIsRoot});
    EXPECT_EQ(atRoot.lastFacts.target, root);
    EXPECT_EQ(ReadNtfsReparseData(toRoot), junctionBefore);
    EXPECT_EQ(SnapshotTree(root), rootBefore);
    EXPECT_TRUE(RemoveJunction(toRoot.c_str()));
    EXPECT_TRUE(::DeleteFileW(onRoot.c_str()));

}

// Sets reparse data on the empty folder `path` from Linux, as other tools do, and
// waits until the kernel shows it as a link.
void MakeLinkFromLinux(const std::wstring& path, const Bytes& data) {
    ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr)) << path;
    ASSERT_EQ(WriteNtfsReparseData(path, data), 0) << path;
    for (int attempt = 0; attempt < 20 && HostTypeOf(path) != HostType::Symlink; ++attempt) ::Sleep(50);
    ASSERT_EQ(HostTypeOf(path), HostType::Symlink) << path;
}

std::wstring NtName(const std::wstring& path) { return L"\\??\\" + FullPath(path); }

// A junction inside the folder it points to (as the built-in "Application Data"
// in AppData\\Local points at AppData\\Local) would move that folder into itself:
// refused with nothing changed. Another junction beside it pointing at the same
// folder is named in the question.
TEST(MoveBack, AJunctionInsideItsFolderIsRefusedAndASharedFolderIsNamed) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    const std::wstring local = scratch / L"Local";
    MakeTree(local, {{L"cache\\a.bin", "a"}, {L"settings.ini", "s"}});
    const std::wstring inside = local + L"\\Application Data";
    ASSERT_TRUE(CreateJunction(inside.c_str(), local.c_str()));
    const std::optional<Bytes> insideBytes = ReadNtfsReparseData(inside);
    RecordingObserver loop;
    EXPECT_EQ(MoveBackFiles(inside, loop), MoveBackResult::Refused);
    EXPECT_EQ(loop.heard, std::vector<M>{M::MoveBackNotSeparate});
    EXPECT_EQ(ReadNtfsReparseData(inside), insideBytes);
    EXPECT_TRUE(PathExists(local + L"\\cache\\a.bin"));
    EXPECT_TRUE(RemoveJunction(inside.c_str()));

    const std::wstring target = elsewhere / L"Games";
    MakeTree(target, {{L"a.txt", "a"}});
    const std::wstring first = scratch / L"Games";
    const std::wstring second = scratch / L"Games (old shortcut)";
    ASSERT_TRUE(CreateJunction(first.c_str(), target.c_str()));
    ASSERT_TRUE(CreateJunction(second.c_str(), target.c_str()));
    RecordingObserver declined(false);
    EXPECT_EQ(MoveBackFiles(first, declined), MoveBackResult::Declined);
    EXPECT_EQ(declined.heard, std::vector<M>{M::MoveBackQuestionSharedTarget});
    EXPECT_EQ(declined.asked.name, second);
    EXPECT_EQ(OnDiskJunctionTarget(first), NtName(target));
    EXPECT_TRUE(PathExists(target + L"\\a.txt"));
    EXPECT_TRUE(RemoveJunction(first.c_str()));
    EXPECT_TRUE(RemoveJunction(second.c_str()));
}


// A relocated folder with links in it: at its top one pointing out of it, one
// written from Linux with its print name first (as other tools write them) and a
// directory symbolic link; deeper inside a junction pointing into the folder.
class LinksInTheTarget : public ::testing::Test {
protected:
    void SetUp() override {
        MakeTree(target_, kTree);
        MakeTree(target_, {{L"data\\inner.txt", "inside"}});
        MakeTree(outside_.path(), {{L"theirs.txt", "not part of the move"}, {L"sub\\deep.txt", "deep"}});
        ASSERT_TRUE(CreateJunction((target_ + L"\\Application Data").c_str(), outside_.path().c_str()));
        ASSERT_TRUE(CreateJunction((target_ + L"\\docs\\to data").c_str(), (target_ + L"\\data").c_str()));
        MakeLinkFromLinux(target_ + L"\\from linux",
                          MountPointData(NtName(outside_ / L"sub"), FullPath(outside_ / L"sub"), true));
        MakeLinkFromLinux(target_ + L"\\symlink",
                          SymbolicLinkData(NtName(outside_.path()), FullPath(outside_.path()), false));
        for (const wchar_t* link : kLinks) bytesBefore_.push_back(*ReadNtfsReparseData(target_ + L"\\" + link));
        innerBefore_ = *ReadNtfsReparseData(target_ + L"\\docs\\to data");
        ASSERT_TRUE(CreateJunction(source_.c_str(), target_.c_str()));
        junctionBytes_ = *ReadNtfsReparseData(source_);
        before_ = SnapshotTree(source_);
        outsideBefore_ = SnapshotTree(outside_.path());
    }

    void ExpectLinksAsBefore(const std::wstring& root) {
        for (size_t i = 0; i < std::size(kLinks); ++i) {
            EXPECT_EQ(ReadNtfsReparseData(root + L"\\" + kLinks[i]), bytesBefore_[i]) << kLinks[i];
        }
        EXPECT_EQ(SnapshotTree(outside_.path()), outsideBefore_) << "nothing a link points to changes";
    }

    static constexpr const wchar_t* kLinks[] = {L"Application Data", L"from linux", L"symlink"};
    ScratchFolder outside_{kNtfsDrive, L"outside"};
    ScratchFolder elsewhere_{kSecondDrive};
    ScratchFolder scratch_{kNtfsDrive};
    std::wstring source_ = scratch_ / L"Local";
    std::wstring target_ = elsewhere_ / L"Local";
    std::vector<Bytes> bytesBefore_;
    Bytes innerBefore_;
    Bytes junctionBytes_;
    TreeSnapshot before_;
    TreeSnapshot outsideBefore_;
};

TEST_F(LinksInTheTarget, TravelBackAsLinksAndPointIntoTheOldPath) {
    RecordingObserver observer;
    EXPECT_EQ(MoveBackFiles(source_, observer), MoveBackResult::Completed);
    EXPECT_EQ(observer.heard, (std::vector<M>{M::MoveBackQuestion, M::MoveBackCompleted}));
    EXPECT_FALSE(ReadNtfsReparseData(source_).has_value());
    ExpectLinksAsBefore(source_);
    EXPECT_EQ(OnDiskJunctionTarget(source_ + L"\\docs\\to data"), NtName(source_ + L"\\data")) << "re-pointed";
    EXPECT_EQ(SnapshotTree(source_), before_);
    EXPECT_FALSE(PathExists(target_));
}

// The move fails part-way: the links go back into the folder with the bytes they
// had, the junction into it included, and the junction at the old path too.
TEST_F(LinksInTheTarget, AreBackAsTheyWereWhenTheMoveIsPutBack) {
    ScratchFolder journalFolder(TempRoot());
    const JournalStore store(journalFolder / L"store");
    RecordingObserver observer;
    HANDLE file = INVALID_HANDLE_VALUE;
    observer.onMoving = [&] {
        file = ::CreateFileW((target_ + L"\\readme.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    };
    const MoveBackResult result = MoveBackFiles(source_, observer, &store);
    ::CloseHandle(file);
    EXPECT_EQ(result, MoveBackResult::RolledBack);
    EXPECT_EQ(observer.heard, (std::vector<M>{M::MoveBackQuestion, M::MoveBackFailedRestored}));
    EXPECT_EQ(ReadNtfsReparseData(source_), junctionBytes_);
    ExpectLinksAsBefore(target_);
    EXPECT_EQ(ReadNtfsReparseData(target_ + L"\\docs\\to data"), innerBefore_);
    EXPECT_EQ(SnapshotTree(target_), before_);
    EXPECT_FALSE(JournalLeft(store));
}

// Cut short after the links left the folder (the junction gone, half of the
// entries and none of the links at the old path): the journal holds the links, and
// either way out makes them again where the files end.
class LinksInTheTargetCutShort : public LinksInTheTarget {
protected:
    RelocationJournal CutShortHalfway() {
        RelocationJournal seen;
        RecordingObserver observer;
        observer.onMoving = [&] { EXPECT_EQ(store_.Read(seen), JournalStore::ReadResult::Found); };
        EXPECT_EQ(MoveBackFiles(source_, observer, &store_), MoveBackResult::Completed);
        EXPECT_EQ(seen.links.size(), 4u);
        for (const JournalLink& link : seen.links) {
            EXPECT_TRUE(RemoveLinkEntry((source_ + L"\\" + link.relativePath).c_str(), link.folder));
        }
        EXPECT_TRUE(::CreateDirectoryW(target_.c_str(), nullptr));
        // The folder made again stands for the one the move back emptied: the
        // journal of a real cut-short move back names that one.
        EXPECT_TRUE(ReadPlainFolderId(target_, seen.targetId));
        std::vector<std::wstring> half = seen.entries;
        half.resize(half.size() / 2);
        EXPECT_TRUE(MoveEntriesBack(source_, target_, half));
        EXPECT_TRUE(store_.Write(seen));
        return seen;
    }

    ScratchFolder journalFolder_{TempRoot()};
    const JournalStore store_{journalFolder_ / L"store"};
};

TEST_F(LinksInTheTargetCutShort, FinishMakesThemAtTheOldPath) {
    const RelocationJournal journal = CutShortHalfway();
    RecordingObserver recovery;
    EXPECT_EQ(MoveRelocationBack(journal, store_, recovery), RelocationResult::RolledBack);
    EXPECT_EQ(recovery.heard, std::vector<M>{M::MoveBackCompleted});
    ExpectLinksAsBefore(source_);
    EXPECT_EQ(OnDiskJunctionTarget(source_ + L"\\docs\\to data"), NtName(source_ + L"\\data"));
    EXPECT_EQ(SnapshotTree(source_), before_);
    EXPECT_FALSE(PathExists(target_));
    EXPECT_FALSE(JournalLeft(store_));
}

TEST_F(LinksInTheTargetCutShort, UndoMakesThemInTheFolderBehindTheSameJunction) {
    const RelocationJournal journal = CutShortHalfway();
    RecordingObserver recovery;
    EXPECT_EQ(FinishRelocation(journal, store_, recovery), RelocationResult::Completed);
    EXPECT_EQ(recovery.heard, std::vector<M>{M::MoveBackUndone});
    EXPECT_EQ(ReadNtfsReparseData(source_), junctionBytes_);
    ExpectLinksAsBefore(target_);
    EXPECT_EQ(OnDiskJunctionTarget(target_ + L"\\docs\\to data"), NtName(target_ + L"\\data"));
    EXPECT_EQ(SnapshotTree(target_), before_);
    EXPECT_FALSE(JournalLeft(store_));
}

TEST(MoveBack, RoomIsNeededOnlyBetweenTwoVolumes) {
    const struct {
        std::uint64_t bytes;
        std::uint64_t freeBytes;
        bool sameVolume;
        bool fits;
    } cases[] = {
        {100, 100, false, true},
        {101, 100, false, false},
        {0, 0, false, true},
        {5'000'000'000ull, 1, true, true},  // a rename takes no room
        {5'000'000'000ull, 4'999'999'999ull, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MoveBackHasRoom(c.bytes, c.freeBytes, c.sameVolume), c.fits) << c.bytes << " in " << c.freeBytes;
    }
}

}  // namespace
