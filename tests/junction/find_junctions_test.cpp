// The junction walk on a real NTFS tree: what the visitor sees and in what order,
// when it stops, and what it never enters.
#include "junction/junction.h"

#include "junction/wine_host.h"

#include "tests/driver/debug_capture.h"
#include "tests/driver/host_view.h"
#include "tests/driver/process_census.h"
#include "tests/driver/test_volumes.h"
#include "tests/junction/junction_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "base/srw_lock.h"

namespace {

using namespace junction_test;
using testing_driver::DebugLineCapture;
using testing_driver::kNtfsDrive;
using testing_driver::kPlainDrive;

constexpr DWORD kMountPointTag = 0xA0000003;

// The tree:
//   root\..x         ordinary (a name that merely starts with "..")
//   root\a\a1\j2     j2: junction to the target
//   root\b           junction to the target
//   root\file.txt
//   target\inside    never walked: it lies behind the junctions
// NTFS lists names in upper-case order, so the walk meets ..x, a, b.
class JunctionWalk : public ::testing::Test {
protected:
    void SetUp() override {
        MakeFolders(root_ + L"\\..x");
        MakeFolders(root_ + L"\\a\\a1");
        MakeFolders(target_ + L"\\inside");
        WriteTextFile(root_ + L"\\file.txt", "file");
        ASSERT_TRUE(CreateJunction(b_.c_str(), target_.c_str()));
        ASSERT_TRUE(CreateJunction(j2_.c_str(), target_.c_str()));
    }

    // The sub-folder lines the walk wrote (its library lines left out).
    static std::vector<std::wstring> FolderLines(const DebugLineCapture& capture) {
        std::vector<std::wstring> lines;
        for (const std::wstring& line : capture.Lines()) {
            if (line.compare(0, 8, L"TRESSEL.") != 0) lines.push_back(line);
        }
        return lines;
    }

    static Visit Poll() { return {false, L"", L"", 0}; }
    Visit Found(const std::wstring& path) const { return {true, path, NtName(target_), kMountPointTag}; }

    const std::wstring root_ = UniquePath(kNtfsDrive, L"walk");
    const std::wstring target_ = UniquePath(kNtfsDrive, L"walk-target");
    const std::wstring b_ = root_ + L"\\b";
    const std::wstring j2_ = root_ + L"\\a\\a1\\j2";
};

TEST_F(JunctionWalk, RecursiveWalkGoesDepthFirstAndNeverEntersAJunction) {
    // With or without a trailing backslash on the start folder: the same walk.
    for (const std::wstring& start : {root_, root_ + L"\\"}) {
        DebugLineCapture capture;
        VisitLog log;
        EXPECT_EQ(FindJunctions(start.c_str(), RecordVisit, log.context(), true), 1) << "only b is a direct sub-folder";
        EXPECT_EQ(log.visits, (std::vector<Visit>{Poll(), Poll(), Poll(), Found(j2_), Found(b_)}));
        EXPECT_EQ(FolderLines(capture), (std::vector<std::wstring>{root_ + L"\\..x", root_ + L"\\a",
                                                                   root_ + L"\\a\\a1", j2_, b_}));
    }
}

TEST_F(JunctionWalk, WithoutRecursionDirectSubFoldersAreStillPolled) {
    DebugLineCapture capture;
    VisitLog log;
    EXPECT_EQ(FindJunctions(root_.c_str(), RecordVisit, log.context(), false), 1);
    EXPECT_EQ(log.visits, (std::vector<Visit>{Poll(), Poll(), Found(b_)}));
    EXPECT_EQ(FolderLines(capture), (std::vector<std::wstring>{root_ + L"\\..x", root_ + L"\\a", b_}));
}

TEST_F(JunctionWalk, VisitorStopsTheWalkAtOnceAtAnyDepth) {
    struct Case {
        std::size_t stopAt;
        std::size_t linesWritten;
    };
    // Stop at the first poll (..x), at the poll of a1 (two levels down) and at
    // the deep junction j2: nothing after the stop is looked at.
    for (const Case& c : {Case{1, 1}, Case{3, 3}, Case{4, 4}}) {
        DebugLineCapture capture;
        VisitLog log;
        log.stopAt = c.stopAt;
        EXPECT_EQ(FindJunctions(root_.c_str(), RecordVisit, log.context(), true), -1);
        EXPECT_EQ(log.visits.size(), c.stopAt);
        EXPECT_EQ(FolderLines(capture).size(), c.linesWritten);
    }
}

TEST_F(JunctionWalk, StartFolderThatIsAJunctionIsReportedThenWalkedUnderItsOwnPath) {
    VisitLog log;
    EXPECT_EQ(FindJunctions(b_.c_str(), RecordVisit, log.context(), true), 1);
    EXPECT_EQ(log.visits, (std::vector<Visit>{Found(b_), Poll()}));

    DebugLineCapture capture;
    log.visits.clear();
    log.stopAt = 1;
    EXPECT_EQ(FindJunctions(b_.c_str(), RecordVisit, log.context(), true), -1);
    EXPECT_TRUE(FolderLines(capture).empty()) << "a stop at the start folder lists nothing";
}

TEST_F(JunctionWalk, StartFolderThatIsAJunctionListsItsTargetsSubFolders) {
    DebugLineCapture capture;
    VisitLog log;
    FindJunctions(b_.c_str(), RecordVisit, log.context(), false);
    EXPECT_EQ(FolderLines(capture), std::vector<std::wstring>{b_ + L"\\inside"});
}

TEST(FindJunctions, ReparseFolderWhoseDataCannotBeReadIsReportedBareAndSilently) {
    // On the drive without reparse support, a Linux directory link still shows
    // as a reparse folder, but it has no reparse data to read.
    const std::wstring base = UniquePath(kPlainDrive, L"unreadable");
    MakeFolders(base + L"\\real");
    WriteTextFile(base + L"\\real\\kept.txt", "kept");
    const std::string real = testing_driver::UnixPathOf(base + L"\\real");
    const std::string link = testing_driver::UnixPathOf(base) + "/link";
    ASSERT_EQ(wine_host::Symlink(real.c_str(), link.c_str()), 0);

    DebugLineCapture capture;
    VisitLog log;
    EXPECT_EQ(FindJunctions(base.c_str(), RecordVisit, log.context(), true), 1);
    // tmpfs lists in no fixed order: one Found for the link, one poll for "real".
    ASSERT_EQ(log.visits.size(), 2u);
    const Visit foundLink{true, base + L"\\link", L"", 0};
    const Visit pollReal{false, L"", L"", 0};
    EXPECT_TRUE((log.visits[0] == foundLink && log.visits[1] == pollReal) ||
                (log.visits[0] == pollReal && log.visits[1] == foundLink))
        << ::testing::PrintToString(log.visits);
    EXPECT_TRUE(capture.LinesStartingWith(L"TRESSEL.").empty());

    EXPECT_TRUE(RemoveJunction((base + L"\\link").c_str()));
    EXPECT_EQ(testing_driver::HostTypeOf(base + L"\\link"), testing_driver::HostType::Missing);
    EXPECT_EQ(ReadTextFile(base + L"\\real\\kept.txt"), "kept");
}

TEST(FindJunctions, FolderWithOnlyFilesOrNothingMakesNoCalls) {
    const std::wstring folder = UniquePath(kNtfsDrive, L"files-only");
    MakeFolders(folder);
    WriteTextFile(folder + L"\\one.txt", "1");
    WriteTextFile(folder + L"\\two.txt", "2");
    for (const std::wstring& start : {folder, folder + L"\\missing"}) {
        VisitLog log;
        EXPECT_EQ(FindJunctions(start.c_str(), RecordVisit, log.context(), true), 0);
        EXPECT_TRUE(log.visits.empty());
    }
}

// A tree far deeper than the worker thread's stack could hold if each level
// kept its own path buffers: the walk must finish on a small stack, find the
// junction near the bottom, and skip (with a line) only what no path can name.
struct DeepWalk {
    std::wstring start;
    VisitLog log;
    int result = 0;
};

DWORD WINAPI RunDeepWalk(void* parameter) {
    auto* walk = static_cast<DeepWalk*>(parameter);
    walk->result = FindJunctions(walk->start.c_str(), RecordVisit, walk->log.context(), true);
    return 0;
}

TEST(FindJunctions, DeepTreeIsWalkedOnASmallStackAndCutOffOnlyAtThePathLimit) {
    // 40 short levels, then long names up to about 1000 characters. In the last
    // folder: a junction "j"; "x...", whose path fits but leaves no room to list
    // it; "y...", whose path would pass 1023 characters; and "z", ordinary.
    // NTFS lists them in that order, so the walk must go on past both limits.
    const std::wstring root = UniquePath(kNtfsDrive, L"deep");
    const std::wstring target = UniquePath(kNtfsDrive, L"deep-target");
    MakeFolders(target);
    std::wstring path = root;
    for (int level = 0; level < 40; ++level) path += L"\\d";
    while (path.size() + 100 <= 1000) path += L"\\" + std::wstring(99, L'L');
    const std::wstring junctionPath = path + L"\\j";
    const std::wstring unlistable = path + L"\\" + std::wstring(1021 - path.size() - 1, L'x');
    const std::wstring tooLong = path + L"\\" + std::wstring(1030 - path.size(), L'y');
    const std::wstring last = path + L"\\z";
    ASSERT_EQ(unlistable.size(), 1021u);
    MakeFolders(unlistable + L"\\hidden");
    MakeFolders(tooLong);
    MakeFolders(last);
    MakeFolders(junctionPath);
    // Longer than CreateJunction's own paths: written as another tool would.
    ASSERT_EQ(testing_driver::WriteNtfsReparseData(junctionPath, testing_driver::MountPointData(NtName(target), L"", false)),
              0);

    DebugLineCapture capture;
    DeepWalk walk;
    walk.start = root;
    // Four 1024-character buffers per level would need over 300 KB here.
    HANDLE thread = ::CreateThread(nullptr, 128 * 1024, RunDeepWalk, &walk, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(::WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    ::GetExitCodeThread(thread, &exitCode);
    ::CloseHandle(thread);
    ASSERT_EQ(exitCode, 0u);

    EXPECT_EQ(walk.result, 0);
    std::vector<Visit> found;
    for (const Visit& visit : walk.log.visits) {
        if (visit.found) found.push_back(visit);
    }
    EXPECT_EQ(found, (std::vector<Visit>{{true, junctionPath, NtName(target), kMountPointTag}}));
    EXPECT_EQ(capture.LinesStartingWith(L"TRESSEL.Warning: Path too long, folder skipped.").size(), 1u);
    const std::vector<std::wstring> lines = capture.Lines();
    ASSERT_GE(lines.size(), 4u);
    const auto lastLines = std::vector<std::wstring>(lines.end() - 4, lines.end());
    EXPECT_EQ(lastLines, (std::vector<std::wstring>{junctionPath, unlistable,
                                                   L"TRESSEL.Warning: Path too long, folder skipped.", last}));
}

TEST(FindJunctions, DriveRootIsWalkedWithSingleSeparators) {
    DebugLineCapture capture;
    VisitLog log;
    log.stopAt = 1;
    FindJunctions((std::wstring(kNtfsDrive) + L"\\").c_str(), RecordVisit, log.context(), true);
    ASSERT_EQ(log.visits.size(), 1u);
    const std::vector<std::wstring> lines = capture.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].compare(0, 3, std::wstring(kNtfsDrive) + L"\\"), 0) << ::testing::PrintToString(lines[0]);
    EXPECT_EQ(lines[0].find(L"\\\\"), std::wstring::npos);
    if (log.visits[0].found) {
        EXPECT_NE(log.visits[0].path, std::wstring(kNtfsDrive));
    }
}

// ---- the pooled walk -------------------------------------------------------------

// A visitor context that several threads may call at once: records every call
// and the threads that made them, and answers false from call `stopAt` on.
struct SharedVisitLog {
    SRWLOCK lock = SRWLOCK_INIT;
    std::vector<Visit> visits;
    std::set<DWORD> threads;
    std::size_t stopAt = 0;
    std::uintptr_t context() { return reinterpret_cast<std::uintptr_t>(this); }
};

bool RecordSharedVisit(std::uintptr_t context, const wchar_t* path, const wchar_t* target, DWORD tag) {
    auto* log = reinterpret_cast<SharedVisitLog*>(context);
    SrwExclusiveGuard guard(log->lock);
    log->visits.push_back({path != nullptr, path ? path : L"", target ? target : L"", tag});
    log->threads.insert(::GetCurrentThreadId());
    return log->stopAt == 0 || log->visits.size() < log->stopAt;
}

// What a walk reported, in an order of its own: the Found calls and the folder
// lines sorted, the polls counted.
struct WalkReport {
    int result = 0;
    std::vector<Visit> found;
    std::size_t polls = 0;
    std::vector<std::wstring> lines;
    std::size_t skipped = 0;  // "Path too long" lines
    bool operator==(const WalkReport& other) const {
        return found == other.found && polls == other.polls && lines == other.lines && skipped == other.skipped;
    }
};

void PrintTo(const WalkReport& report, std::ostream* os) {
    *os << report.found.size() << " found, " << report.polls << " polls, " << report.lines.size() << " lines";
}

WalkReport Summarise(int result, const std::vector<Visit>& visits, std::vector<std::wstring> lines) {
    WalkReport report;
    report.result = result;
    for (const Visit& visit : visits) {
        if (visit.found) {
            report.found.push_back(visit);
        } else {
            ++report.polls;
        }
    }
    auto byPath = [](const Visit& a, const Visit& b) { return a.path < b.path; };
    std::sort(report.found.begin(), report.found.end(), byPath);
    report.skipped = static_cast<std::size_t>(std::count(lines.begin(), lines.end(),
                                                         L"TRESSEL.Warning: Path too long, folder skipped."));
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::wstring& line) { return line.compare(0, 8, L"TRESSEL.") == 0; }),
                lines.end());
    std::sort(lines.begin(), lines.end());
    report.lines = std::move(lines);
    return report;
}

WalkReport OrderedWalk(const std::wstring& start, bool recurse) {
    DebugLineCapture capture;
    VisitLog log;
    const int result = FindJunctions(start.c_str(), RecordVisit, log.context(), recurse);
    return Summarise(result, log.visits, capture.Lines());
}

WalkReport PooledWalk(const std::wstring& start, bool recurse, int threads, std::set<DWORD>* walkThreads = nullptr) {
    DebugLineCapture capture;
    SharedVisitLog log;
    const int result = FindJunctionsPooled(start.c_str(), RecordSharedVisit, log.context(), recurse, threads);
    if (walkThreads != nullptr) *walkThreads = log.threads;
    return Summarise(result, log.visits, capture.Lines());
}

// The tree of JunctionWalk, made wider and with a loop:
//   root\..x, root\a\a1\j2 (junction), root\b (junction), root\file.txt
//   root\c\loop        junction back to root: never entered
//   root\dN\eM         6 x 4 ordinary folders; root\d3\e1\deep is a junction
//   target\inside       never walked
class PooledJunctionWalk : public JunctionWalk {
protected:
    void SetUp() override {
        JunctionWalk::SetUp();
        MakeFolders(root_ + L"\\c");
        ASSERT_TRUE(CreateJunction(loop_.c_str(), root_.c_str()));
        for (int d = 0; d < 6; ++d) {
            for (int e = 0; e < 4; ++e) MakeFolders(root_ + L"\\d" + std::to_wstring(d) + L"\\e" + std::to_wstring(e));
        }
        ASSERT_TRUE(CreateJunction(deep_.c_str(), target_.c_str()));
    }

    const std::wstring loop_ = root_ + L"\\c\\loop";
    const std::wstring deep_ = root_ + L"\\d3\\e1\\deep";
};

TEST_F(PooledJunctionWalk, ReportsWhatTheOrderedWalkReportsWithAnyNumberOfThreads) {
    const testing_driver::ProcessCensus before = testing_driver::TakeProcessCensus();
    for (bool recurse : {true, false}) {
        const WalkReport ordered = OrderedWalk(root_, recurse);
        ASSERT_EQ(ordered.found.size(), recurse ? 4u : 1u);
        for (int threads : {1, 2, 4}) {
            for (const std::wstring& start : {root_, root_ + L"\\"}) {
                SCOPED_TRACE(testing::Message() << threads << " threads, recurse " << recurse);
                std::set<DWORD> walkThreads;
                const WalkReport pooled = PooledWalk(start, recurse, threads, &walkThreads);
                EXPECT_EQ(pooled, ordered);
                EXPECT_EQ(pooled.result, static_cast<int>(ordered.found.size())) << "every Found call of the walk";
                EXPECT_LE(walkThreads.size(), static_cast<std::size_t>(threads));
                EXPECT_EQ(testing_driver::TakeProcessCensus(), before) << "no thread and no handle outlives the walk";
            }
        }
    }
}

TEST_F(PooledJunctionWalk, StartFolderThatIsAJunctionIsReportedFirst) {
    for (int threads : {1, 4}) {
        SharedVisitLog log;
        EXPECT_EQ(FindJunctionsPooled(b_.c_str(), RecordSharedVisit, log.context(), true, threads), 1);
        EXPECT_EQ(log.visits, (std::vector<Visit>{Found(b_), Poll()}));
    }
}

TEST_F(PooledJunctionWalk, StopEndsEveryThreadAtItsNextFolder) {
    const testing_driver::ProcessCensus before = testing_driver::TakeProcessCensus();
    const WalkReport whole = OrderedWalk(root_, true);
    const std::size_t calls = whole.found.size() + whole.polls;
    for (int threads : {1, 2, 4}) {
        for (std::size_t stopAt : {std::size_t{1}, std::size_t{5}, std::size_t{12}}) {
            SCOPED_TRACE(testing::Message() << threads << " threads, stop at call " << stopAt);
            DebugLineCapture capture;
            SharedVisitLog log;
            log.stopAt = stopAt;
            EXPECT_EQ(FindJunctionsPooled(root_.c_str(), RecordSharedVisit, log.context(), true, threads), -1);
            // Each other thread may have been inside a call of its own.
            EXPECT_GE(log.visits.size(), stopAt);
            EXPECT_LE(log.visits.size(), stopAt + threads - 1);
            EXPECT_LT(log.visits.size(), calls);
            EXPECT_EQ(testing_driver::TakeProcessCensus(), before);
        }
    }
    // Stopped at the start folder: nothing is listed.
    DebugLineCapture capture;
    SharedVisitLog log;
    log.stopAt = 1;
    EXPECT_EQ(FindJunctionsPooled(b_.c_str(), RecordSharedVisit, log.context(), true, 4), -1);
    EXPECT_EQ(log.visits.size(), 1u);
    EXPECT_TRUE(capture.Lines().empty());
}

TEST(FindJunctionsPooled, DeepTreeAndUnlistableFoldersGiveTheOrderedWalksReport) {
    // As in the deep walk above: a tree down to the path limit, with a folder
    // whose path fits but cannot be listed and one whose path does not fit.
    const std::wstring root = UniquePath(kNtfsDrive, L"deep-pooled");
    const std::wstring target = UniquePath(kNtfsDrive, L"deep-pooled-target");
    MakeFolders(target);
    std::wstring path = root;
    for (int level = 0; level < 40; ++level) path += L"\\d";
    while (path.size() + 100 <= 1000) path += L"\\" + std::wstring(99, L'L');
    const std::wstring junctionPath = path + L"\\j";
    MakeFolders(path + L"\\" + std::wstring(1021 - path.size() - 1, L'x') + L"\\hidden");
    MakeFolders(path + L"\\" + std::wstring(1030 - path.size(), L'y'));
    MakeFolders(path + L"\\z");
    MakeFolders(junctionPath);
    ASSERT_EQ(testing_driver::WriteNtfsReparseData(junctionPath, testing_driver::MountPointData(NtName(target), L"", false)),
              0);

    const WalkReport ordered = OrderedWalk(root, true);
    ASSERT_EQ(ordered.found, (std::vector<Visit>{{true, junctionPath, NtName(target), kMountPointTag}}));
    ASSERT_EQ(ordered.skipped, 1u);
    for (int threads : {1, 4}) {
        SCOPED_TRACE(threads);
        const WalkReport pooled = PooledWalk(root, true, threads);
        EXPECT_EQ(pooled, ordered);
        EXPECT_EQ(pooled.result, 1);
    }
}

}  // namespace
