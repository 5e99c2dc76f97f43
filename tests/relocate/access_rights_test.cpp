// The access scan where file modes count: run as an ordinary user (see
// tools/wine-run-user), as Windows users run the program, so a read-only file, a
// file the user may not write and a folder the user may not list all stop it.
#include <gtest/gtest.h>

#include "tests/relocate/file_tree.h"
#include "tests/relocate/scan_runner.h"

namespace {

using namespace relocation_testing;

// Root passes every file-mode check; these tests mean nothing there.
bool RunningAsOrdinaryUser() {
    HANDLE file = ::CreateFileW(L"Z:\\etc\\hostname", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return true;
    ::CloseHandle(file);
    return false;
}

class AccessRights : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(RunningAsOrdinaryUser()) << "run through tools/wine-run-user";
    }
};

TEST_F(AccessRights, ReadOnlyFileFailsTheScan) {
    ScratchFolder folder(TempRoot());
    MakeTree(folder.path(), {{L"a.txt", "a"}, {L"sub\\ro.txt", "read-only", FILE_ATTRIBUTE_READONLY}, {L"z.txt", "z"}});
    ASSERT_TRUE(::GetFileAttributesW((folder / L"sub\\ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    for (int threads : kScanThreadCounts) {
        SCOPED_TRACE(threads);
        ScanThreadsScope scope(threads);
        const ScanResult result = RunScan(folder.path());
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(result.status, folder / L"sub\\ro.txt");
    }
    ::SetFileAttributesW((folder / L"sub\\ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(AccessRights, FileTheUserMayNotWriteFailsTheScan) {
    // Debian's own configuration files belong to root and are not writable by others.
    const std::wstring folder = L"Z:\\etc\\apt";
    for (int threads : kScanThreadCounts) {
        SCOPED_TRACE(threads);
        ScanThreadsScope scope(threads);
        const ScanResult result = RunScan(folder);
        EXPECT_EQ(result.exitCode, 0u);
        ASSERT_FALSE(result.tested.empty());
        EXPECT_EQ(result.status, result.tested.back()) << "the scan stopped at the first file it could not open";
        EXPECT_EQ(result.status.compare(0, folder.size() + 1, folder + L"\\"), 0);
    }
}

TEST_F(AccessRights, FolderTheUserMayNotListFailsTheScanWithItsPath) {
    // root's home folder may be listed by root alone (mode 700 on Debian).
    for (int threads : kScanThreadCounts) {
        SCOPED_TRACE(threads);
        ScanThreadsScope scope(threads);
        const ScanResult result = RunScan(L"Z:\\root");
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(result.status, L"Z:\\root");
        EXPECT_TRUE(result.tested.empty());
    }
}

}  // namespace
