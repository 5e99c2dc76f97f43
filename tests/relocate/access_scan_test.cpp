// The access scan worker, run as the relocation runs it: on its own thread, with a
// status bar on this thread that only reads its posts after the worker has ended.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "ui/app_globals.h"
#include "ui/scan_status.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/process_census.h"
#include "tests/relocate/file_tree.h"
#include "tests/relocate/scan_runner.h"

namespace {

using namespace relocation_testing;

// Holds a file open the way another program might.
class HeldFile {
public:
    HeldFile(const std::wstring& path, DWORD share)
        : handle_(::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr)) {
        EXPECT_NE(handle_, INVALID_HANDLE_VALUE);
    }
    ~HeldFile() {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

private:
    HANDLE handle_;
};

constexpr DWORD kNoSharing = 0;
constexpr DWORD kFullSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

const std::vector<TreeFile> kTree = {
    {L"top.txt", "top"},
    {L".hidden", "hidden"},
    {L"sub\\mid.txt", "mid"},
    {L"sub\\deep\\deep.txt", "deep"},
    {L"..data\\dots.txt", "dots"},
    {L"other\\x.bin", std::string(70000, 'x')},
};

TEST(AccessScan, EmptyFolderPassesAndLeavesMovingText) {
    ScratchFolder folder(TempRoot());
    for (int threads : kScanThreadCounts) {
        SCOPED_TRACE(threads);
        ScanThreadsScope scope(threads);
        const ScanResult result = RunScan(folder.path());
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_EQ(result.status, L"Moving ...");
        EXPECT_FALSE(result.systemFiles);
    }
}

TEST(AccessScan, FailsAtFirstFileThatDoesNotOpenForWriting) {
    ScratchFolder folder(TempRoot());
    MakeTree(folder.path(), kTree);
    const std::wstring root = folder.path();
    const struct {
        const char* name;
        std::vector<std::pair<std::wstring, DWORD>> held;  // files held open, and their sharing
        std::wstring scanned;                              // the path handed to the scan
        DWORD exitCode;
        std::wstring status;
        std::wstring pooledStatus = L"";  // when several threads may find another failure first
    } cases[] = {
        {"nothing held", {}, root, 1, L"Moving ..."},
        {"trailing backslash", {}, root + L"\\", 1, L"Moving ..."},
        {"held with full sharing", {{L"sub\\deep\\deep.txt", kFullSharing}}, root, 1, L"Moving ..."},
        {"held without sharing", {{L"sub\\deep\\deep.txt", kNoSharing}}, root, 0, root + L"\\sub\\deep\\deep.txt"},
        {"held for reading only", {{L"sub\\mid.txt", FILE_SHARE_READ}}, root, 0, root + L"\\sub\\mid.txt"},
        {"hidden file", {{L".hidden", kNoSharing}}, root, 0, root + L"\\.hidden"},
        {"folder named ..data", {{L"..data\\dots.txt", kNoSharing}}, root, 0, root + L"\\..data\\dots.txt"},
        // One thread tests the deeper file first and stops there; several may
        // meet either failure first.
        {"deeper folder first",
         {{L"top.txt", kNoSharing}, {L"sub\\deep\\deep.txt", kNoSharing}},
         root,
         0,
         root + L"\\sub\\deep\\deep.txt",
         root + L"\\top.txt"},
        {"source is a file: nothing to test", {}, root + L"\\top.txt", 1, L"Moving ..."},
        {"source missing: nothing to test", {}, root + L"\\missing", 1, L"Moving ..."},
    };
    for (int threads : kScanThreadCounts) {
        ScanThreadsScope scope(threads);
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << ", " << threads << " thread(s)");
            std::vector<std::unique_ptr<HeldFile>> held;
            for (const auto& [relative, share] : c.held) held.push_back(std::make_unique<HeldFile>(root + L"\\" + relative, share));
            const ScanResult result = RunScan(c.scanned);
            EXPECT_EQ(result.exitCode, c.exitCode);
            if (threads > 1 && !c.pooledStatus.empty() && result.status == c.pooledStatus) continue;
            EXPECT_EQ(result.status, c.status);
            if (c.exitCode == 0) {
                ASSERT_FALSE(result.tested.empty());
                EXPECT_EQ(result.tested.back(), result.status) << "nothing is tested after the failure";
            }
        }
    }
}

TEST(AccessScan, NotesSystemFilesAndForgetsThemOnTheNextScan) {
    ScratchFolder withSystem(TempRoot(), L"with-system");
    MakeTree(withSystem.path(), {{L"a.txt", "a"}, {L"sub\\boot.ini", "sys", FILE_ATTRIBUTE_SYSTEM}});
    ASSERT_TRUE(::GetFileAttributesW((withSystem / L"sub\\boot.ini").c_str()) & FILE_ATTRIBUTE_SYSTEM);
    ScratchFolder without(TempRoot(), L"without-system");
    MakeTree(without.path(), {{L"a.txt", "a"}, {L"hidden.txt", "h", FILE_ATTRIBUTE_HIDDEN}});

    for (int threads : kScanThreadCounts) {
        SCOPED_TRACE(threads);
        ScanThreadsScope scope(threads);
        ScanResult result = RunScan(withSystem.path());
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_TRUE(result.systemFiles);
        result = RunScan(without.path());
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_FALSE(result.systemFiles) << "cleared as each scan starts";
    }
}

// A tree of many folders and files: every file tested exactly once, each debug
// line whole, whatever the number of threads.
TEST(AccessScan, PooledScanTestsEveryFileOnceLikeTheOrderedOne) {
    ScratchFolder folder(TempRoot());
    std::vector<TreeFile> tree;
    for (int f = 0; f < 6; ++f) {
        const std::wstring sub = L"d" + std::to_wstring(f);
        for (int g = 0; g < 3; ++g) {
            for (int i = 0; i < 40; ++i) {
                tree.push_back({sub + L"\\e" + std::to_wstring(g) + L"\\f" + std::to_wstring(i) + L".txt", "x"});
            }
        }
        // More files than one batch in one folder.
        for (int i = 0; i < 150; ++i) tree.push_back({sub + L"\\g" + std::to_wstring(i) + L".txt", "x"});
    }
    MakeTree(folder.path(), tree);
    std::vector<std::wstring> files;
    for (const TreeFile& file : tree) files.push_back(folder / file.relativePath);
    std::sort(files.begin(), files.end());

    for (int threads : kScanThreadCounts) {
        SCOPED_TRACE(threads);
        ScanThreadsScope scope(threads);
        const ScanResult result = RunScan(folder.path());
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_EQ(result.status, L"Moving ...");
        std::vector<std::wstring> tested = result.tested;
        if (threads == 1) {
            // One thread: each folder's sub-folders before its own files.
            const auto firstOwnFile = std::find_if(tested.begin(), tested.end(), [&](const std::wstring& path) {
                return path.compare(0, folder.path().size() + 5, folder / L"d0\\g") == 0;
            });
            const auto lastDeeperFile = std::find_if(tested.rbegin(), tested.rend(), [&](const std::wstring& path) {
                return path.compare(0, folder.path().size() + 5, folder / L"d0\\e") == 0;
            });
            ASSERT_NE(firstOwnFile, tested.end());
            ASSERT_NE(lastDeeperFile, tested.rend());
            EXPECT_GT(firstOwnFile - tested.begin(), tested.rend() - lastDeeperFile - 1);
        }
        std::sort(tested.begin(), tested.end());
        EXPECT_EQ(tested, files);
    }
}

// One post per file would queue more texts than a thread's queue takes (10,000),
// and "Moving ..." would be lost with the rest.
TEST(AccessScan, ProgressOfALargeTreeStaysFarBelowTheQueueLimit) {
    ScratchFolder folder(TempRoot());
    constexpr int kFolders = 24;
    constexpr int kFilesPerFolder = 500;
    for (int f = 0; f < kFolders; ++f) {
        const std::wstring sub = folder / (L"d" + std::to_wstring(f));
        ::CreateDirectoryW(sub.c_str(), nullptr);
        for (int i = 0; i < kFilesPerFolder; ++i) WriteTextFile(sub + L"\\f" + std::to_wstring(i), "x");
    }
    for (int threads : {1, 4}) {
        SCOPED_TRACE(threads);
        ScanThreadsScope scope(threads);
        const ScanResult result = RunScan(folder.path(), true);
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_EQ(result.status, L"Moving ...");
        EXPECT_GE(result.queuedTexts, 1u);
        EXPECT_LT(result.queuedTexts, 1000u) << "for " << kFolders * kFilesPerFolder << " files";
        EXPECT_EQ(result.tested.size(), static_cast<size_t>(kFolders * kFilesPerFolder));
    }
}

TEST(AccessScan, RepeatedScansReleaseTheirTextsThreadsAndHandles) {
    ScratchFolder folder(TempRoot());
    MakeTree(folder.path(), kTree);
    HeldFile held(folder / L"other\\x.bin", kNoSharing);
    RunScan(folder.path());  // whatever a first scan sets up for good
    const testing_driver::ProcessCensus before = testing_driver::TakeProcessCensus();
    for (int run = 0; run < 3; ++run) {
        for (int threads : kScanThreadCounts) {
            SCOPED_TRACE(testing::Message() << "run " << run << ", " << threads << " thread(s)");
            ScanThreadsScope scope(threads);
            const ScanResult result = RunScan(folder.path());
            EXPECT_EQ(result.exitCode, 0u);
            EXPECT_EQ(result.status, folder / L"other\\x.bin");
            EXPECT_EQ(testing_driver::TakeProcessCensus(), before);
        }
    }
}

}  // namespace
