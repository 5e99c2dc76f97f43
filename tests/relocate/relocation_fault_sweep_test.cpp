// Every single disk failure a relocation can meet, tried one at a time: whichever
// call fails, and however, the run ends with every file in the destination behind
// a working junction, or every file back in a plain source folder, as the last
// message says; nothing outside the two folders changes; and a journal left behind
// is one the recovery can act on, ending in one of those two states again.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/relocation_engine.h"
#include "engine/relocation_recovery.h"
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

// Nested folders, a hidden and a read-only file, an empty folder.
const std::vector<TreeFile> kFiles = {
    {L"readme.txt", "top"},
    {L"docs\\letter.doc", "letter"},
    {L"docs\\deep\\report.xls", std::string(70000, 'r')},
    {L"hidden.dat", "hidden", FILE_ATTRIBUTE_HIDDEN},
    {L"locked.txt", "read-only", FILE_ATTRIBUTE_READONLY},
};


// A message after which the files are all in the source: the roll back's, or a
// refusal before anything moved.
bool SaysFilesInSource(M message) {
    switch (message) {
    case M::Restored:
    case M::JunctionFailedRestored:
    case M::LinkNotTakenOut:
    case M::JournalNotWritten:
    case M::JournalPending:
    case M::JournalInsideFolders:
    // Between drives: the copy failed or could not be swapped in, and is gone.
    case M::CopyTargetFailed:
    case M::CopySourceUnreadable:
    case M::CopySourceChanged:
    case M::CopyDiffers:
    case M::CopyCancelled:
    case M::CopyLinkNotMade:
    case M::SourceNotRenamed:
    case M::FolderReplaced:
        return true;
    case M::SystemFilesQuestion:
    case M::StuckUnderProbeName:
        return false;
    default:
        // The checks and refusals, all before the first move.
        return static_cast<int>(message) <= static_cast<int>(M::NameUnreadable);
    }
}

struct SweepCase {
    const char* name;
    const wchar_t* targetDrive;
    bool links;  // the tree holds junctions (only a drive that can hold them)
    FaultMode mode;
};

// How the test lists show a case: its name, not its bytes.
void PrintTo(const SweepCase& c, std::ostream* out) { *out << c.name; }

class RelocationSweep : public ::testing::TestWithParam<SweepCase> {
protected:
    void SetUp() override {
        const SweepCase& c = GetParam();
        targetParent_.emplace(c.targetDrive, L"sweep-target");
        target_ = *targetParent_ / L"Local";
        MakeTree(outside_.path(), {{L"theirs.txt", "not part of the move"}, {L"sub\\deep.txt", "deep"}});
        outsideBefore_ = ListTree(outside_.path());
    }

    void BuildSource() {
        RemoveTree(source_);
        RemoveTree(target_);
        RemoveTree(store_.folder());
        MakeTree(source_, kFiles);
        ASSERT_TRUE(::CreateDirectoryW((source_ + L"\\empty").c_str(), nullptr));
        if (GetParam().links) {
            // One link out of the tree, one into it: both travel as links.
            ASSERT_TRUE(CreateJunction((source_ + L"\\Application Data").c_str(), outside_.path().c_str()));
            ASSERT_TRUE(CreateJunction((source_ + L"\\docs\\to deep").c_str(), (source_ + L"\\docs\\deep").c_str()));
        }
        if (before_.empty()) {
            before_ = ListTree(source_);
            files_ = SnapshotTree(source_);
            if (GetParam().links) outwardBytes_ = ReadNtfsReparseData(source_ + L"\\Application Data");
        }
    }

    Ending EndingOnDisk() const {
        const std::optional<std::wstring> junction = OnDiskJunctionTarget(source_);
        if (junction) {
            const bool whole = *junction == L"\\??\\" + FullPath(target_) && ListTree(target_) == before_ &&
                               SnapshotTree(source_) == files_ && OutwardLinkIntact(target_);
            return whole ? Ending::Relocated : Ending::Split;
        }
        const bool whole = IsFolder(source_) && ListTree(source_) == before_ && ListTree(target_).empty() &&
                           OutwardLinkIntact(source_) && NoLinkIn(target_);
        return whole ? Ending::MovedBack : Ending::Split;
    }

    // The link out of the tree carries exactly the bytes it had.
    bool OutwardLinkIntact(const std::wstring& root) const {
        return !GetParam().links || ReadNtfsReparseData(root + L"\\Application Data") == outwardBytes_;
    }

    // Wine 8 does not list a junction whose target is gone: the disk is asked.
    bool NoLinkIn(const std::wstring& root) const {
        for (const wchar_t* link : {L"\\Application Data", L"\\docs\\to deep"}) {
            if (ReadNtfsReparseData(root + link).has_value()) return false;
        }
        return true;
    }

    std::string ShowBothFolders() const {
        std::string links = "links read from Linux:\n";
        for (const std::wstring& root : {source_, target_}) {
            for (const wchar_t* link : {L"", L"\\Application Data", L"\\docs\\to deep"}) {
                const std::wstring path = root + link;
                links += "  " + Narrow(path) + ": type " + std::to_string(static_cast<int>(HostTypeOf(path))) +
                         (ReadNtfsReparseData(path) ? ", reparse data\n" : "\n");
            }
        }
        return "source " + Narrow(source_) + ":\n" + Show(ListTree(source_)) + "destination " + Narrow(target_) +
               ":\n" + Show(ListTree(target_)) + "expected:\n" + Show(before_) + links;
    }

    // Nothing beside the two folders changed: the folder the outward link points
    // to, the folders around them (no probe name or other leftover).
    void ExpectNothingElseChanged() const {
        EXPECT_EQ(ListTree(outside_.path()), outsideBefore_) << "the folder the outward link points to";
        EXPECT_EQ(HostTypeOf(outside_.path()), HostType::Directory);
        const TreeListing around = ListTree(sourceParent_.path());
        std::vector<std::wstring> topLevel;
        for (const auto& entry : around) {
            if (entry.first.find(L'\\') == std::wstring::npos) topLevel.push_back(entry.first);
        }
        EXPECT_EQ(topLevel, std::vector<std::wstring>{L"LOCAL"}) << "beside the source:\n" << Show(around);
        topLevel.clear();
        for (const auto& entry : ListTree(targetParent_->path())) {
            if (entry.first.find(L'\\') == std::wstring::npos) topLevel.push_back(entry.first);
        }
        EXPECT_TRUE(topLevel.empty() || topLevel == std::vector<std::wstring>{L"LOCAL"})
            << "beside the destination: " << topLevel.size() << " entries";
    }

    bool JournalLeft() const {
        RelocationJournal journal;
        return store_.Read(journal) != JournalStore::ReadResult::None;
    }

    // Checks the ending against the message; a journal left behind is acted on by
    // the recovery (finish on odd failure points, move back on even ones), which
    // must end whole too.
    std::string Check(const FailurePoint& point) {
        const Ending ending = EndingOnDisk();
        EXPECT_NE(ending, Ending::Split) << ShowBothFolders();
        const M last = observer_.heard.empty() ? M::UnexpectedStop : observer_.heard.back();
        if (ending == Ending::Relocated) {
            EXPECT_EQ(result_, RelocationResult::Completed);
            EXPECT_EQ(last, M::Completed) << "heard " << observer_.heard.size() << " messages";
        } else if (ending == Ending::MovedBack) {
            EXPECT_TRUE(result_ == RelocationResult::RolledBack || result_ == RelocationResult::NotStarted)
                << static_cast<int>(result_);
            EXPECT_TRUE(!observer_.heard.empty() && SaysFilesInSource(last))
                << "last message " << static_cast<int>(last);
        }
        ExpectNothingElseChanged();

        std::string name = NameOf(ending);
        if (result_ == RelocationResult::NotStarted && ending == Ending::MovedBack) name = "refused";
        if (point.number == 0) {
            EXPECT_EQ(ending, Ending::Relocated) << "the run without a fault";
        }
        if (!JournalLeft()) return name;

        RelocationJournal journal;
        EXPECT_EQ(store_.Read(journal), JournalStore::ReadResult::Found) << "a journal left must be whole";
        const RecoveryAssessment assessment = AssessRecovery(journal, LookAtDisk(journal));
        EXPECT_TRUE(assessment.canAct) << "the journal left cannot be acted on: message "
                                       << static_cast<int>(assessment.message);
        if (!assessment.canAct) return name + ", journal left";
        const bool finish = point.number % 2 == 1;
        RecordingObserver recovering;
        const RelocationResult recovered =
            finish ? FinishRelocation(journal, store_, recovering) : MoveRelocationBack(journal, store_, recovering);
        const Ending after = EndingOnDisk();
        EXPECT_EQ(after, finish ? Ending::Relocated : Ending::MovedBack) << "after the recovery\n" << ShowBothFolders();
        EXPECT_EQ(recovered, finish ? RelocationResult::Completed : RelocationResult::RolledBack);
        EXPECT_EQ(recovering.heard, std::vector<M>{finish ? M::Completed : M::Restored});
        EXPECT_FALSE(JournalLeft()) << "after the recovery";
        ExpectNothingElseChanged();
        return name + ", journal left, " + (finish ? "finished" : "moved back") + " by the recovery";
    }

    void Sweep() {
        SweepSteps steps;
        steps.setup = [&] {
            observer_ = RecordingObserver();
            BuildSource();
        };
        steps.run = [&] {
            RelocationRequest request;
            request.source = source_;
            request.target = target_;
            request.journal = &store_;
            result_ = RunRelocation(request, observer_);
        };
        steps.check = [&](const FailurePoint& point) { return Check(point); };
        steps.cleanUp = [&] {
            RemoveTree(source_ + L"_abc_in_use_test");
            RemoveTree(source_);
            RemoveTree(target_);
        };
        const SweepTally tally = RunFaultSweep(std::string("relocation N: to ") + Narrow(GetParam().targetDrive) +
                                                   (GetParam().links ? " (with links)" : " (no links)"),
                                               GetParam().mode, steps);
        EXPECT_EQ(tally.wrong, 0);
        EXPECT_EQ(tally.notReached, 0);
    }

    ScratchFolder journalFolder_{TempRoot(), L"sweep-journal"};
    JournalStore store_{journalFolder_ / L"store"};
    ScratchFolder outside_{kNtfsDrive, L"sweep-outside"};
    ScratchFolder sourceParent_{kNtfsDrive, L"sweep-source"};
    std::optional<ScratchFolder> targetParent_;
    std::wstring source_ = sourceParent_ / L"Local";
    std::wstring target_;
    TreeListing before_;
    TreeSnapshot files_;
    std::optional<Bytes> outwardBytes_;
    TreeListing outsideBefore_;
    RecordingObserver observer_;
    RelocationResult result_ = RelocationResult::NotStarted;
};

TEST_P(RelocationSweep, EverySingleFailureEndsWholeAsTold) { Sweep(); }

constexpr FaultMode kDenied{ERROR_ACCESS_DENIED, false};
constexpr FaultMode kFull{ERROR_DISK_FULL, false};
constexpr FaultMode kDeniedAfterWork{ERROR_ACCESS_DENIED, true};

// Within one volume the entries are renamed; to T: (another file system, which
// holds no links) they are copied and proven, then the source is swapped for the
// junction and deleted.
INSTANTIATE_TEST_SUITE_P(Failures, RelocationSweep,
                         ::testing::Values(SweepCase{"RenameAccessDenied", kSecondDrive, true, kDenied},
                                           SweepCase{"RenameDiskFull", kSecondDrive, true, kFull},
                                           SweepCase{"RenameAfterWork", kSecondDrive, true, kDeniedAfterWork},
                                           SweepCase{"CopyAccessDenied", kPlainDrive, false, kDenied},
                                           SweepCase{"CopyDiskFull", kPlainDrive, false, kFull},
                                           SweepCase{"CopyAfterWork", kPlainDrive, false, kDeniedAfterWork}),
                         [](const ::testing::TestParamInfo<SweepCase>& info) { return info.param.name; });

}  // namespace
