// The access scan worker, run as the relocation runs it: on its own thread, with a
// status bar on this thread that only reads its posts after the worker has ended.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "ui/app_globals.h"
#include "ui/scan_status.h"
#include "tests/driver/dialog_driver.h"
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
    const ScanResult result = RunScan(folder.path());
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.status, L"Moving ...");
    EXPECT_FALSE(result.systemFiles);
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
    } cases[] = {
        {"nothing held", {}, root, 1, L"Moving ..."},
        {"trailing backslash", {}, root + L"\\", 1, L"Moving ..."},
        {"held with full sharing", {{L"sub\\deep\\deep.txt", kFullSharing}}, root, 1, L"Moving ..."},
        {"held without sharing", {{L"sub\\deep\\deep.txt", kNoSharing}}, root, 0, root + L"\\sub\\deep\\deep.txt"},
        {"held for reading only", {{L"sub\\mid.txt", FILE_SHARE_READ}}, root, 0, root + L"\\sub\\mid.txt"},
        {"hidden file", {{L".hidden", kNoSharing}}, root, 0, root + L"\\.hidden"},
        {"folder named ..data", {{L"..data\\dots.txt", kNoSharing}}, root, 0, root + L"\\..data\\dots.txt"},
        // The deeper file is tested first, and the scan stops there.
        {"deeper folder first",
         {{L"top.txt", kNoSharing}, {L"sub\\deep\\deep.txt", kNoSharing}},
         root,
         0,
         root + L"\\sub\\deep\\deep.txt"},
        {"source is a file: nothing to test", {}, root + L"\\top.txt", 1, L"Moving ..."},
        {"source missing: nothing to test", {}, root + L"\\missing", 1, L"Moving ..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<HeldFile>> held;
        for (const auto& [relative, share] : c.held) held.push_back(std::make_unique<HeldFile>(root + L"\\" + relative, share));
        const ScanResult result = RunScan(c.scanned);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.status, c.status);
    }
}

TEST(AccessScan, NotesSystemFilesAndForgetsThemOnTheNextScan) {
    ScratchFolder withSystem(TempRoot(), L"with-system");
    MakeTree(withSystem.path(), {{L"a.txt", "a"}, {L"sub\\boot.ini", "sys", FILE_ATTRIBUTE_SYSTEM}});
    ASSERT_TRUE(::GetFileAttributesW((withSystem / L"sub\\boot.ini").c_str()) & FILE_ATTRIBUTE_SYSTEM);
    ScratchFolder without(TempRoot(), L"without-system");
    MakeTree(without.path(), {{L"a.txt", "a"}, {L"hidden.txt", "h", FILE_ATTRIBUTE_HIDDEN}});

    ScanResult result = RunScan(withSystem.path());
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_TRUE(result.systemFiles);
    result = RunScan(without.path());
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_FALSE(result.systemFiles) << "cleared as each scan starts";
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
    const ScanResult result = RunScan(folder.path(), true);
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.status, L"Moving ...");
    EXPECT_GE(result.queuedTexts, 1u);
    EXPECT_LT(result.queuedTexts, 1000u) << "for " << kFolders * kFilesPerFolder << " files";
}

TEST(AccessScan, RepeatedScansReleaseTheirTexts) {
    ScratchFolder folder(TempRoot());
    MakeTree(folder.path(), kTree);
    HeldFile held(folder / L"other\\x.bin", kNoSharing);
    for (int run = 0; run < 3; ++run) {
        const ScanResult result = RunScan(folder.path());
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(result.status, folder / L"other\\x.bin");
    }
}

}  // namespace
