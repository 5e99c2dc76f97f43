// The access scan on the NTFS test volume, where junctions inside the tree are
// real: they are followed, but no folder is walked twice, so a junction pointing
// back up the tree cannot make the scan endless.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "ui/app_globals.h"
#include "junction/junction.h"
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

TEST_F(AccessScanOnVolume, EndsAndTestsEachFileOnceThroughJunctionLoops) {
    for (int threads : kScanThreadCounts) {
        SCOPED_TRACE(threads);
        ScanThreadsScope scope(threads);
        const ScanResult result = RunScan(root_);
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_EQ(result.status, L"Moving ...");
        ASSERT_EQ(result.tested.size(), 3u) << "file1, file2 and the file reached through the junction out of the tree";
        std::vector<std::wstring> names;
        for (const auto& path : result.tested) names.push_back(path.substr(path.find_last_of(L'\\') + 1));
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::wstring>{L"file1.txt", L"file2.txt", L"o.txt"}));
    }
}

TEST_F(AccessScanOnVolume, FileReachedThroughAJunctionIsTestedToo) {
    HANDLE held = ::CreateFileW((outside_ / L"o.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    for (int threads : kScanThreadCounts) {
        SCOPED_TRACE(threads);
        ScanThreadsScope scope(threads);
        const ScanResult result = RunScan(root_);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(result.status, root_ + L"\\link\\o.txt");
    }
    ::CloseHandle(held);
}

}  // namespace
