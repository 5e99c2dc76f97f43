// The access scan on the NTFS test volume, where junctions inside the tree are
// real: they are recorded with their reparse data and never entered, so a junction
// pointing back up the tree or out of it adds nothing to test.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>

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

}  // namespace
