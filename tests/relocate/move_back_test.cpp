// Moving a relocated folder's files back, through the engine in this process: every
// run ends with the files at the old path in a plain folder and the target gone, or
// with the files all in the target and the junction back with the bytes it had.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "engine/folder_move.h"
#include "engine/journal_keeper.h"
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
    EXPECT_EQ(observer.heard, (std::vector<M>{M::MoveBackQuestion, M::MoveBackScanFailed}));
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

    // A link among the target's entries would be moved by renaming it, which under
    // Wine moves the folder it points to: refused with its name.
    Relocated folder(scratch.path(), elsewhere.path());
    ASSERT_TRUE(folder.relocated);
    const std::wstring innerLink = folder.target + L"\\shortcut";
    ASSERT_TRUE(CreateJunction(innerLink.c_str(), plain.c_str()));
    RecordingObserver holdsLink;
    EXPECT_EQ(MoveBackFiles(folder.source, holdsLink), MoveBackResult::Refused);
    EXPECT_EQ(holdsLink.heard, (std::vector<M>{M::MoveBackQuestion, M::MoveBackHoldsLink}));
    EXPECT_EQ(holdsLink.lastFacts.name, L"shortcut");
    EXPECT_EQ(ReadNtfsReparseData(folder.source), folder.linkBytes);
    EXPECT_TRUE(PathExists(plain + L"\\a.txt"));
    ASSERT_TRUE(RemoveJunction(innerLink.c_str()));
}

// The journal is on the disk, naming the junction's bytes and every entry, before
// the junction goes; it is gone once the move back has ended in one whole place.
TEST(MoveBack, IsJournalledFromBeforeTheJunctionGoesUntilItEnds) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    ScratchFolder journalFolder(TempRoot());
    const JournalStore store(journalFolder / L"store");
    Relocated folder(scratch.path(), elsewhere.path());
    ASSERT_TRUE(folder.relocated);

    RecordingObserver observer;
    RelocationJournal seen;
    JournalStore::ReadResult read = JournalStore::ReadResult::None;
    bool junctionStood = false;
    observer.onMoving = [&] {
        read = store.Read(seen);
        junctionStood = ReadNtfsReparseData(folder.source).has_value();
    };
    EXPECT_EQ(MoveBackFiles(folder.source, observer, &store), MoveBackResult::Completed);
    ASSERT_EQ(read, JournalStore::ReadResult::Found);
    EXPECT_TRUE(junctionStood);
    EXPECT_EQ(seen.kind, JournalKind::MoveBack);
    EXPECT_EQ(seen.phase, JournalPhase::RollingBack);
    EXPECT_EQ(seen.source, FullPath(folder.source));
    EXPECT_EQ(seen.target, FullPath(folder.target));
    EXPECT_EQ(seen.junctionData, *folder.linkBytes);
    std::vector<std::wstring> names = seen.entries;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Musique d'ambiance", L"docs", L"hidden.dat", L"readme.txt"}));
    EXPECT_FALSE(JournalLeft(store));
    EXPECT_EQ(SnapshotTree(folder.source), folder.before);
}

// Another operation's journal is all that says where its files are: a move back
// waits for it, before it asks anything, and changes nothing.
TEST(MoveBack, APendingJournalRefusesTheMoveBack) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    ScratchFolder journalFolder(TempRoot());
    const JournalStore store(journalFolder / L"store");
    Relocated folder(scratch.path(), elsewhere.path());
    ASSERT_TRUE(folder.relocated);
    RelocationJournal pending;
    pending.source = L"N:\\Elsewhere";
    pending.target = L"M:\\Elsewhere";
    ASSERT_TRUE(store.Write(pending));

    RecordingObserver observer;
    EXPECT_EQ(MoveBackFiles(folder.source, observer, &store), MoveBackResult::Refused);
    EXPECT_EQ(observer.heard, std::vector<M>{M::JournalPending});
    EXPECT_EQ(observer.lastFacts.name, store.path());
    ExpectUnchanged(folder);
    RelocationJournal still;
    ASSERT_EQ(store.Read(still), JournalStore::ReadResult::Found);
    EXPECT_EQ(still, pending);
}

// A failure part-way that is put right leaves no journal; the state after it is
// whole.
TEST(MoveBack, AMoveThatIsPutBackLeavesNoJournal) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder elsewhere(kSecondDrive);
    ScratchFolder journalFolder(TempRoot());
    const JournalStore store(journalFolder / L"store");
    Relocated folder(scratch.path(), elsewhere.path());
    ASSERT_TRUE(folder.relocated);
    RecordingObserver observer;
    HANDLE file = INVALID_HANDLE_VALUE;
    observer.onMoving = [&] {
        file = ::CreateFileW((folder.target + L"\\readme.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    };
    const MoveBackResult result = MoveBackFiles(folder.source, observer, &store);
    ::CloseHandle(file);
    EXPECT_EQ(result, MoveBackResult::RolledBack);
    EXPECT_FALSE(JournalLeft(store));
    ExpectUnchanged(folder);
}

// A move back cut short at each of its steps, as the journal and the disk then
// stand, on the same volume and onto another file system: the recovery tells the
// truth about it, "finish" ends with every file at the old path in a plain folder
// and the emptied folder gone, "undo" with every file in the folder and the
// junction back with its very bytes.
TEST(MoveBackRecovery, EveryCutShortStateEndsWholeEitherWay) {
    struct State {
        const char* name;
        bool junctionRemoved;
        int movedBack;  // entries moved back; -1: all of them
        bool targetRemoved;
        M told;
    };
    const State states[] = {
        {"junction stands", false, 0, false, M::RecoveryMoveBackNotStarted},
        {"junction gone", true, 0, false, M::RecoveryMoveBackJunctionGone},
        {"partly back", true, 2, false, M::RecoveryMoveBackPartly},
        {"all back", true, -1, false, M::RecoveryMoveBackAllBack},
        {"emptied folder gone", true, -1, true, M::RecoveryMoveBackAllBack},
    };
    for (const wchar_t* drive : {kSecondDrive, kPlainDrive}) {
        for (const State& state : states) {
            for (const bool finish : {true, false}) {
                SCOPED_TRACE(std::string(state.name) + (finish ? ", finish" : ", undo") +
                             (drive == kPlainDrive ? ", other file system" : ", same volume"));
                ScratchFolder scratch(kNtfsDrive);
                ScratchFolder elsewhere(drive);
                ScratchFolder journalFolder(TempRoot());
                const JournalStore store(journalFolder / L"store");
                const std::wstring source = scratch / L"Games";
                const std::wstring target = elsewhere / L"Games";
                MakeTree(target, kTree);
                const TreeSnapshot before = SnapshotTree(target);
                ASSERT_TRUE(CreateJunction(source.c_str(), target.c_str()));
                const std::optional<Bytes> linkBytes = ReadNtfsReparseData(source);
                ASSERT_TRUE(linkBytes.has_value());

                RelocationJournal journal;
                journal.kind = JournalKind::MoveBack;
                journal.phase = JournalPhase::RollingBack;
                journal.source = FullPath(source);
                journal.target = FullPath(target);
                journal.junctionData = *linkBytes;
                ASSERT_TRUE(ListFolderEntries(target, journal.entries));
                std::sort(journal.entries.begin(), journal.entries.end());
                ASSERT_TRUE(store.Write(journal));

                if (state.junctionRemoved) {
                    ASSERT_TRUE(RemoveJunction(source.c_str()));
                    if (state.movedBack != 0) {
                        ASSERT_TRUE(::CreateDirectoryW(source.c_str(), nullptr));
                        std::vector<std::wstring> names = journal.entries;
                        if (state.movedBack > 0) names.resize(static_cast<size_t>(state.movedBack));
                        ASSERT_TRUE(MoveEntriesBack(target, source, names));
                    }
                    if (state.targetRemoved) {
                        ASSERT_TRUE(::RemoveDirectoryW(target.c_str()));
                    }
                }
                EXPECT_EQ(Union(SnapshotTree(source), state.junctionRemoved ? SnapshotTree(target) : TreeSnapshot{}),
                          before);
                EXPECT_EQ(AssessRecovery(journal, LookAtDisk(journal)).message, state.told);

                RecordingObserver observer;
                if (finish) {
                    EXPECT_EQ(MoveRelocationBack(journal, store, observer), RelocationResult::RolledBack);
                    EXPECT_EQ(observer.heard, std::vector<M>{M::MoveBackCompleted});
                    EXPECT_FALSE(ReadNtfsReparseData(source).has_value());
                    EXPECT_EQ(::GetFileAttributesW(source.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
                    EXPECT_EQ(SnapshotTree(source), before);
                    EXPECT_FALSE(PathExists(target));
                } else {
                    EXPECT_EQ(FinishRelocation(journal, store, observer), RelocationResult::Completed);
                    EXPECT_EQ(observer.heard, std::vector<M>{M::MoveBackUndone});
                    EXPECT_EQ(ReadNtfsReparseData(source), linkBytes) << "the junction's very bytes";
                    EXPECT_EQ(SnapshotTree(target), before);
                }
                EXPECT_FALSE(JournalLeft(store));
                RemoveTree(source);
            }
        }
    }
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
