// The move back with every one of its disk calls failing in turn, one per run, on
// the same volume (with links in the folder) and onto another file system. Every
// run must end in one of the two whole places, told truthfully:
//   moved back:    the old path a plain folder holding every file and link (the
//                  junction into the folder re-pointed there), the folder gone or
//                  reported left;
//   junction kept: every file and link in the folder as before, the junction back
//                  with its very bytes (read from Linux).
// A run that could not end whole must say so and keep the journal for the next
// start.
#include <gtest/gtest.h>

#include <optional>
#include <set>

#include "engine/move_back.h"
#include "junction/junction.h"
#include "tests/driver/host_view.h"
#include "tests/driver/test_volumes.h"
#include "tests/relocate/fault_sweep.h"
#include "tests/relocate/file_tree.h"
#include "tests/relocate/recording_observer.h"
#include "tests/relocate/relocation_session.h"

namespace {

using namespace relocation_testing;
using namespace testing_driver;
using M = RelocationMessage;

const std::vector<TreeFile> kTree = {
    {L"readme.txt", "top"},
    {L"docs\\deep\\report.xls", std::string(20000, 'r')},
    {L"docs\\letter.doc", "letter"},
    {L"hidden.dat", "hidden", FILE_ATTRIBUTE_HIDDEN},
    {L"data\\inner.txt", "inside"},
    {L"zeta\\z.txt", "last"},
};

// What the user may be told at the end of a run that ended in each whole place.
const std::set<M> kMovedBackTold = {M::MoveBackCompleted, M::MoveBackTargetLeft};
const std::set<M> kJunctionKeptTold = {M::MoveBackScanFailed,     M::MoveBackJunctionNotReplaced,
                                       M::MoveBackFailedRestored, M::MoveBackLinkNotTakenOut,
                                       M::JournalNotWritten,      M::MoveBackNotJunction,
                                       M::MoveBackTargetNotLocal, M::MoveBackNoRoom,
                                       // the journal could not be read: one may be there
                                       M::JournalPending};

struct SweepCase {
    const char* name;
    const wchar_t* targetDrive;
    bool withLinks;
    FaultMode mode;
};

class MoveBackSweep : public ::testing::TestWithParam<SweepCase> {};

TEST_P(MoveBackSweep, EveryFailureEndsInOneWholePlaceAndSaysWhich) {
    const SweepCase sweep = GetParam();
    std::optional<ScratchFolder> outside;
    std::optional<ScratchFolder> targetParent;
    std::optional<ScratchFolder> sourceParent;
    std::optional<ScratchFolder> journalFolder;
    std::optional<JournalStore> store;
    std::wstring source;
    std::wstring target;
    Bytes junctionBytes;
    TreeListing before;
    std::optional<RecordingObserver> observer;
    MoveBackResult result = MoveBackResult::Interrupted;

    SweepSteps steps;
    int runs = 0;
    steps.setup = [&] {
        // Fresh names for every run: ntfs-3g's kernel side may still hold what an
        // earlier run left at a name, and show a new link there as a plain folder.
        const std::wstring run = std::to_wstring(++runs);
        outside.emplace(kNtfsDrive, L"sweep-outside-" + run);
        targetParent.emplace(sweep.targetDrive, L"sweep-folder-" + run);
        sourceParent.emplace(kNtfsDrive, L"sweep-old-path-" + run);
        journalFolder.emplace(TempRoot());
        store.emplace(*journalFolder / L"store");
        source = *sourceParent / L"Games";
        target = *targetParent / L"Games";
        MakeTree(target, kTree);
        if (sweep.withLinks) {
            MakeTree(outside->path(), {{L"theirs.txt", "not part of the move"}});
            ASSERT_TRUE(CreateJunction((target + L"\\Application Data").c_str(), outside->path().c_str()));
            ASSERT_TRUE(CreateJunction((target + L"\\docs\\to data").c_str(), (target + L"\\data").c_str()));
        }
        before = ListTree(target);
        ASSERT_TRUE(CreateJunction(source.c_str(), target.c_str()));
        junctionBytes = ReadNtfsReparseData(source).value_or(Bytes{});
        ASSERT_FALSE(junctionBytes.empty());
        observer.emplace();
    };
    steps.run = [&] {
        MoveBackRequest request;
        request.junction = source;
        request.journal = &*store;
        result = RunMoveBack(request, *observer);
    };
    steps.check = [&](const FailurePoint& point) -> std::string {
        const std::optional<M> told =
            observer->heard.empty() ? std::nullopt : std::optional<M>(observer->heard.back());
        RelocationJournal journal;
        const bool journalLeft = store->Read(journal) != JournalStore::ReadResult::None;
        const std::optional<Bytes> atOldPath = ReadNtfsReparseData(source);
        if (!atOldPath.has_value() && IsFolder(source) && ListTree(source) == before) {
            EXPECT_TRUE(told.has_value() && kMovedBackTold.count(*told) == 1)
                << "moved back, but told " << (told ? static_cast<int>(*told) : -1);
            EXPECT_EQ(result, MoveBackResult::Completed);
            if (told == M::MoveBackCompleted) {
                EXPECT_FALSE(PathExists(target)) << "said removed";
            }
            if (PathExists(target)) {
                EXPECT_TRUE(ListTree(target).empty()) << "the folder left holds nothing";
            }
            if (point.number == 0) {
                EXPECT_FALSE(journalLeft);
            }
            return std::string("moved back") + (PathExists(target) ? ", folder left" : "") +
                   (journalLeft ? ", journal left" : "");
        }
        if (atOldPath == junctionBytes && ListTree(target) == before) {
            EXPECT_TRUE(told.has_value() && kJunctionKeptTold.count(*told) == 1)
                << "junction kept, but told " << (told ? static_cast<int>(*told) : -1);
            EXPECT_NE(result, MoveBackResult::Completed);
            EXPECT_NE(result, MoveBackResult::NotRestored);
            return std::string("junction kept") + (journalLeft ? ", journal left" : "");
        }
        // Split between the two places: only acceptable when said so, with the
        // journal kept for the next start.
        ADD_FAILURE() << "not whole after " << point.Describe() << "\nold path:\n"
                      << Show(atOldPath.has_value() ? TreeListing{} : ListTree(source)) << "folder:\n"
                      << Show(ListTree(target));
        EXPECT_EQ(told, std::optional<M>(M::MoveBackNotRestored));
        EXPECT_TRUE(journalLeft);
        return "split";
    };
    steps.cleanUp = [&] {
        observer.reset();
        if (!ReadNtfsReparseData(source).has_value()) RemoveTree(source);
        sourceParent.reset();
        targetParent.reset();
        outside.reset();
        (void)store->Remove();
        store.reset();
        journalFolder.reset();
    };

    const SweepTally tally = RunFaultSweep(sweep.name, sweep.mode, steps);
    std::printf("%s: %d failure points over %d disk calls\n", sweep.name, tally.tried, tally.cleanCalls);
    EXPECT_GT(tally.tried, 0);
    EXPECT_EQ(tally.wrong, 0);
}

const SweepCase kSweeps[] = {
    {"SameVolumeWithLinks", kSecondDrive, true, FaultMode{ERROR_ACCESS_DENIED, false}},
    {"SameVolumeWithLinksAfterWork", kSecondDrive, true, FaultMode{ERROR_ACCESS_DENIED, true}},
    {"OtherFileSystem", kPlainDrive, false, FaultMode{ERROR_ACCESS_DENIED, false}},
    {"OtherFileSystemAfterWork", kPlainDrive, false, FaultMode{ERROR_DISK_FULL, true}},
};

INSTANTIATE_TEST_SUITE_P(Failures, MoveBackSweep, ::testing::ValuesIn(kSweeps),
                         [](const ::testing::TestParamInfo<SweepCase>& info) { return std::string(info.param.name); });

}  // namespace
