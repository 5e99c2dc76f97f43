// A relocation between drives, in this process on the test drives: the files are
// copied and proven before the source is renamed aside, the junction takes its
// place, and the source is deleted last. Every ending leaves each file exactly
// once where the message says, and a cancelled or failed copy leaves the source
// exactly as it was with nothing of the copy left.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "engine/disk_calls.h"
#include "engine/journal_keeper.h"
#include "engine/move_back.h"
#include "engine/tree_copy.h"
#include "engine/relocation_engine.h"
#include "engine/relocation_recovery.h"
#include "junction/junction.h"
#include "tests/driver/host_view.h"
#include "tests/driver/process_census.h"
#include "tests/driver/test_volumes.h"
#include "tests/relocate/file_tree.h"
#include "tests/relocate/recording_observer.h"
#include "tests/relocate/relocation_session.h"

namespace {

using namespace relocation_testing;
using namespace testing_driver;
using M = RelocationMessage;

constexpr wchar_t kAsideSuffix[] = L".moved-by-dirshift";

const std::vector<TreeFile> kTree = {
    {L"readme.txt", "top"},
    {L"docs\\deep\\report.xls", std::string(70000, 'r')},
    {L"docs\\letter.doc", "letter"},
    {L"hidden.dat", "hidden", FILE_ATTRIBUTE_HIDDEN},
    {L"locked.ini", "read only", FILE_ATTRIBUTE_READONLY},
    {L"empty folder\\x.txt", ""},
};

// Many small files and a few larger ones: a copy that takes long enough to be
// cancelled or disturbed part-way.
std::vector<TreeFile> BusyTree() {
    std::vector<TreeFile> files;
    for (int i = 0; i < 120; ++i) {
        files.push_back({L"many\\" + std::to_wstring(i % 6) + L"\\file" + std::to_wstring(i) + L".bin",
                         std::string(20000 + i, static_cast<char>('a' + i % 26))});
    }
    for (int i = 0; i < 3; ++i) files.push_back({L"large" + std::to_wstring(i) + L".bin", std::string(400000, 'L')});
    return files;
}

// An observer that can act while the copy runs, as a user or another program would.
class CopyObserver : public RecordingObserver {
public:
    void OnCopyProgress(const TreeCopyProgress& progress) override {
        ++reports;
        if (progress.verifying) verifying = true;
        if (onProgress) onProgress(progress);
    }
    void WaitForCopy(HANDLE worker, std::atomic<bool>& cancel) override {
        const ULONGLONG start = ::GetTickCount64();
        if (cancelAfterMs >= 0 && ::WaitForSingleObject(worker, static_cast<DWORD>(cancelAfterMs)) == WAIT_TIMEOUT) {
            cancel = true;
            cancelled = true;
        }
        ::WaitForSingleObject(worker, INFINITE);
        waitedMs = static_cast<int>(::GetTickCount64() - start);
    }
    void OnSwapping(bool swapping) override {
        swaps.push_back(swapping);
        if (swapping && onSwapping) onSwapping();
    }

    std::function<void(const TreeCopyProgress&)> onProgress;  // from the copy's threads
    std::function<void()> onSwapping;
    int cancelAfterMs = -1;  // cancel this long into the copy; -1: never
    std::atomic<int> reports{0};
    std::atomic<bool> verifying{false};
    bool cancelled = false;
    int waitedMs = 0;  // how long the copy's worker ran
    std::vector<bool> swaps;
};

class CopyAcross : public ::testing::Test {
protected:
    RelocationResult Relocate(CopyObserver& observer, const std::wstring& target) {
        RelocationRequest request;
        request.source = source_;
        request.target = target;
        request.journal = &store_;
        return RunRelocation(request, observer);
    }

    bool JournalLeft() const {
        RelocationJournal journal;
        return store_.Read(journal) != JournalStore::ReadResult::None;
    }

    // Everything in the destination behind a junction, nothing beside the old path.
    void ExpectRelocated(const std::wstring& target, const TreeSnapshot& expected) {
        EXPECT_EQ(SnapshotTree(target), expected) << "destination";
        EXPECT_EQ(OnDiskJunctionTarget(source_), std::optional<std::wstring>(L"\\??\\" + FullPath(target)));
        EXPECT_EQ(SnapshotTree(source_), expected) << "through the old path";
        EXPECT_FALSE(PathExists(source_ + kAsideSuffix)) << "the original, renamed aside, is gone";
        EXPECT_FALSE(JournalLeft());
    }

    // The source exactly as it was, and nothing of a copy in the destination.
    void ExpectUntouched(const std::wstring& target, const TreeSnapshot& before, const TreeSnapshot& targetBefore) {
        EXPECT_EQ(SnapshotTree(source_), before) << "source";
        EXPECT_EQ(HostTypeOf(source_), HostType::Directory);
        EXPECT_EQ(SnapshotTree(target), targetBefore) << "destination";
        EXPECT_FALSE(PathExists(source_ + kAsideSuffix));
        EXPECT_FALSE(JournalLeft());
    }

    ScratchFolder journalFolder_{TempRoot()};
    JournalStore store_{journalFolder_ / L"store"};
    ScratchFolder sourceParent_{kNtfsDrive};
    std::wstring source_ = sourceParent_ / L"Games";
};

TEST_F(CopyAcross, EveryPhaseIsJournalledAndTheSourceGoesOnlyOnceTheJunctionStands) {
    ScratchFolder plain(kPlainDrive);
    const std::wstring target = plain / L"Games moved";
    MakeTree(source_, kTree);
    MakeTree(target, {{L"own.txt", "the destination's own file"}});
    const TreeSnapshot before = SnapshotTree(source_);
    const TreeSnapshot targetBefore = SnapshotTree(target);
    struct Watch {
        static void At(JournalPhase phase, const RelocationJournal& journal) {
            // What the disk holds as each phase is announced.
            const bool sourceThere = HostTypeOf(journal.source) == HostType::Directory;
            const bool asideThere = PathExists(journal.aside);
            seen().push_back({phase, sourceThere, asideThere});
        }
        struct Seen {
            JournalPhase phase;
            bool sourceIsFolder;
            bool asideThere;
            bool operator==(const Seen& o) const {
                return phase == o.phase && sourceIsFolder == o.sourceIsFolder && asideThere == o.asideThere;
            }
        };
        static std::vector<Seen>& seen() {
            static std::vector<Seen> all;
            return all;
        }
    };
    Watch::seen().clear();
    SetRelocationPhaseHook(Watch::At);
    CopyObserver observer;
    const RelocationResult result = Relocate(observer, target);
    SetRelocationPhaseHook(nullptr);

    EXPECT_EQ(result, RelocationResult::Completed);
    EXPECT_EQ(observer.heard, std::vector<M>{M::Completed});
    EXPECT_EQ(observer.moving, (std::vector<bool>{true, false})) << "log-off held off while files move";
    EXPECT_EQ(observer.swaps, (std::vector<bool>{true, false}));
    EXPECT_GT(observer.reports.load(), 0);
    EXPECT_TRUE(observer.verifying.load()) << "the copy is checked before the source goes";
    using S = Watch::Seen;
    EXPECT_EQ(Watch::seen(), (std::vector<S>{{JournalPhase::Copying, true, false},
                                             {JournalPhase::Verified, true, false},
                                             {JournalPhase::Swapped, false, true},
                                             {JournalPhase::DeletingSource, false, true}}));
    ExpectRelocated(target, Union(before, targetBefore));
}

// Links inside travel as links between two NTFS drives: one into the tree is
// pointed at its new place, one out of it keeps its target, and deleting the
// original never goes through either.
TEST_F(CopyAcross, LinksTravelAsLinksAndTheOriginalIsDeletedWithoutEnteringThem) {
    ScratchFolder small(kSmallNtfsDrive);
    ScratchFolder outside(kNtfsDrive, L"outside");
    const std::wstring target = small / L"Games moved";
    MakeTree(source_, kTree);
    MakeTree(outside.path(), {{L"theirs.txt", "not part of the move"}});
    ASSERT_TRUE(CreateJunction((source_ + L"\\Application Data").c_str(), outside.path().c_str()));
    ASSERT_TRUE(CreateJunction((source_ + L"\\docs\\to deep").c_str(), (source_ + L"\\docs\\deep").c_str()));
    const TreeSnapshot before = SnapshotTree(source_);
    const TreeSnapshot outsideBefore = SnapshotTree(outside.path());

    CopyObserver observer;
    EXPECT_EQ(Relocate(observer, target), RelocationResult::Completed);
    EXPECT_EQ(observer.heard, std::vector<M>{M::Completed});
    ExpectRelocated(target, before);
    EXPECT_EQ(OnDiskJunctionTarget(target + L"\\Application Data"),
              std::optional<std::wstring>(L"\\??\\" + FullPath(outside.path())));
    EXPECT_EQ(OnDiskJunctionTarget(target + L"\\docs\\to deep"),
              std::optional<std::wstring>(L"\\??\\" + FullPath(target) + L"\\docs\\deep"));
    EXPECT_EQ(SnapshotTree(outside.path()), outsideBefore) << "what a link pointed to is never deleted";
}

// Cancel at any moment of the copy or its check: the source as it was, nothing of
// the copy left, no thread or handle left; or, when the copy was done before the
// cancel, a whole relocation.
TEST_F(CopyAcross, CancelAtRandomMomentsLeavesTheSourceAsItWasAndNoCopy) {
    ScratchFolder plain(kPlainDrive);
    const std::wstring target = plain / L"Games moved";
    MakeTree(source_, BusyTree());
    const TreeSnapshot before = SnapshotTree(source_);
    // One whole relocation first: how long its copy takes bounds the moments to
    // cancel at, on a machine of any speed.
    const auto undo = [&] {
        ASSERT_TRUE(RemoveJunction(source_.c_str()));
        RemoveTree(target);
        MakeTree(source_, BusyTree());
    };
    int wholeCopyMs = 0;
    {
        CopyObserver whole;
        ASSERT_EQ(Relocate(whole, target), RelocationResult::Completed);
        wholeCopyMs = whole.waitedMs;
        undo();
    }
    std::mt19937 random(20261211);
    std::uniform_int_distribution<int> delay(0, std::max(1, wholeCopyMs * 3 / 4));
    int cancelledRuns = 0;
    // The first run loads what the process then keeps (libraries, the lock's
    // objects): the census counts from after it.
    std::optional<ProcessCensus> census;
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        CopyObserver observer;
        observer.cancelAfterMs = delay(random);
        const RelocationResult result = Relocate(observer, target);
        if (result == RelocationResult::Completed) {
            // The copy ended before the cancel came: a whole relocation, undone by
            // hand for the next run.
            EXPECT_EQ(observer.heard, std::vector<M>{M::Completed});
            ExpectRelocated(target, before);
            undo();
            continue;
        }
        ++cancelledRuns;
        EXPECT_EQ(result, RelocationResult::RolledBack);
        EXPECT_EQ(observer.heard, std::vector<M>{M::CopyCancelled});
        ExpectUntouched(target, before, {});
        EXPECT_FALSE(PathExists(target)) << "the destination made for the copy is removed with it";
        if (census) {
            EXPECT_EQ(TakeProcessCensus(), *census) << "no thread or handle left";
        } else {
            census = TakeProcessCensus();
        }
    }
    EXPECT_GT(cancelledRuns, 5) << "the cancels must reach the copy (a whole copy took " << wholeCopyMs << " ms)";
}

// The destination fills while the files are copied (another program writes to
// it after the room was checked): the copy fails, and is removed.
TEST_F(CopyAcross, ADestinationThatFillsUpMidCopyLeavesTheSourceAsItWas) {
    ScratchFolder small(kSmallNtfsDrive);
    const std::wstring target = small / L"Games moved";
    MakeTree(source_, {{L"a.bin", std::string(600000, 'a')}, {L"sub\\b.bin", std::string(600000, 'b')},
                       {L"sub\\c.txt", "c"}});
    const TreeSnapshot before = SnapshotTree(source_);
    const std::wstring filler = small / L"filler.bin";
    CopyObserver observer;
    observer.onMoving = [&] {
        // Leaves room for a little of the copy only.
        ULARGE_INTEGER available;
        ASSERT_TRUE(::GetDiskFreeSpaceExW(small.path().c_str(), &available, nullptr, nullptr));
        ASSERT_GT(available.QuadPart, 900000u);
        WriteTextFile(filler, std::string(static_cast<size_t>(available.QuadPart - 700000), 'f'));
    };

    EXPECT_EQ(Relocate(observer, target), RelocationResult::RolledBack);
    ASSERT_EQ(observer.heard, std::vector<M>{M::CopyTargetFailed});
    EXPECT_EQ(observer.lastFacts.error, static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_NE(observer.lastFacts.name.find(FullPath(target)), std::wstring::npos) << "names the copy that failed";
    ExpectUntouched(target, before, {});
}

// A file that a program changes while it is copied: its copy cannot be proven,
// so nothing is swapped.
TEST_F(CopyAcross, AFileChangedDuringTheCopyStopsItBeforeTheSwap) {
    ScratchFolder plain(kPlainDrive);
    const std::wstring target = plain / L"Games moved";
    MakeTree(source_, kTree);
    const TreeSnapshot before = SnapshotTree(source_);
    const std::wstring changing = source_ + L"\\docs\\letter.doc";
    std::atomic<bool> changed{false};
    CopyObserver observer;
    observer.onProgress = [&](const TreeCopyProgress&) {
        if (changed.exchange(true)) return;
        HANDLE file = ::CreateFileW(changing.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        ::WriteFile(file, " and more", 9, &written, nullptr);
        ::CloseHandle(file);
    };
    EXPECT_EQ(Relocate(observer, target), RelocationResult::RolledBack);
    EXPECT_EQ(observer.heard, std::vector<M>{M::CopySourceChanged});
    EXPECT_EQ(observer.lastFacts.name, FullPath(changing));
    TreeSnapshot after = SnapshotTree(source_);
    EXPECT_NE(after[L"DOCS\\LETTER.DOC"], before.at(L"DOCS\\LETTER.DOC")) << "the change is kept";
    after[L"DOCS\\LETTER.DOC"] = before.at(L"DOCS\\LETTER.DOC");
    EXPECT_EQ(after, before) << "every other file as it was";
    EXPECT_FALSE(PathExists(target));
    EXPECT_FALSE(JournalLeft());
    EXPECT_EQ(HostTypeOf(source_), HostType::Directory);
}

// A file written into the source after it was copied has no copy: the original
// keeps it, and the user is told where.
TEST_F(CopyAcross, AFileWrittenAfterTheCopyIsKeptInTheRenamedOriginal) {
    ScratchFolder plain(kPlainDrive);
    const std::wstring target = plain / L"Games moved";
    MakeTree(source_, kTree);
    const TreeSnapshot before = SnapshotTree(source_);
    CopyObserver observer;
    observer.onSwapping = [&] { WriteTextFile(source_ + L"\\docs\\late.txt", "written after the copy"); };

    EXPECT_EQ(Relocate(observer, target), RelocationResult::Completed);
    EXPECT_EQ(observer.heard, std::vector<M>{M::CompletedSourceLeft});
    const std::wstring aside = FullPath(source_) + kAsideSuffix;
    EXPECT_EQ(observer.lastFacts.name, aside);
    EXPECT_EQ(SnapshotTree(target), before);
    EXPECT_EQ(SnapshotTree(aside).size(), 1u) << "only the file without a copy is left";
    EXPECT_TRUE(PathExists(aside + L"\\docs\\late.txt"));
    EXPECT_EQ(OnDiskJunctionTarget(source_), std::optional<std::wstring>(L"\\??\\" + FullPath(target)));
    EXPECT_FALSE(JournalLeft());
}

// Each step of the swap failing: the source back in its place and the copy
// gone; or, when the source cannot even be renamed back, the user told where it
// is and the journal kept, from which both recovery choices end whole.
struct CallFault {
    DiskCall call;
    const wchar_t* pathEnd;  // only calls on a path that ends so count
    int nth;                 // which of those fails
};
std::vector<CallFault> faults;
std::vector<int> callsSeen;
DiskFault FailChosenCalls(DiskCall call, const wchar_t* path) {
    const std::wstring where = path != nullptr ? path : L"";
    for (size_t i = 0; i < faults.size(); ++i) {
        const std::wstring end = faults[i].pathEnd;
        const bool matches = where.size() >= end.size() && where.compare(where.size() - end.size(), end.size(), end) == 0;
        if (faults[i].call == call && matches && ++callsSeen[i] == faults[i].nth) return {ERROR_ACCESS_DENIED, false};
    }
    return {};
}

struct SwapCase {
    const char* name;
    std::vector<CallFault> faults;
    M heard;
    RelocationResult result;
};

TEST_F(CopyAcross, ASwapThatFailsPutsTheSourceBackOrSaysWhereItIs) {
    ScratchFolder plain(kPlainDrive);
    const std::wstring target = plain / L"Games moved";
    const std::wstring aside = FullPath(source_) + kAsideSuffix;
    const SwapCase cases[] = {
        // The in-use probe renames the source once before.
        {"rename aside", {{DiskCall::Move, L"\\Games", 2}}, M::SourceNotRenamed, RelocationResult::RolledBack},
        {"junction", {{DiskCall::MakeJunction, L"", 1}}, M::JunctionFailedRestored, RelocationResult::RolledBack},
        {"junction and rename back",
         {{DiskCall::MakeJunction, L"", 1}, {DiskCall::Move, kAsideSuffix, 1}},
         M::SwapStuckAside,
         RelocationResult::NotRestored},
    };
    for (const bool finish : {true, false}) {
        for (const SwapCase& swapCase : cases) {
            // Only a source left aside has a recovery to try both ways.
            if (!finish && swapCase.result != RelocationResult::NotRestored) continue;
            SCOPED_TRACE(std::string(swapCase.name) + (finish ? ", finished" : ", moved back"));
            MakeTree(source_, kTree);
            const TreeSnapshot before = SnapshotTree(source_);
            faults = swapCase.faults;
            callsSeen.assign(faults.size(), 0);
            SetDiskFaultSource(FailChosenCalls);
            CopyObserver observer;
            const RelocationResult result = Relocate(observer, target);
            SetDiskFaultSource(nullptr);
            EXPECT_EQ(result, swapCase.result);
            EXPECT_EQ(observer.heard, std::vector<M>{swapCase.heard});
            if (swapCase.result == RelocationResult::NotRestored) {
                EXPECT_EQ(observer.lastFacts.name, aside);
                EXPECT_FALSE(PathExists(source_));
                EXPECT_EQ(SnapshotTree(aside), before) << "every file in the renamed source";
                EXPECT_EQ(SnapshotTree(target), before) << "and its proven copy";
                RelocationJournal journal;
                ASSERT_EQ(store_.Read(journal), JournalStore::ReadResult::Found);
                const RecoveryAssessment assessment = AssessRecovery(journal, LookAtDisk(journal));
                EXPECT_EQ(assessment.message, M::RecoveryCopySwapCutShort);
                EXPECT_TRUE(assessment.canAct);
                RecordingObserver recovering;
                if (finish) {
                    EXPECT_EQ(FinishRelocation(journal, store_, recovering), RelocationResult::Completed);
                    EXPECT_EQ(recovering.heard, std::vector<M>{M::Completed});
                    ExpectRelocated(target, before);
                    ASSERT_TRUE(RemoveJunction(source_.c_str()));
                } else {
                    EXPECT_EQ(MoveRelocationBack(journal, store_, recovering), RelocationResult::RolledBack);
                    EXPECT_EQ(recovering.heard, std::vector<M>{M::Restored});
                    ExpectUntouched(target, before, {});
                }
            } else {
                ExpectUntouched(target, before, {});
            }
            RemoveTree(source_);
            RemoveTree(target);
        }
    }
}

// Paths of any length, as only a copy can take them: a file more than 300
// characters deep is moved to another drive and back, each file by size.
TEST_F(CopyAcross, PathsLongerThanThreeHundredCharactersAreMovedAndMovedBack) {
    ScratchFolder plain(kPlainDrive);
    const std::wstring target = plain / L"Games moved";
    MakeLongTree(source_);
    const std::vector<std::wstring> before = LongTreeFiles(source_);
    ASSERT_EQ(before.size(), 6u);
    const auto deepest = std::max_element(before.begin(), before.end(), [](const std::wstring& a, const std::wstring& b) {
        return a.size() < b.size();
    });
    ASSERT_GT(FullPath(source_).size() + deepest->size(), 300u) << "the deepest path";

    CopyObserver observer;
    EXPECT_EQ(Relocate(observer, target), RelocationResult::Completed);
    EXPECT_EQ(observer.heard, std::vector<M>{M::Completed});
    EXPECT_EQ(LongTreeFiles(target), before);
    EXPECT_EQ(OnDiskJunctionTarget(source_), std::optional<std::wstring>(L"\\??\\" + FullPath(target)));
    EXPECT_FALSE(PathExists(source_ + kAsideSuffix)) << "the original, deep paths and all, is deleted";

    RecordingObserver back;
    MoveBackRequest request;
    request.junction = source_;
    request.journal = &store_;
    EXPECT_EQ(RunMoveBack(request, back), MoveBackResult::Completed);
    EXPECT_EQ(back.heard, (std::vector<M>{M::MoveBackQuestion, M::MoveBackCompleted}));
    EXPECT_FALSE(OnDiskJunctionTarget(source_).has_value());
    EXPECT_EQ(LongTreeFiles(source_), before);
    EXPECT_FALSE(PathExists(target));
    EXPECT_FALSE(JournalLeft());
}

// Within one volume the shell still moves the folder, and it cannot take such a
// path: it is named before anything moves.
TEST_F(CopyAcross, WithinOneVolumeALongPathIsStillRefusedBeforeAnythingMoves) {
    ScratchFolder elsewhere(kSecondDrive);
    MakeLongTree(source_);
    const std::vector<std::wstring> before = LongTreeFiles(source_);
    CopyObserver observer;
    EXPECT_EQ(Relocate(observer, elsewhere / L"Games"), RelocationResult::NotStarted);
    EXPECT_EQ(observer.heard, std::vector<M>{M::PathTooLongInside});
    EXPECT_EQ(LongTreeFiles(source_), before);
}

}  // namespace
