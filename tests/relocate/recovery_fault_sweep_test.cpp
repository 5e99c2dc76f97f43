// Every single disk failure the recovery can meet, tried one at a time, from each
// state that a relocation cut short leaves: "finish" and "move back" end with every
// file in the destination behind a junction, or every file back in a plain source
// folder, as their last message says; or, refused before anything moved, they keep
// the journal, and a second try without a fault ends whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/folder_move.h"
#include "engine/relocation_engine.h"
#include "engine/relocation_recovery.h"
#include "junction/junction.h"
#include "tests/driver/test_volumes.h"
#include "tests/relocate/cut_short.h"
#include "tests/relocate/fault_sweep.h"
#include "tests/relocate/file_tree.h"
#include "tests/relocate/recording_observer.h"
#include "tests/relocate/relocation_session.h"

namespace {

using namespace relocation_testing;
using namespace testing_driver;
using M = RelocationMessage;

const std::vector<TreeFile> kFiles = {
    {L"readme.txt", "top"},
    {L"docs\\deep\\report.xls", std::string(70000, 'r')},
    {L"docs\\letter.doc", "letter"},
    {L"hidden.dat", "hidden", FILE_ATTRIBUTE_HIDDEN},
    {L"empty folder\\x.txt", ""},
};


struct RecoveryCase {
    const char* name;
    CutAt cut;
    bool finish;  // finish the relocation, or move it back
};

// How the test lists show a case: its name, not its bytes.
void PrintTo(const RecoveryCase& c, std::ostream* out) {
    *out << (c.finish ? "finish after " : "move back after ") << c.name;
}


class RecoverySweep : public ::testing::TestWithParam<RecoveryCase> {
protected:
    // Makes the state the cut leaves and its journal.
    void MakeState() {
        RemoveTree(source_);
        RemoveTree(target_);
        RemoveTree(store_.folder());
        MakeTree(source_, kFiles);
        if (before_.empty()) {
            before_ = ListTree(source_);
            files_ = SnapshotTree(source_);
        }
        RelocationJournal journal;
        ASSERT_TRUE(LeaveCutShort(source_, target_, GetParam().cut, journal));
        ASSERT_TRUE(store_.Write(journal));
        journal_ = journal;
    }

    Ending EndingOnDisk() const {
        if (const std::optional<std::wstring> junction = OnDiskJunctionTarget(source_)) {
            return *junction == L"\\??\\" + FullPath(target_) && ListTree(target_) == before_ &&
                           SnapshotTree(source_) == files_
                       ? Ending::Relocated
                       : Ending::Split;
        }
        return IsFolder(source_) && ListTree(source_) == before_ && ListTree(target_).empty() ? Ending::MovedBack
                                                                                               : Ending::Split;
    }

    bool JournalLeft() const {
        RelocationJournal journal;
        return store_.Read(journal) != JournalStore::ReadResult::None;
    }

    std::string ShowBothFolders() const {
        return "source " + Narrow(source_) + ":\n" + Show(ListTree(source_)) + "destination " + Narrow(target_) +
               ":\n" + Show(ListTree(target_)) + "expected:\n" + Show(before_);
    }

    // The ending, its last message and the journal agree; no file is ever lost or
    // doubled, whatever the ending.
    Ending CheckWhole(const RecordingObserver& observer, RelocationResult result) const {
        std::vector<std::wstring> twice;
        const TreeSnapshot all = Union(SnapshotTree(target_), IsFolder(source_) && !OnDiskJunctionTarget(source_)
                                                                  ? SnapshotTree(source_)
                                                                  : TreeSnapshot(),
                                       &twice);
        EXPECT_EQ(all, files_) << "every file, once\n" << ShowBothFolders();
        EXPECT_TRUE(twice.empty()) << twice.size() << " files in both folders";
        const Ending ending = EndingOnDisk();
        const M last = observer.heard.empty() ? M::UnexpectedStop : observer.heard.back();
        if (ending == Ending::Relocated && result == RelocationResult::Completed) {
            EXPECT_EQ(last, M::Completed);
            EXPECT_FALSE(JournalLeft());
        } else if (ending == Ending::MovedBack && result == RelocationResult::RolledBack) {
            EXPECT_TRUE(last == M::Restored || last == M::JunctionFailedRestored) << static_cast<int>(last);
            EXPECT_FALSE(JournalLeft());
        } else if (result == RelocationResult::NotStarted) {
            // Refused before anything changed: the journal stays for another try.
            EXPECT_TRUE(last == M::JournalNotWritten) << static_cast<int>(last);
            EXPECT_TRUE(JournalLeft());
        } else {
            ADD_FAILURE() << "ended " << NameOf(ending) << " with result " << static_cast<int>(result)
                          << ", last message " << static_cast<int>(last) << "\n"
                          << ShowBothFolders();
        }
        return ending;
    }

    RelocationResult Recover(RecordingObserver& observer) {
        return GetParam().finish ? FinishRelocation(journal_, store_, observer)
                                 : MoveRelocationBack(journal_, store_, observer);
    }

    std::string Check(const FailurePoint& point) {
        const Ending ending = CheckWhole(observer_, result_);
        if (point.number == 0) {
            EXPECT_EQ(ending, GetParam().finish ? Ending::Relocated : Ending::MovedBack) << "without a fault";
        }
        std::string name = result_ == RelocationResult::NotStarted ? "refused" : NameOf(ending);
        if (!JournalLeft()) return name;
        // Another try, without a fault, from the journal as it is now.
        RelocationJournal journal;
        EXPECT_EQ(store_.Read(journal), JournalStore::ReadResult::Found);
        const RecoveryAssessment assessment = AssessRecovery(journal, LookAtDisk(journal));
        EXPECT_TRUE(assessment.canAct) << "message " << static_cast<int>(assessment.message);
        journal_ = journal;
        RecordingObserver again;
        const RelocationResult result = Recover(again);
        EXPECT_EQ(CheckWhole(again, result), GetParam().finish ? Ending::Relocated : Ending::MovedBack)
            << "the second try";
        EXPECT_FALSE(JournalLeft()) << "after the second try";
        return name + ", journal kept, ended by a second try";
    }

    void Sweep(const FaultMode& mode) {
        SweepSteps steps;
        steps.setup = [&] {
            observer_ = RecordingObserver();
            MakeState();
        };
        steps.run = [&] { result_ = Recover(observer_); };
        steps.check = [&](const FailurePoint& point) { return Check(point); };
        steps.cleanUp = [&] {
            RemoveTree(source_);
            RemoveTree(target_);
        };
        const SweepTally tally = RunFaultSweep(std::string(GetParam().finish ? "finish" : "move back") +
                                                   " after a cut at " + GetParam().name,
                                               mode, steps);
        EXPECT_EQ(tally.wrong, 0);
    }

    ScratchFolder journalFolder_{TempRoot(), L"sweep-recovery-journal"};
    JournalStore store_{journalFolder_ / L"store"};
    ScratchFolder sourceParent_{kNtfsDrive, L"sweep-recovery-source"};
    ScratchFolder targetParent_{kSecondDrive, L"sweep-recovery-target"};
    std::wstring source_ = sourceParent_ / L"Games";
    std::wstring target_ = targetParent_ / L"Games moved";
    TreeListing before_;
    TreeSnapshot files_;
    RelocationJournal journal_;
    RecordingObserver observer_;
    RelocationResult result_ = RelocationResult::NotStarted;
};

TEST_P(RecoverySweep, EverySingleFailureEndsWholeAsTold) {
    Sweep(FaultMode{ERROR_ACCESS_DENIED, false});
    Sweep(FaultMode{ERROR_ACCESS_DENIED, true});
}

INSTANTIATE_TEST_SUITE_P(
    Failures, RecoverySweep,
    ::testing::Values(RecoveryCase{"Moving", CutAt::Moving, true}, RecoveryCase{"MovingPartly", CutAt::MovingPartly, true},
                      RecoveryCase{"Moved", CutAt::Moved, true}, RecoveryCase{"SourceRemoved", CutAt::SourceRemoved, true},
                      RecoveryCase{"JunctionMade", CutAt::JunctionMade, true},
                      RecoveryCase{"RollingBackPartly", CutAt::RollingBackPartly, true},
                      RecoveryCase{"Moving", CutAt::Moving, false}, RecoveryCase{"MovingPartly", CutAt::MovingPartly, false},
                      RecoveryCase{"Moved", CutAt::Moved, false}, RecoveryCase{"SourceRemoved", CutAt::SourceRemoved, false},
                      RecoveryCase{"JunctionMade", CutAt::JunctionMade, false},
                      RecoveryCase{"RollingBackPartly", CutAt::RollingBackPartly, false}),
    [](const ::testing::TestParamInfo<RecoveryCase>& info) {
        return std::string(info.param.finish ? "Finish" : "MoveBack") + "After" + info.param.name;
    });

}  // namespace
