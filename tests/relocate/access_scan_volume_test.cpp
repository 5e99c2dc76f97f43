// The access scan on the NTFS test volume, where junctions inside the tree are
// real: they are recorded with their reparse data and never entered, so a junction
// pointing back up the tree or out of it adds nothing to test.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "ui/app_globals.h"
#include "junction/junction.h"
#include "engine/access_scan.h"
#include "ui/scan_status.h"
#include "tests/driver/debug_capture.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/host_view.h"
#include "tests/driver/test_volumes.h"
#include "tests/relocate/file_tree.h"
#include "tests/relocate/scan_runner.h"

namespace {

using namespace relocation_testing;
using namespace testing_driver;

class SilentScanProgress : public AccessScanProgress {
public:
    void OnTesting(const std::wstring&) override {}
    void OnStopped(const std::wstring&) override {}
    void OnPassed() override {}
};

class AccessScanOnVolume : public ::testing::Test {
protected:
    void SetUp() override {
        MakeTree(outside_.path(), {{L"o.txt", "outside"}});
        MakeTree(root_, {{L"a\\file1.txt", "1"}, {L"b\\file2.txt", "2"}});
        ASSERT_TRUE(CreateJunction((root_ + L"\\a\\loop").c_str(), root_.c_str())) << "junction to an ancestor";
        ASSERT_TRUE(CreateJunction((root_ + L"\\b\\again").c_str(), (root_ + L"\\a").c_str()))
            << "second way into a folder";
        ASSERT_TRUE(CreateJunction((root_ + L"\\link").c_str(), outside_.path().c_str())) << "junction out of the tree";
    }
    void TearDown() override {
        for (const wchar_t* link : {L"\\a\\loop", L"\\b\\again", L"\\link"}) {
            EXPECT_TRUE(RemoveJunction((root_ + link).c_str())) << link;
        }
    }

    ScratchFolder scratch_{kNtfsDrive};
    ScratchFolder outside_{kNtfsDrive, L"outside"};
    std::wstring root_ = scratch_ / L"root";
};

TEST_F(AccessScanOnVolume, TestsOnlyTheTreesOwnFilesAndRecordsEachLink) {
    for (int threads : kScanThreadCounts) {
        SCOPED_TRACE(threads);
        ScanThreadsScope scope(threads);
        const ScanResult result = RunScan(root_);
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_EQ(result.status, L"Moving ...");
        std::vector<std::wstring> names;
        for (const auto& path : result.tested) names.push_back(path.substr(path.find_last_of(L'\\') + 1));
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::wstring>{L"file1.txt", L"file2.txt"}));

        SilentScanProgress progress;
        AccessScanFindings findings;
        ASSERT_TRUE(ScanForAccess(root_, L"*", progress, findings, threads));
        EXPECT_EQ(findings.totalBytes, 2u);
        EXPECT_EQ(findings.longestRelativePath.size(), std::wstring(L"a\\file1.txt").size());
        std::vector<std::wstring> links;
        for (const LinkRecord& link : findings.links) {
            links.push_back(link.relativePath);
            EXPECT_TRUE(link.folder);
            EXPECT_EQ(link.data, ReadNtfsReparseData(root_ + L"\\" + link.relativePath)) << "byte for byte";
        }
        EXPECT_EQ(links, (std::vector<std::wstring>{L"a\\loop", L"b\\again", L"link"})) << "in the order of their paths";
    }
}

TEST_F(AccessScanOnVolume, AFileHeldBehindAJunctionIsNotTheTreesConcern) {
    HANDLE held = ::CreateFileW((outside_ / L"o.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    for (int threads : kScanThreadCounts) {
        SCOPED_TRACE(threads);
        ScanThreadsScope scope(threads);
        const ScanResult result = RunScan(root_);
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_EQ(result.status, L"Moving ...");
    }
    ::CloseHandle(held);
}

// A file held open by another program, for as long as it lives.
class HeldOpen {
public:
    HeldOpen(const std::wstring& path, DWORD share)
        : file_(::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr)) {
        EXPECT_NE(file_, INVALID_HANDLE_VALUE) << ::testing::PrintToString(path);
    }
    ~HeldOpen() {
        if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
    }
    HeldOpen(const HeldOpen&) = delete;
    HeldOpen& operator=(const HeldOpen&) = delete;

private:
    HANDLE file_;
};

std::vector<std::wstring> Sorted(std::vector<std::wstring> paths) {
    std::sort(paths.begin(), paths.end());
    return paths;
}

// The pool and the single thread on real NTFS: whatever the number of threads, a
// scan passes or stops at the same file, notes the same SYSTEM file, and tests the
// same files; a stopped one tests nothing after its failure.
TEST(AccessScanPoolOnVolume, GivesTheSingleThreadsResultInEveryCase) {
    ScratchFolder scratch(kNtfsDrive);
    const std::wstring root = scratch / L"tree";
    std::vector<TreeFile> tree = {
        {L"top.txt", "top"},
        {L"sub\\mid.txt", "mid"},
        {L"sub\\deep\\deep.txt", "deep"},
        {L"boot.ini", "system file", FILE_ATTRIBUTE_SYSTEM},
    };
    // Enough folders and files that every thread of a pool gets work.
    for (int d = 0; d < 6; ++d) {
        for (int f = 0; f < 40; ++f) {
            tree.push_back({L"wide\\d" + std::to_wstring(d) + L"\\f" + std::to_wstring(f) + L".dat", "w"});
        }
    }
    MakeTree(root, tree);
    const bool systemKept = (::GetFileAttributesW((root + L"\\boot.ini").c_str()) & FILE_ATTRIBUTE_SYSTEM) != 0;
    if (!systemKept) std::printf("the SYSTEM attribute does not stick on this drive: no scan sees it here\n");

    constexpr DWORD kNoSharing = 0;
    const struct {
        const char* name;
        std::vector<std::pair<std::wstring, DWORD>> held;
        DWORD exitCode;
        std::wstring status;
    } cases[] = {
        {"nothing held", {}, 1, L"Moving ..."},
        {"held with full sharing", {{L"wide\\d2\\f7.dat", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}},
         1, L"Moving ..."},
        {"held without sharing, deep", {{L"sub\\deep\\deep.txt", kNoSharing}}, 0, root + L"\\sub\\deep\\deep.txt"},
        {"held for reading only, late", {{L"wide\\d5\\f39.dat", FILE_SHARE_READ}}, 0, root + L"\\wide\\d5\\f39.dat"},
        {"the SYSTEM file held", {{L"boot.ini", kNoSharing}}, 0, root + L"\\boot.ini"},
    };
    for (const auto& c : cases) {
        std::vector<std::unique_ptr<HeldOpen>> held;
        for (const auto& [relative, share] : c.held) held.push_back(std::make_unique<HeldOpen>(root + L"\\" + relative, share));
        ScanResult single;
        {
            ScanThreadsScope scope(1);
            single = RunScan(root);
        }
        SCOPED_TRACE(c.name);
        EXPECT_EQ(single.exitCode, c.exitCode);
        EXPECT_EQ(single.status, c.status);
        if (c.exitCode == 1) {
            EXPECT_EQ(single.tested.size(), tree.size());
            EXPECT_EQ(single.systemFiles, systemKept);
        }
        for (int threads : {2, 4}) {
            SCOPED_TRACE(testing::Message() << threads << " threads");
            ScanThreadsScope scope(threads);
            const ScanResult pooled = RunScan(root);
            EXPECT_EQ(pooled.exitCode, single.exitCode);
            EXPECT_EQ(pooled.status, single.status);
            if (c.exitCode == 1) {
                EXPECT_EQ(Sorted(pooled.tested), Sorted(single.tested));
                EXPECT_EQ(pooled.systemFiles, single.systemFiles);
            } else {
                ASSERT_FALSE(pooled.tested.empty());
                EXPECT_EQ(pooled.tested.back(), pooled.status) << "nothing is tested after the failure";
            }
        }
    }
}

}  // namespace
