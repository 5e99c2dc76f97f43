// Junctions in every state, made from Linux the way other tools leave them, found
// by the walk and classified from what the disk shows. Under Wine a junction whose
// target is missing (or a file) is not in Wine's own listing at all: the walk must
// still find it, read it, and be able to remove and re-point it.
#include "junction/junction.h"
#include "junction/link_health.h"
#include "junction/wine_host.h"

#include "tests/driver/host_view.h"
#include "tests/driver/test_volumes.h"
#include "tests/junction/junction_test_support.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <iterator>
#include <map>
#include <string>

namespace {

using namespace junction_test;
using testing_driver::kNtfsDrive;

// A drive letter that names no drive here.
wchar_t UnusedDriveLetter() {
    for (wchar_t letter = L'Q'; letter <= L'Z'; ++letter) {
        const wchar_t root[] = {letter, L':', L'\\', 0};
        if (::GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR) return letter;
    }
    return 0;
}

// An empty folder `name` in `folder` made a junction to `substituteName` from Linux.
std::wstring LinuxJunction(const std::wstring& folder, const wchar_t* name, const std::wstring& substituteName) {
    const std::wstring link = folder + L"\\" + name;
    MakeFolders(link);
    EXPECT_EQ(testing_driver::WriteNtfsReparseData(link, testing_driver::MountPointData(substituteName, L"", false)), 0)
        << name;
    return link;
}

bool CollectVisit(std::uintptr_t context, const wchar_t* path, const wchar_t* target, DWORD /*tag*/) {
    if (path != nullptr) (*reinterpret_cast<std::map<std::wstring, std::wstring>*>(context))[path] = target;
    return true;
}

class LinkStates : public ::testing::Test {
protected:
    void SetUp() override {
        MakeFolders(real_);
        MakeFolders(folder_);
        WriteTextFile(folder_ + L"\\file.txt", "a file");
        const wchar_t letter = UnusedDriveLetter();
        ASSERT_NE(letter, 0);
        expected_ = {
            {L"ok", NtName(real_), LinkHealth::Ok},
            {L"missing", NtName(folder_ + L"\\gone"), LinkHealth::TargetMissing},
            {L"file", NtName(folder_ + L"\\file.txt"), LinkHealth::TargetNotFolder},
            {L"chain", NtName(folder_ + L"\\ok"), LinkHealth::TargetIsLink},
            {L"parent", NtName(folder_), LinkHealth::PointsIntoItself},
            {L"self", NtName(folder_ + L"\\self"), LinkHealth::PointsIntoItself},
            {L"ping", NtName(folder_ + L"\\pong"), LinkHealth::PointsIntoItself},
            {L"pong", NtName(folder_ + L"\\ping"), LinkHealth::PointsIntoItself},
            {L"unplugged", std::wstring(L"\\??\\") + letter + L":\\Games", LinkHealth::DriveNotThere},
            {L"share", L"\\??\\UNC\\server\\share\\Games", LinkHealth::OnAnotherComputer},
        };
        for (const Expected& e : expected_) LinuxJunction(folder_, e.name, e.stored);
    }

    struct Expected {
        const wchar_t* name;
        std::wstring stored;
        LinkHealth health;
    };
    const std::wstring folder_ = UniquePath(kNtfsDrive, L"states");
    const std::wstring real_ = UniquePath(kNtfsDrive, L"states-real");
    std::vector<Expected> expected_;
};

TEST_F(LinkStates, EveryJunctionIsFoundWithItsTargetAndState) {
    for (const bool pooled : {false, true}) {
        SCOPED_TRACE(pooled ? "pooled walk" : "walk");
        std::map<std::wstring, std::wstring> found;
        const int count = pooled ? FindJunctionsPooled(folder_.c_str(), CollectVisit,
                                                       reinterpret_cast<std::uintptr_t>(&found), true, 3)
                                 : FindJunctions(folder_.c_str(), CollectVisit, reinterpret_cast<std::uintptr_t>(&found),
                                                 true);
        EXPECT_EQ(count, static_cast<int>(expected_.size()));
        for (const Expected& e : expected_) {
            const std::wstring link = folder_ + L"\\" + e.name;
            const auto row = found.find(link);
            ASSERT_NE(row, found.end()) << "not found: " << link;
            EXPECT_EQ(row->second, e.stored) << link;
            const std::wstring listed = row->second.substr(4);  // as the list shows it
            EXPECT_STREQ(LinkHealthText(CheckLinkHealth(link, listed)), LinkHealthText(e.health)) << link;
        }
        EXPECT_EQ(found.size(), expected_.size());
    }
}

// Under Wine the walk finds a hidden junction through Linux, in the Linux folder
// it works out from the walk's start: that must hold for folders with names only
// Linux allows, with letters beyond ASCII and beyond 16 bits, in mixed case, and
// for a start folder typed in another case than it has on disk.
TEST_F(LinkStates, DanglingJunctionsAreFoundInFoldersWithAnyName) {
    const std::string unixFolder = testing_driver::UnixPathOf(folder_);
    ASSERT_FALSE(unixFolder.empty());
    const char* linuxNames[] = {"with:colon", "Spiele \xC3\xA9t\xC3\xA9 \xF0\x9F\x8E\xAE", "MiXeD Case"};
    std::vector<std::wstring> links;
    for (const char* name : linuxNames) {
        ASSERT_EQ(wine_host::MakeDirectory((unixFolder + "/" + name).c_str(), 0755), 0) << name;
    }
    // The Windows names of those folders, as Wine lists them.
    WIN32_FIND_DATAW entry;
    HANDLE listing = ::FindFirstFileW((folder_ + L"\\*").c_str(), &entry);
    ASSERT_NE(listing, INVALID_HANDLE_VALUE);
    do {
        const std::wstring name = entry.cFileName;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || name == L"." || name == L".." ||
            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            continue;
        }
        links.push_back(LinuxJunction(folder_ + L"\\" + name, L"gone", NtName(folder_ + L"\\nowhere")));
    } while (::FindNextFileW(listing, &entry));
    ::FindClose(listing);
    ASSERT_EQ(links.size(), std::size(linuxNames));

    std::wstring typed = folder_;
    for (wchar_t& c : typed) c = static_cast<wchar_t>(::towupper(c));
    for (const bool pooled : {false, true}) {
        SCOPED_TRACE(pooled ? "pooled walk" : "walk");
        std::map<std::wstring, std::wstring> found;
        const auto context = reinterpret_cast<std::uintptr_t>(&found);
        if (pooled) {
            FindJunctionsPooled(typed.c_str(), CollectVisit, context, true, 3);
        } else {
            FindJunctions(typed.c_str(), CollectVisit, context, true);
        }
        EXPECT_EQ(found.size(), expected_.size() + links.size());
        for (const std::wstring& link : links) {
            std::wstring asWalked = typed + link.substr(typed.size());
            const auto row = found.find(asWalked);
            ASSERT_NE(row, found.end()) << "not found: " << asWalked;
            EXPECT_EQ(row->second, NtName(folder_ + L"\\nowhere"));
        }
    }
}

TEST_F(LinkStates, AJunctionWhoseTargetIsGoneIsRepointedAndRemovedByItsOwnData) {
    const std::wstring link = folder_ + L"\\missing";
    const std::wstring elsewhere = UniquePath(kNtfsDrive, L"states-new");
    MakeFolders(elsewhere);
    WriteTextFile(elsewhere + L"\\kept.txt", "kept");

    // Not while it stores something else than what the caller saw.
    EXPECT_FALSE(RepointJunctionAt(link.c_str(), (folder_ + L"\\other").c_str(), elsewhere.c_str()));
    EXPECT_EQ(testing_driver::ReadNtfsReparseData(link),
              testing_driver::MountPointData(NtName(folder_ + L"\\gone"), L"", false));

    ASSERT_TRUE(RepointJunctionAt(link.c_str(), (folder_ + L"\\gone").c_str(), elsewhere.c_str()));
    EXPECT_EQ(testing_driver::ReadNtfsReparseData(link), testing_driver::MountPointData(NtName(elsewhere), L"", false));
    EXPECT_EQ(CheckLinkHealth(link, elsewhere), LinkHealth::Ok);
    EXPECT_EQ(ReadTextFile(link + L"\\kept.txt"), "kept");

    // A hidden one is removed as a link: nothing it pointed at goes with it.
    const std::wstring pointsAtFile = folder_ + L"\\file";
    EXPECT_TRUE(RemoveJunction(pointsAtFile.c_str()));
    EXPECT_EQ(testing_driver::HostTypeOf(pointsAtFile), testing_driver::HostType::Missing);
    EXPECT_EQ(ReadTextFile(folder_ + L"\\file.txt"), "a file");
    EXPECT_EQ(ReadTextFile(elsewhere + L"\\kept.txt"), "kept");
}

TEST_F(LinkStates, ARepointThatCannotBeMadeLeavesTheOldDataOnDisk) {
    const std::wstring link = folder_ + L"\\ok";
    const testing_driver::Bytes before = *testing_driver::ReadNtfsReparseData(link);
    const std::wstring elsewhere = UniquePath(kNtfsDrive, L"states-new");
    MakeFolders(elsewhere);
    {
        // Held open by someone else without sharing: the junction cannot be had.
        HANDLE held = ::CreateFileW(link.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                    nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(RepointJunctionAt(link.c_str(), real_.c_str(), elsewhere.c_str()));
        ::CloseHandle(held);
    }
    EXPECT_EQ(testing_driver::ReadNtfsReparseData(link), before);
    // A target too long for a junction is refused before anything is written.
    const std::wstring tooLong = elsewhere + L"\\" + std::wstring(300, L'x');
    EXPECT_FALSE(RepointJunctionAt(link.c_str(), real_.c_str(), tooLong.c_str()));
    EXPECT_EQ(testing_driver::ReadNtfsReparseData(link), before);

    ASSERT_TRUE(RepointJunctionAt(link.c_str(), NtName(real_).c_str(), elsewhere.c_str()));
    EXPECT_EQ(testing_driver::ReadNtfsReparseData(link), testing_driver::MountPointData(NtName(elsewhere), L"", false));
}

}  // namespace
