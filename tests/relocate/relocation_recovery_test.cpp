// The relocation's journal and the recovery from what a relocation cut short
// leaves, in this process on the test drives: the journal is on the disk before
// each step and gone after a whole ending; from every state that a crash can
// leave, "finish" ends with everything in the destination behind a junction and
// "move back" with everything in the source, each file exactly once.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/disk_calls.h"
#include "engine/folder_move.h"
#include "engine/journal_keeper.h"
#include "engine/relocation_engine.h"
#include "engine/folder_identity.h"
#include "engine/relocation_recovery.h"
#include "junction/junction.h"
#include "tests/driver/test_volumes.h"
#include "tests/relocate/cut_short.h"
#include "tests/relocate/file_tree.h"
#include "tests/relocate/recording_observer.h"
#include "tests/relocate/relocation_session.h"

namespace {

using namespace relocation_testing;
using namespace testing_driver;
using M = RelocationMessage;



// Each phase as the hook saw it, and whether the journal on the disk already said
// so at that moment.
struct SeenPhase {
    JournalPhase phase;
    bool onDisk;
    bool operator==(const SeenPhase& other) const { return phase == other.phase && onDisk == other.onDisk; }
};
std::vector<SeenPhase> seenPhases;
const JournalStore* watchedStore = nullptr;

void RecordPhase(JournalPhase phase, const RelocationJournal& journal) {
    RelocationJournal stored;
    const bool onDisk = watchedStore->Read(stored) == JournalStore::ReadResult::Found && stored == journal &&
                        stored.phase == phase;
    seenPhases.push_back({phase, onDisk});
}

// Watches the phases of one test; the hook is cleared again at the end.
class PhaseWatch {
public:
    explicit PhaseWatch(const JournalStore& store) {
        seenPhases.clear();
        watchedStore = &store;
        SetRelocationPhaseHook(RecordPhase);
    }
    ~PhaseWatch() {
        SetRelocationPhaseHook(nullptr);
        watchedStore = nullptr;
    }
};

const std::vector<TreeFile> kTree = {
    {L"readme.txt", "top"},
    {L"docs\\deep\\report.xls", std::string(70000, 'r')},
    {L"docs\\letter.doc", "letter"},
    {L"hidden.dat", "hidden", FILE_ATTRIBUTE_HIDDEN},
    {L"empty folder\\x.txt", ""},
};

bool JournalLeft(const JournalStore& store) {
    RelocationJournal journal;
    return store.Read(journal) != JournalStore::ReadResult::None;
}

RelocationResult Relocate(const std::wstring& source, const std::wstring& target, const JournalStore& store,
                          RecordingObserver& observer) {
    RelocationRequest request;
    request.source = source;
    request.target = target;
    request.journal = &store;
    return RunRelocation(request, observer);
}

// State (a): everything in the destination, a junction to it at the old path.
void ExpectRelocated(const std::wstring& source, const std::wstring& target, const TreeSnapshot& expected) {
    EXPECT_EQ(SnapshotTree(target), expected) << "destination";
    EXPECT_EQ(OnDiskJunctionTarget(source), std::optional<std::wstring>(L"\\??\\" + FullPath(target)));
    EXPECT_EQ(SnapshotTree(source), expected) << "through the old path";
}

// State (b): everything in the source, a plain folder, none of it in the destination.
void ExpectMovedBack(const std::wstring& source, const std::wstring& target, const TreeSnapshot& expected) {
    EXPECT_EQ(SnapshotTree(source), expected) << "source";
    EXPECT_FALSE(OnDiskJunctionTarget(source).has_value());
    EXPECT_TRUE(SnapshotTree(target).empty()) << "destination";
}

class RelocationJournalling : public ::testing::Test {
protected:
    ScratchFolder journalFolder_{TempRoot()};
    JournalStore store_{journalFolder_ / L"store"};
    ScratchFolder targetParent_{kSecondDrive};
    ScratchFolder sourceParent_{kNtfsDrive};
    std::wstring source_ = sourceParent_ / L"Games";
    std::wstring target_ = targetParent_ / L"Games moved";
};

TEST_F(RelocationJournalling, EveryPhaseIsOnTheDiskBeforeItsStepAndTheJournalGoesAtTheEnd) {
    MakeTree(source_, kTree);
    const TreeSnapshot before = SnapshotTree(source_);
    PhaseWatch watch(store_);

    RecordingObserver observer;
    ASSERT_EQ(Relocate(source_, target_, store_, observer), RelocationResult::Completed);
    EXPECT_EQ(observer.heard, std::vector<M>{M::Completed});
    EXPECT_EQ(seenPhases, (std::vector<SeenPhase>{{JournalPhase::Moving, true},
                                                  {JournalPhase::Moved, true},
                                                  {JournalPhase::SourceRemoved, true},
                                                  {JournalPhase::JunctionMade, true}}));
    EXPECT_FALSE(JournalLeft(store_));
    ExpectRelocated(source_, target_, before);
}

TEST_F(RelocationJournalling, TheJournalNamesTheEntriesAndFullPathsBeforeAnythingMoves) {
    MakeTree(source_, kTree);
    PhaseWatch watch(store_);
    struct Peek {
        static void At(JournalPhase phase, const RelocationJournal& journal) {
            if (phase != JournalPhase::Moving) return;
            // Nothing has moved yet: the source still holds every entry the journal names.
            bool allThere = true;
            for (const auto& name : journal.entries) allThere = allThere && PathExists(journal.source + L"\\" + name);
            seenPhases.push_back({phase, allThere});
            RelocationJournal stored;
            if (watchedStore->Read(stored) == JournalStore::ReadResult::Found) lastStored() = stored;
        }
        static RelocationJournal& lastStored() {
            static RelocationJournal journal;
            return journal;
        }
    };
    SetRelocationPhaseHook(Peek::At);

    RecordingObserver observer;
    ASSERT_EQ(Relocate(source_ + L"\\", target_, store_, observer), RelocationResult::Completed);
    ASSERT_EQ(seenPhases.size(), 1u);
    EXPECT_TRUE(seenPhases[0].onDisk) << "every entry still in the source when the journal was written";
    const RelocationJournal& stored = Peek::lastStored();
    EXPECT_EQ(stored.source, FullPath(source_));
    EXPECT_EQ(stored.target, FullPath(target_));
    std::vector<std::wstring> names = stored.entries;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"docs", L"empty folder", L"hidden.dat", L"readme.txt"}));
}

// A move that fails after it moved some entries: the roll back is journalled as
// such, and the journal goes once all is back.
DiskFault ShellMoveFailsAfterItsWork(DiskCall call, const wchar_t* /*path*/) {
    if (call != DiskCall::ShellMove) return {};
    return {ERROR_ACCESS_DENIED, true};
}

TEST_F(RelocationJournalling, ARollBackIsAnnouncedAndEndsWithoutAJournal) {
    MakeTree(source_, kTree);
    const TreeSnapshot before = SnapshotTree(source_);
    PhaseWatch watch(store_);

    RecordingObserver observer;
    SetDiskFaultSource(ShellMoveFailsAfterItsWork);
    const RelocationResult result = Relocate(source_, target_, store_, observer);
    SetDiskFaultSource(nullptr);
    ASSERT_EQ(result, RelocationResult::RolledBack);
    EXPECT_EQ(observer.heard, (std::vector<M>{M::MoveFailed, M::Restored}));
    EXPECT_EQ(seenPhases, (std::vector<SeenPhase>{{JournalPhase::Moving, true}, {JournalPhase::RollingBack, true}}));
    EXPECT_FALSE(JournalLeft(store_));
    ExpectMovedBack(source_, target_, before);
}

TEST_F(RelocationJournalling, AJournalThatCannotBeWrittenStopsTheRelocationBeforeAnythingMoves) {
    MakeTree(source_, kTree);
    const TreeSnapshot before = SnapshotTree(source_);
    // The journal's folder would have to be made inside a file.
    MakeTree(journalFolder_.path(), {{L"a file", "not a folder"}});
    const JournalStore unwritable(journalFolder_ / L"a file\\store");

    RecordingObserver observer;
    EXPECT_EQ(Relocate(source_, target_, unwritable, observer), RelocationResult::NotStarted);
    EXPECT_EQ(observer.heard, std::vector<M>{M::JournalNotWritten});
    EXPECT_EQ(observer.lastFacts.name, unwritable.path());
    EXPECT_EQ(SnapshotTree(source_), before);
    EXPECT_FALSE(PathExists(target_));
}

// A journal kept inside the folders it describes would move with them (someone
// relocating the whole local application-data folder).
TEST_F(RelocationJournalling, AJournalInsideEitherFolderStopsTheRelocationBeforeAnythingMoves) {
    MakeTree(source_, kTree);
    const TreeSnapshot before = SnapshotTree(source_);
    const JournalStore insideSource(source_ + L"\\docs\\Dirshift");
    const JournalStore insideTarget(target_ + L"\\Dirshift");
    for (const JournalStore* store : {&insideSource, &insideTarget}) {
        RecordingObserver observer;
        EXPECT_EQ(Relocate(source_, target_, *store, observer), RelocationResult::NotStarted);
        EXPECT_EQ(observer.heard, std::vector<M>{M::JournalInsideFolders});
        EXPECT_EQ(observer.lastFacts.name, store->folder());
        EXPECT_FALSE(PathExists(store->path()));
    }
    EXPECT_EQ(SnapshotTree(source_), before);
    EXPECT_FALSE(PathExists(target_));
}

TEST_F(RelocationJournalling, AnotherRelocationsJournalIsNeverOverwritten) {
    MakeTree(source_, kTree);
    const TreeSnapshot before = SnapshotTree(source_);
    RelocationJournal pending;
    pending.source = L"N:\\elsewhere";
    pending.target = L"M:\\elsewhere";
    pending.entries = {L"a.txt"};
    ASSERT_TRUE(store_.Write(pending));

    RecordingObserver observer;
    EXPECT_EQ(Relocate(source_, target_, store_, observer), RelocationResult::NotStarted);
    EXPECT_EQ(observer.heard, std::vector<M>{M::JournalPending});
    RelocationJournal stored;
    ASSERT_EQ(store_.Read(stored), JournalStore::ReadResult::Found);
    EXPECT_EQ(stored, pending);
    EXPECT_EQ(SnapshotTree(source_), before);
    EXPECT_FALSE(PathExists(target_));
}

// The journal's own path, with the calls that look at it failing as chosen.
struct JournalLookFaults {
    static inline std::wstring path;
    static inline bool openFails = false;
    static inline bool lookFails = false;
    static DiskFault At(DiskCall call, const wchar_t* callPath) {
        if (path != callPath) return {};
        if ((call == DiskCall::Open && openFails) || (call == DiskCall::ReadAttributes && lookFails)) {
            return {ERROR_ACCESS_DENIED, false};
        }
        return {};
    }
};

// A journal that does not open is no proof that one is kept: with no journal there
// the relocation goes ahead; when even its place cannot be read, the refusal says
// exactly that, not that an earlier relocation did not end.
TEST_F(RelocationJournalling, AJournalThatCannotBeOpenedIsNotTakenForAPendingOne) {
    struct Case {
        bool lookFails;
        RelocationResult result;
        std::vector<M> heard;
    };
    const Case cases[] = {
        {false, RelocationResult::Completed, {M::Completed}},
        {true, RelocationResult::NotStarted, {M::JournalUnreadable}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lookFails ? "the journal's place cannot be read" : "no journal there");
        MakeTree(source_, kTree);
        const TreeSnapshot before = SnapshotTree(source_);
        JournalLookFaults::path = store_.path();
        JournalLookFaults::openFails = true;
        JournalLookFaults::lookFails = c.lookFails;
        SetDiskFaultSource(JournalLookFaults::At);
        RecordingObserver observer;
        const RelocationResult result = Relocate(source_, target_, store_, observer);
        SetDiskFaultSource(nullptr);

        EXPECT_EQ(result, c.result);
        EXPECT_EQ(observer.heard, c.heard);
        EXPECT_FALSE(JournalLeft(store_));
        if (c.result == RelocationResult::Completed) {
            ExpectRelocated(source_, target_, before);
            ASSERT_TRUE(RemoveJunction(source_.c_str()));
        } else {
            EXPECT_EQ(observer.lastFacts.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
            EXPECT_EQ(SnapshotTree(source_), before);
            EXPECT_FALSE(PathExists(target_));
        }
        RemoveTree(source_);
        RemoveTree(target_);
    }
}

TEST(RecoveryAssessment, TheDiskDecidesWhatTheUserIsToldAndOffered) {
    RelocationJournal journal;
    journal.entries = {L"a", L"b", L"c"};
    using F = FolderKind;
    using P = JournalPhase;
    struct Case {
        P phase;
        RecoveryDiskView view;
        RelocationMessage message;
        bool canAct;
    };
    const Case cases[] = {
        {P::Moving, {F::PlainFolder, F::Missing, 3, 0, 0, 0}, M::RecoveryNothingMoved, true},
        {P::Moving, {F::PlainFolder, F::PlainFolder, 3, 0, 0, 0}, M::RecoveryNothingMoved, true},
        {P::Moving, {F::PlainFolder, F::PlainFolder, 1, 2, 0, 0}, M::RecoveryPartlyMoved, true},
        {P::Moving, {F::PlainFolder, F::PlainFolder, 2, 0, 1, 0}, M::RecoveryPartlyMoved, true},
        {P::Moved, {F::PlainFolder, F::PlainFolder, 0, 3, 0, 0}, M::RecoveryAllMoved, true},
        {P::SourceRemoved, {F::PlainFolder, F::PlainFolder, 0, 3, 0, 0}, M::RecoveryAllMoved, true},
        {P::SourceRemoved, {F::Missing, F::PlainFolder, 0, 3, 0, 0}, M::RecoverySourceRemoved, true},
        {P::Moving, {F::Missing, F::PlainFolder, 0, 2, 0, 1}, M::RecoverySourceRemoved, true},
        {P::JunctionMade, {F::JunctionToTarget, F::PlainFolder, 0, 3, 0, 0}, M::RecoveryJunctionMade, true},
        {P::RollingBack, {F::PlainFolder, F::PlainFolder, 1, 2, 0, 0}, M::RecoveryRollingBack, true},
        {P::RollingBack, {F::PlainFolder, F::PlainFolder, 3, 0, 0, 0}, M::RecoveryNothingMoved, true},
        {P::Moving, {F::Missing, F::Missing, 0, 0, 0, 3}, M::RecoveryFoldersGone, false},
        {P::Moved, {F::PlainFolder, F::PlainFolder, 0, 0, 0, 3}, M::RecoveryFoldersGone, false},
        {P::Moved, {F::Other, F::PlainFolder, 0, 3, 0, 0}, M::RecoveryFoldersChanged, false},
        {P::Moving, {F::PlainFolder, F::Other, 3, 0, 0, 0}, M::RecoveryFoldersChanged, false},
    };
    for (const Case& c : cases) {
        journal.phase = c.phase;
        const RecoveryAssessment assessment = AssessRecovery(journal, c.view);
        EXPECT_EQ(assessment.message, c.message) << static_cast<int>(&c - cases);
        EXPECT_EQ(assessment.canAct, c.canAct) << static_cast<int>(&c - cases);
    }
}

// Every state that a relocation cut short can leave, made by hand on the disk.

class RecoveryFromEveryState : public RelocationJournalling {
protected:
    // Makes the state, writes its journal, and returns the files' snapshot.
    TreeSnapshot Make(CutAt cut) {
        MakeTree(source_, kTree);
        const TreeSnapshot before = SnapshotTree(source_);
        RelocationJournal journal;
        EXPECT_TRUE(LeaveCutShort(source_, target_, cut, journal));
        EXPECT_TRUE(store_.Write(journal));
        return before;
    }

    RelocationJournal Journal() {
        RelocationJournal journal;
        EXPECT_EQ(store_.Read(journal), JournalStore::ReadResult::Found);
        return journal;
    }
};

TEST_F(RecoveryFromEveryState, FinishEndsRelocatedAndMoveBackEndsWhereItBegan) {
    struct Case {
        CutAt cut;
        RelocationMessage told;
    };
    const Case cases[] = {
        {CutAt::Moving, M::RecoveryNothingMoved},           {CutAt::MovingPartly, M::RecoveryPartlyMoved},
        {CutAt::Moved, M::RecoveryAllMoved},                {CutAt::SourceRemoved, M::RecoverySourceRemoved},
        {CutAt::JunctionMade, M::RecoveryJunctionMade},     {CutAt::RollingBackPartly, M::RecoveryRollingBack},
    };
    for (const Case& c : cases) {
        for (const bool finish : {true, false}) {
            SCOPED_TRACE(testing::Message() << "state " << static_cast<int>(c.cut) << (finish ? " finish" : " back"));
            const TreeSnapshot before = Make(c.cut);
            const RelocationJournal journal = Journal();
            const RecoveryAssessment assessment = AssessRecovery(journal, LookAtDisk(journal));
            EXPECT_EQ(assessment.message, c.told);
            EXPECT_TRUE(assessment.canAct);

            RecordingObserver observer;
            if (finish) {
                EXPECT_EQ(FinishRelocation(journal, store_, observer), RelocationResult::Completed);
                EXPECT_EQ(observer.heard, std::vector<M>{M::Completed});
                ExpectRelocated(source_, target_, before);
            } else {
                EXPECT_EQ(MoveRelocationBack(journal, store_, observer), RelocationResult::RolledBack);
                EXPECT_EQ(observer.heard, std::vector<M>{M::Restored});
                ExpectMovedBack(source_, target_, before);
            }
            EXPECT_EQ(observer.lastFacts.source, journal.source);
            EXPECT_EQ(observer.lastFacts.target, journal.target);
            EXPECT_FALSE(JournalLeft(store_));
            RemoveTree(source_);
            RemoveTree(target_);
        }
    }
}

// A copy between two drives cut short leaves a file in both folders: neither copy
// is ever given up, and the journal stays to say so at the next start.
TEST_F(RecoveryFromEveryState, AFileInBothFoldersIsNeverReplacedAndTheJournalStays) {
    Make(CutAt::MovingPartly);
    const RelocationJournal journal = Journal();
    const std::wstring half = source_ + L"\\" + journal.entries.back();
    const std::wstring copy = target_ + L"\\" + journal.entries.back();
    ASSERT_FALSE(IsFolder(half));
    WriteTextFile(copy, "a copy cut short");
    const TreeSnapshot sourceBefore = SnapshotTree(source_);
    const TreeSnapshot targetBefore = SnapshotTree(target_);
    EXPECT_EQ(AssessRecovery(journal, LookAtDisk(journal)).message, M::RecoveryPartlyMoved);

    RecordingObserver finishing;
    EXPECT_EQ(FinishRelocation(journal, store_, finishing), RelocationResult::NotRestored);
    EXPECT_EQ(finishing.heard, (std::vector<M>{M::MoveFailed, M::NotRestored}));
    std::vector<std::wstring> twice;
    EXPECT_EQ(Union(SnapshotTree(source_), SnapshotTree(target_), &twice).size(),
              Union(sourceBefore, targetBefore).size());
    EXPECT_EQ(twice.size(), 1u);
    EXPECT_TRUE(JournalLeft(store_));
    EXPECT_FALSE(OnDiskJunctionTarget(source_).has_value());
}

TEST_F(RecoveryFromEveryState, VanishedOrChangedFoldersAreNeverActedOn) {
    RelocationJournal journal;
    journal.source = FullPath(source_);
    journal.target = FullPath(target_);
    journal.entries = {L"a.txt", L"docs"};
    journal.phase = JournalPhase::Moved;
    EXPECT_EQ(AssessRecovery(journal, LookAtDisk(journal)).message, M::RecoveryFoldersGone);

    // A file where the source was, and a junction to somewhere else.
    MakeTree(targetParent_.path(), {{L"Games moved\\a.txt", "a"}});
    WriteTextFile(source_, "a file now");
    RecoveryAssessment assessment = AssessRecovery(journal, LookAtDisk(journal));
    EXPECT_EQ(assessment.message, M::RecoveryFoldersChanged);
    EXPECT_FALSE(assessment.canAct);
    ASSERT_TRUE(::DeleteFileW(source_.c_str()));
    const std::wstring elsewhere = targetParent_ / L"elsewhere";
    ASSERT_TRUE(CreateJunction(source_.c_str(), elsewhere.c_str()));
    assessment = AssessRecovery(journal, LookAtDisk(journal));
    EXPECT_EQ(assessment.message, M::RecoveryFoldersChanged);
    EXPECT_FALSE(assessment.canAct);
    EXPECT_TRUE(RemoveJunction(source_.c_str()));
}

// A plain folder standing where the journal's was, but another one (the folder
// it named renamed away and one of the same name put there, with names the
// journal lists): it is never acted on, even when asked to directly.
TEST_F(RecoveryFromEveryState, AnotherFolderOfTheSameNameIsNeverActedOn) {
    MakeTree(source_, {{L"a.txt", "the user's"}});
    MakeTree(target_, {{L"docs\\b.txt", "moved"}});
    RelocationJournal journal;
    journal.source = FullPath(source_);
    journal.target = FullPath(target_);
    journal.entries = {L"a.txt", L"docs"};
    journal.phase = JournalPhase::Moving;
    ASSERT_TRUE(ReadPlainFolderId(target_, journal.targetId));
    ASSERT_TRUE(ReadPlainFolderId(source_, journal.sourceId));
    EXPECT_TRUE(AssessRecovery(journal, LookAtDisk(journal)).canAct) << "the folders the journal names";

    ASSERT_TRUE(::MoveFileW(target_.c_str(), (target_ + L" aside").c_str()));
    MakeTree(target_, {{L"docs\\planted.dll", "not the user's"}});
    const TreeSnapshot planted = SnapshotTree(target_);
    const TreeSnapshot sourceBefore = SnapshotTree(source_);
    const RecoveryAssessment assessment = AssessRecovery(journal, LookAtDisk(journal));
    EXPECT_EQ(assessment.message, M::RecoveryFoldersChanged);
    EXPECT_FALSE(assessment.canAct);
    ASSERT_TRUE(store_.Write(journal));
    RecordingObserver observer;
    EXPECT_EQ(MoveRelocationBack(journal, store_, observer), RelocationResult::NotStarted);
    EXPECT_EQ(FinishRelocation(journal, store_, observer), RelocationResult::NotStarted);
    EXPECT_EQ(observer.heard, (std::vector<M>{M::FolderReplaced, M::FolderReplaced}));
    EXPECT_EQ(SnapshotTree(target_), planted);
    EXPECT_EQ(SnapshotTree(source_), sourceBefore);
    EXPECT_TRUE(JournalLeft(store_));
}

// "Finish" on a drive where no junction can be made would move the files only to
// bring them back: it is refused before anything moves, and the journal stays.
TEST_F(RecoveryFromEveryState, FinishOnADriveWithoutJunctionsChangesNothing) {
    ScratchFolder plain(kPlainDrive);
    source_ = plain / L"Games";
    target_ = plain / L"Games moved";
    const TreeSnapshot all = Make(CutAt::MovingPartly);
    const TreeSnapshot sourceBefore = SnapshotTree(source_);
    const TreeSnapshot targetBefore = SnapshotTree(target_);
    const RelocationJournal journal = Journal();

    RecordingObserver finishing;
    EXPECT_EQ(FinishRelocation(journal, store_, finishing), RelocationResult::NotStarted);
    EXPECT_EQ(finishing.heard, std::vector<M>{M::NoReparseSupport});
    EXPECT_EQ(SnapshotTree(source_), sourceBefore);
    EXPECT_EQ(SnapshotTree(target_), targetBefore);
    EXPECT_TRUE(JournalLeft(store_));

    RecordingObserver movingBack;
    EXPECT_EQ(MoveRelocationBack(journal, store_, movingBack), RelocationResult::RolledBack);
    ExpectMovedBack(source_, target_, all);
    EXPECT_FALSE(JournalLeft(store_));
}

}  // namespace
