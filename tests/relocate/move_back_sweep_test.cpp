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

#include <algorithm>
#include <optional>
#include <set>

#include "engine/folder_move.h"
#include "engine/folder_identity.h"
#include "engine/move_back.h"
#include "engine/tree_copy.h"
#include "engine/relocation_recovery.h"
#include "junction/link_data.h"
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
                                       M::JournalPending,
                                       // between drives: the copy failed or could not take the
                                       // junction's place, and is gone
                                       M::CopyTargetFailed, M::CopySourceUnreadable, M::CopySourceChanged,
                                       M::CopyDiffers, M::CopyLinkNotMade, M::FolderReplaced};

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
            EXPECT_EQ(PathExists(target), told == M::MoveBackTargetLeft) << "said removed, or said left";
            if (PathExists(target)) {
                EXPECT_TRUE(ListTree(target).empty()) << "the folder left holds nothing";
            }
            EXPECT_FALSE(journalLeft) << "whole, yet a journal would ask about it at the next start";
            return std::string("moved back") + (PathExists(target) ? ", folder left" : "") +
                   (journalLeft ? ", journal left" : "");
        }
        if (atOldPath == junctionBytes && ListTree(target) == before) {
            EXPECT_TRUE(told.has_value() && kJunctionKeptTold.count(*told) == 1)
                << "junction kept, but told " << (told ? static_cast<int>(*told) : -1);
            EXPECT_NE(result, MoveBackResult::Completed);
            EXPECT_NE(result, MoveBackResult::NotRestored);
            EXPECT_FALSE(journalLeft) << "whole, yet a journal would ask about it at the next start";
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

// A move back cut short half-way (the junction gone, its links taken out, half of
// the entries at the old path), then finished or undone at the next start with
// each disk call of that recovery failing in turn: it too must end in one whole
// place and say which, or say that it could not and keep the journal.
struct RecoverySweepCase {
    const char* name;
    const wchar_t* targetDrive;
    bool withLinks;
    bool finish;  // finish the move back, or undo it
    FaultMode mode;
};

class MoveBackRecoverySweep : public ::testing::TestWithParam<RecoverySweepCase> {};

TEST_P(MoveBackRecoverySweep, EveryFailureEndsInOneWholePlaceOrKeepsTheJournal) {
    const RecoverySweepCase sweep = GetParam();
    std::optional<ScratchFolder> outside;
    std::optional<ScratchFolder> targetParent;
    std::optional<ScratchFolder> sourceParent;
    std::optional<ScratchFolder> journalFolder;
    std::optional<JournalStore> store;
    std::wstring source;
    std::wstring target;
    Bytes junctionBytes;
    TreeListing before;
    RelocationJournal journal;
    std::optional<RecordingObserver> observer;
    RelocationResult result = RelocationResult::Interrupted;

    int runs = 0;
    SweepSteps steps;
    steps.setup = [&] {
        const std::wstring run = std::to_wstring(++runs);
        outside.emplace(kNtfsDrive, L"recovery-outside-" + run);
        targetParent.emplace(sweep.targetDrive, L"recovery-folder-" + run);
        sourceParent.emplace(kNtfsDrive, L"recovery-old-path-" + run);
        journalFolder.emplace(TempRoot(), L"recovery-journal-" + run);
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

        // The journal a real move back writes, and the disk as a kill half-way
        // leaves it.
        RecordingObserver mover;
        mover.onMoving = [&] { EXPECT_EQ(store->Read(journal), JournalStore::ReadResult::Found); };
        MoveBackRequest request;
        request.junction = source;
        request.journal = &*store;
        ASSERT_EQ(RunMoveBack(request, mover), MoveBackResult::Completed);
        if (IsCopyPhase(journal.phase)) {
            // Between drives the files are copied back first: cut short once the
            // copy is proven and the junction gone, the copy stands beside the old
            // path and the originals are whole in their folder.
            ASSERT_TRUE(::MoveFileExW(source.c_str(), journal.aside.c_str(), 0));
            ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
            TreeCopyRequest copy;
            copy.source = journal.aside;
            copy.target = target;
            copy.names = journal.entries;
            ASSERT_EQ(CopyTree(copy).result, TreeCopyResult::Copied);
            ASSERT_TRUE(ReadPlainFolderId(target, journal.targetId));
            ASSERT_TRUE(ReadPlainFolderId(journal.aside, journal.sourceId));
            journal.phase = JournalPhase::Verified;
            ASSERT_TRUE(store->Write(journal));
            observer.emplace();
            return;
        }
        for (const JournalLink& link : journal.links) {
            ASSERT_TRUE(RemoveLinkEntry((source + L"\\" + link.relativePath).c_str(), link.folder));
        }
        ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
        // Made again, it stands for the folder the move back emptied, which the
        // journal of a real cut-short move back names.
        ASSERT_TRUE(ReadPlainFolderId(target, journal.targetId));
        std::vector<std::wstring> half = journal.entries;
        half.resize(half.size() / 2);
        ASSERT_TRUE(MoveEntriesBack(source, target, half));
        ASSERT_TRUE(store->Write(journal));
        observer.emplace();
    };
    steps.run = [&] {
        result = sweep.finish ? MoveRelocationBack(journal, *store, *observer)
                              : FinishRelocation(journal, *store, *observer);
    };
    steps.check = [&](const FailurePoint& point) -> std::string {
        RelocationJournal left;
        const bool journalLeft = store->Read(left) != JournalStore::ReadResult::None;
        const std::vector<M>& heard = observer->heard;
        const auto said = [&](M message) { return std::find(heard.begin(), heard.end(), message) != heard.end(); };
        const std::optional<Bytes> atOldPath = ReadNtfsReparseData(source);
        if (!atOldPath.has_value() && IsFolder(source) && ListTree(source) == before) {
            EXPECT_TRUE(said(M::MoveBackCompleted) || said(M::MoveBackTargetLeft) || said(M::MoveBackJunctionNotMade))
                << "moved back, but not told so";
            EXPECT_FALSE(said(M::MoveBackUndone) || said(M::MoveBackNotRestored));
            if (said(M::MoveBackCompleted) || said(M::MoveBackTargetLeft)) {
                EXPECT_EQ(PathExists(target), said(M::MoveBackTargetLeft)) << "said removed, or said left";
            }
            if (PathExists(target)) {
                EXPECT_TRUE(ListTree(target).empty()) << "the folder left holds nothing";
            }
            EXPECT_FALSE(journalLeft) << "whole, yet a journal would ask about it at the next start";
            return std::string(sweep.finish ? "finished" : "undo failed, moved back") +
                   (PathExists(target) ? ", folder left" : "") + (journalLeft ? ", journal left" : "");
        }
        if (atOldPath == junctionBytes && ListTree(target) == before) {
            EXPECT_TRUE(said(M::MoveBackUndone) || said(M::MoveBackFailedRestored)) << "junction back, but not told so";
            EXPECT_FALSE(said(M::MoveBackCompleted) || said(M::MoveBackNotRestored));
            EXPECT_FALSE(journalLeft) << "whole, yet a journal would ask about it at the next start";
            return std::string(sweep.finish ? "?" : "undone") + (journalLeft ? ", journal left" : "");
        }
        // One failure is always put right: a split ending is a fault. Should one
        // ever be unavoidable it must at least be said, keep the journal for the
        // next start, and lose no file.
        const std::wstring copyPlace = FullPath(source) + L".moving-back-by-dirshift";
        if (!said(M::JournalNotWritten)) {
            ADD_FAILURE() << "split after " << point.Describe() << "\nold path:\n"
                          << Show(atOldPath.has_value() ? TreeListing{} : ListTree(source)) << "folder:\n"
                          << Show(ListTree(target)) << "copy beside:\n" << Show(ListTree(copyPlace));
        }
        EXPECT_TRUE(said(M::MoveBackNotRestored) || said(M::JournalNotWritten))
            << "split after " << point.Describe() << " but not told so";
        EXPECT_TRUE(journalLeft) << "split, and the journal is gone";
        TreeListing files = atOldPath.has_value() ? TreeListing{} : ListTree(source);
        for (const auto& [path, what] : ListTree(target)) files.emplace(path, what);
        for (const auto& [path, what] : before) {
            if (what.compare(0, 5, L"file ") == 0) {
                EXPECT_EQ(files[path], what) << Narrow(path);
            }
        }
        if (said(M::JournalNotWritten)) return "nothing done, journal not written";
        std::printf("Split, said so, journal kept: %s\n", point.Describe().c_str());
        return "split, said, journal kept";
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

const RecoverySweepCase kRecoverySweeps[] = {
    {"FinishSameVolumeWithLinks", kSecondDrive, true, true, FaultMode{ERROR_ACCESS_DENIED, false}},
    {"UndoSameVolumeWithLinks", kSecondDrive, true, false, FaultMode{ERROR_ACCESS_DENIED, false}},
    {"FinishOtherFileSystemAfterWork", kPlainDrive, false, true, FaultMode{ERROR_DISK_FULL, true}},
    {"UndoOtherFileSystemAfterWork", kPlainDrive, false, false, FaultMode{ERROR_DISK_FULL, true}},
};

INSTANTIATE_TEST_SUITE_P(Failures, MoveBackRecoverySweep, ::testing::ValuesIn(kRecoverySweeps),
                         [](const ::testing::TestParamInfo<RecoverySweepCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
