// The relocation engine on its own, in this process, without a dialog: every run
// ends with all files in the destination and a junction at the old path, or with
// all files at the old path, and the observer hears exactly what the user would.
#include <gtest/gtest.h>

#include <vector>

#include "engine/relocation_engine.h"
#include "tests/driver/test_volumes.h"
#include "tests/relocate/file_tree.h"
#include "tests/relocate/relocation_session.h"

namespace {

using namespace relocation_testing;
using namespace testing_driver;
using M = RelocationMessage;

class SilentProgress : public AccessScanProgress {
public:
    void OnTesting(const std::wstring&) override {}
    void OnStopped(const std::wstring& path) override { stoppedAt = path; }
    void OnPassed() override {}
    std::wstring stoppedAt;
};

// Records what the user would be told and answers the SYSTEM question as set.
class RecordingObserver : public RelocationObserver {
public:
    explicit RecordingObserver(bool answerYes = true) : answerYes_(answerYes) {}

    AccessScanProgress& ScanProgress() override { return progress; }
    void OnScanEnded() override { ++scansEnded; }
    bool Confirm(RelocationMessage question, const RelocationFacts&) override {
        heard.push_back(question);
        return answerYes_;
    }
    void Report(RelocationMessage message, const RelocationFacts& facts) override {
        heard.push_back(message);
        lastFacts = facts;
    }

    std::vector<RelocationMessage> heard;
    RelocationFacts lastFacts;
    SilentProgress progress;
    int scansEnded = 0;

private:
    bool answerYes_;
};

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
TEST(RelocationEngine, AMoveThatLeavesItemsBehindIsRolledBack) {
    ScratchFolder scratch(kNtfsDrive);
    ScratchFolder plain(kPlainDrive);
    const std::wstring source = scratch / L"across";
    const std::wstring target = plain / L"across";
    MakeTree(source, kTree);
    MakeTree(target, {{L"own.txt", "the destination's own file"}});
    const TreeSnapshot before = SnapshotTree(source);
    const TreeSnapshot targetBefore = SnapshotTree(target);

    RecordingObserver observer;
    EXPECT_EQ(Relocate(source, target, observer), RelocationResult::RolledBack);
    EXPECT_EQ(observer.heard, (std::vector<M>{M::MoveFailed, M::Restored}));
    EXPECT_EQ(SnapshotTree(source), before);
    EXPECT_EQ(SnapshotTree(target), targetBefore);
    EXPECT_FALSE(OnDiskJunctionTarget(source).has_value());
}

}  // namespace
