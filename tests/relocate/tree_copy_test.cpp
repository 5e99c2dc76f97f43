// The copier that moves a folder's files to another drive: a copy is only "Copied"
// when every file is there, flushed and equal to its original; any other ending
// leaves the originals untouched and a partial copy that can be removed whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <thread>

#include "engine/tree_copy.h"
#include "junction/junction.h"
#include "tests/driver/test_volumes.h"
#include "tests/relocate/file_tree.h"

namespace {

using namespace relocation_testing;
using namespace testing_driver;

const std::vector<TreeFile> kTree = {
    {L"readme.txt", "top"},
    {L"docs\\deep\\report.xls", std::string(300000, 'r')},
    {L"docs\\empty.txt", ""},
    {L"hidden.dat", "hidden", FILE_ATTRIBUTE_HIDDEN},
    {L"locked.ini", "read only", FILE_ATTRIBUTE_READONLY},
    {L"Spiele \u00e9t\u00e9 \U0001F3AE\\save.dat", std::string(5000, 's')},
};

std::vector<std::wstring> EntriesOf(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE listing = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(listing, &entry));
    ::FindClose(listing);
    return names;
}

std::optional<WIN32_FILE_ATTRIBUTE_DATA> InfoOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(ExtendedLengthPath(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return data;
}

std::string ReadAll(const std::wstring& path) {
    std::string content;
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return content;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) content.append(buffer, read);
    ::CloseHandle(file);
    return content;
}

std::uint64_t WriteTime(const WIN32_FILE_ATTRIBUTE_DATA& data) {
    return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

// Sets a file's last-write time to a fixed moment: a copy must carry it.
void SetWriteTime(const std::wstring& path, std::uint64_t time) {
    HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    FILETIME when = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    EXPECT_TRUE(::SetFileTime(file, nullptr, nullptr, &when));
    ::CloseHandle(file);
}

TreeCopyRequest RequestFor(const std::wstring& source, const std::wstring& target) {
    TreeCopyRequest request;
    request.source = source;
    request.target = target;
    request.names = EntriesOf(source);
    return request;
}

class TreeCopy : public ::testing::Test {
protected:
    ScratchFolder sourceParent_{kNtfsDrive};
    ScratchFolder targetParent_{kPlainDrive};
    std::wstring source_ = sourceParent_ / L"Games";
    std::wstring target_ = targetParent_ / L"Games";
};

// To another file system and to another NTFS drive: every file, its attributes
// and its last-write time; only the entries asked for; a path far beyond 260
// characters copied, not refused.
TEST_F(TreeCopy, CopiesEveryFileWithItsAttributesAndTimeAcrossFileSystems) {
    MakeTree(source_, kTree);
    SetWriteTime(source_ + L"\\readme.txt", 130000000000000000ull);
    std::wstring deep = ExtendedLengthPath(source_ + L"\\long");
    ASSERT_TRUE(::CreateDirectoryW(deep.c_str(), nullptr));
    for (int level = 0; level < 8; ++level) {
        deep += L"\\" + std::wstring(40, static_cast<wchar_t>(L'a' + level));
        ASSERT_TRUE(::CreateDirectoryW(deep.c_str(), nullptr));
    }
    const std::wstring deepFile = deep + L"\\far.txt";
    HANDLE file = ::CreateFileW(deepFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(file, "far", 3, &written, nullptr);
    ::CloseHandle(file);
    ASSERT_GT(deepFile.size(), 330u);
    WriteTextFile(source_ + L"\\left behind.txt", "not asked for");

    for (const wchar_t* drive : {kPlainDrive, kSmallNtfsDrive}) {
        SCOPED_TRACE(drive);
        ScratchFolder parent(drive);
        const std::wstring target = parent / L"Games";
        ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
        TreeCopyRequest request = RequestFor(source_, target);
        request.names.erase(std::find(request.names.begin(), request.names.end(), L"left behind.txt"));
        request.compareContents = true;
        const TreeCopyOutcome outcome = CopyTree(request);
        ASSERT_EQ(outcome.result, TreeCopyResult::Copied) << outcome.path << " error " << outcome.error;
        EXPECT_EQ(outcome.totals.filesTotal, kTree.size() + 1);
        EXPECT_EQ(outcome.totals.filesDone, outcome.totals.filesTotal) << "every file verified";

        TreeSnapshot expected = SnapshotTree(source_);
        expected.erase(L"LEFT BEHIND.TXT");
        for (auto it = expected.begin(); it != expected.end();) {
            it = it->first.compare(0, 5, L"LONG\\") == 0 ? expected.erase(it) : std::next(it);
        }
        TreeSnapshot copied = SnapshotTree(target);
        for (auto it = copied.begin(); it != copied.end();) {
            it = it->first.compare(0, 5, L"LONG\\") == 0 ? copied.erase(it) : std::next(it);
        }
        EXPECT_EQ(copied, expected);
        EXPECT_FALSE(PathExists(target + L"\\left behind.txt"));
        for (const TreeFile& f : kTree) {
            const auto original = InfoOf(source_ + L"\\" + f.relativePath);
            const auto copy = InfoOf(target + L"\\" + f.relativePath);
            ASSERT_TRUE(original && copy) << f.relativePath;
            EXPECT_EQ(WriteTime(*copy), WriteTime(*original)) << f.relativePath;
            const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;
            EXPECT_EQ(copy->dwFileAttributes & kept, original->dwFileAttributes & kept) << f.relativePath;
        }
        const std::wstring farCopy = ExtendedLengthPath(target) + deepFile.substr(ExtendedLengthPath(source_).size());
        const auto farInfo = InfoOf(farCopy);
        ASSERT_TRUE(farInfo.has_value()) << "the long path was copied";
        EXPECT_EQ(farInfo->nFileSizeLow, 3u);

        std::wstring left;
        EXPECT_TRUE(RemoveCopiedEntries(target, request.names, left)) << left;
        EXPECT_TRUE(EntriesOf(target).empty()) << "the read-only file and the long path go too";
    }
    EXPECT_TRUE(PathExists(deepFile)) << "the originals stay";
}

// Each way a copy can go wrong ends as Failed, names the entry, never overwrites
// what the target held and leaves every original as it was.
TEST_F(TreeCopy, EachFaultIsReportedAndTheOriginalsStay) {
    struct Case {
        const char* name;
        std::function<void(TreeCopyRequest&)> arrange;
        TreeCopyFault fault;
        std::wstring faultPathEnd;
    };
    ScratchFolder outside(kNtfsDrive, L"outside");
    const std::vector<Case> cases = {
        {"a link inside",
         [&](TreeCopyRequest& r) { ASSERT_TRUE(CreateJunction((r.source + L"\\docs\\link").c_str(), outside.path().c_str())); },
         TreeCopyFault::LinkInside, L"\\docs\\link"},
        {"an entry that vanished", [](TreeCopyRequest& r) { r.names.push_back(L"gone.txt"); },
         TreeCopyFault::SourceUnreadable, L""},
        {"a name already in the target",
         [](TreeCopyRequest& r) { WriteTextFile(r.target + L"\\readme.txt", "the target's own"); },
         TreeCopyFault::TargetWrite, L"\\readme.txt"},
        {"an original changed while it was copied",
         [](TreeCopyRequest& r) {
             const std::wstring changed = r.source + L"\\docs\\deep\\report.xls";
             r.progress = [changed, done = false](const TreeCopyProgress& p) mutable {
                 if (p.verifying && !done) {
                     done = true;
                     WriteTextFile(changed, "changed meanwhile");
                 }
             };
         },
         TreeCopyFault::SourceChanged, L"\\docs\\deep\\report.xls"},
        {"a copy that differs byte for byte (same size and time)",
         [](TreeCopyRequest& r) {
             r.compareContents = true;
             const std::wstring copy = r.target + L"\\docs\\deep\\report.xls";
             r.progress = [copy, done = false](const TreeCopyProgress& p) mutable {
                 if (!p.verifying || done) return;
                 done = true;
                 const auto before = InfoOf(copy);
                 WriteTextFile(copy, std::string(299999, 'r') + "X");
                 SetWriteTime(copy, WriteTime(*before));
             };
         },
         TreeCopyFault::CopyDiffers, L"\\docs\\deep\\report.xls"},
        {"a copy that lost its hidden attribute",
         [](TreeCopyRequest& r) {
             const std::wstring copy = r.target + L"\\hidden.dat";
             r.progress = [copy](const TreeCopyProgress& p) {
                 if (p.verifying) ::SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
             };
         },
         TreeCopyFault::CopyDiffers, L"\\hidden.dat"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder sourceParent(kNtfsDrive);
        ScratchFolder targetParent(kPlainDrive);
        const std::wstring source = sourceParent / L"Games";
        const std::wstring target = targetParent / L"Games";
        MakeTree(source, kTree);
        ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
        TreeCopyRequest request = RequestFor(source, target);
        c.arrange(request);
        const TreeSnapshot before = SnapshotTree(source);
        const TreeCopyOutcome outcome = CopyTree(request);
        EXPECT_EQ(outcome.result, TreeCopyResult::Failed);
        EXPECT_EQ(outcome.fault, c.fault);
        if (!c.faultPathEnd.empty()) {
            ASSERT_GE(outcome.path.size(), c.faultPathEnd.size());
            EXPECT_EQ(outcome.path.substr(outcome.path.size() - c.faultPathEnd.size()), c.faultPathEnd);
        }
        if (c.fault != TreeCopyFault::SourceChanged) {
            EXPECT_EQ(SnapshotTree(source), before);
        }
        if (c.fault == TreeCopyFault::TargetWrite) {
            EXPECT_EQ(ReadAll(target + L"\\readme.txt"), "the target's own") << "never overwritten";
        }
    }
}

// A destination drive that fills up part-way (the small NTFS drive): the copy
// fails on the disk being full, and what it made can be removed whole.
TEST_F(TreeCopy, AFullDestinationFailsAndItsPartialCopyIsRemoved) {
    std::vector<TreeFile> big;
    for (int i = 0; i < 8; ++i) big.push_back({L"part" + std::to_wstring(i) + L".bin", std::string(1 << 20, 'b')});
    MakeTree(source_, big);
    ScratchFolder parent(kSmallNtfsDrive);
    const std::wstring target = parent / L"Games";
    ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
    const TreeSnapshot before = SnapshotTree(source_);
    const TreeCopyRequest request = RequestFor(source_, target);
    const TreeCopyOutcome outcome = CopyTree(request);
    EXPECT_EQ(outcome.result, TreeCopyResult::Failed);
    EXPECT_EQ(outcome.fault, TreeCopyFault::TargetWrite);
    EXPECT_EQ(outcome.error, static_cast<DWORD>(ERROR_DISK_FULL));
    std::wstring left;
    EXPECT_TRUE(RemoveCopiedEntries(target, request.names, left)) << left;
    EXPECT_TRUE(EntriesOf(target).empty());
    EXPECT_EQ(SnapshotTree(source_), before);
}

// Cancelled at random moments of the copy and of its check: Cancelled, never
// Copied or Failed; the originals as they were; the partial copy removable whole.
TEST_F(TreeCopy, CancelAtRandomMomentsLeavesTheOriginalsAndARemovableCopy) {
    std::vector<TreeFile> tree = kTree;
    for (int i = 0; i < 40; ++i) tree.push_back({L"many\\f" + std::to_wstring(i) + L".txt", std::string(20000, 'm')});
    MakeTree(source_, tree);
    const TreeSnapshot before = SnapshotTree(source_);
    std::mt19937 random(20261211);
    int cancelled = 0;
    for (int attempt = 0; attempt < 20; ++attempt) {
        SCOPED_TRACE(attempt);
        ASSERT_TRUE(::CreateDirectoryW(target_.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
        std::atomic<bool> cancel{false};
        std::atomic<int> inside{0};
        bool overlapped = false;
        const std::uint64_t at = std::uniform_int_distribution<std::uint64_t>(0, 2 * 1200000)(random);
        TreeCopyRequest request = RequestFor(source_, target_);
        request.cancel = &cancel;
        request.progress = [&](const TreeCopyProgress& p) {
            if (++inside != 1) overlapped = true;
            const std::uint64_t reached = p.bytesDone + (p.verifying ? p.bytesTotal : 0);
            if (reached >= at) cancel = true;
            --inside;
        };
        request.compareContents = (attempt % 2) == 1;
        const TreeCopyOutcome outcome = CopyTree(request);
        EXPECT_FALSE(overlapped) << "progress reported from two threads at once";
        if (cancel.load()) {
            ++cancelled;
            EXPECT_EQ(outcome.result, TreeCopyResult::Cancelled) << outcome.path;
        } else {
            EXPECT_EQ(outcome.result, TreeCopyResult::Copied) << outcome.path;
        }
        std::wstring left;
        EXPECT_TRUE(RemoveCopiedEntries(target_, request.names, left)) << left;
        EXPECT_TRUE(EntriesOf(target_).empty());
        EXPECT_EQ(SnapshotTree(source_), before);
    }
    EXPECT_GE(cancelled, 10) << "most moments fall inside the copy or its check";
}

// Removing a copy never reaches through a link that someone put into it.
TEST_F(TreeCopy, RemovingACopyRemovesALinkInItButNotWhatItPointsAt) {
    ScratchFolder outside(kNtfsDrive, L"outside");
    WriteTextFile(outside / L"precious.txt", "keep me");
    ScratchFolder copyParent(kNtfsDrive);
    const std::wstring copy = copyParent / L"copy";
    MakeTree(copy, kTree);
    ASSERT_TRUE(CreateJunction((copy + L"\\docs\\planted").c_str(), outside.path().c_str()));
    WriteTextFile(copyParent / L"neighbour.txt", "not part of the copy");
    std::wstring left;
    EXPECT_TRUE(RemoveCopiedEntries(copyParent.path(), {L"copy"}, left)) << left;
    EXPECT_FALSE(PathExists(copy));
    EXPECT_TRUE(PathExists(copyParent / L"neighbour.txt"));
    EXPECT_EQ(SnapshotTree(outside.path()).size(), 1u);
}

}  // namespace

namespace {

// FILE_STREAM_INFO records as the system lays them out: each one 8-byte aligned,
// NextEntryOffset 0 on the last.
std::vector<BYTE> StreamRecords(const std::vector<std::wstring>& names) {
    std::vector<BYTE> bytes;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::size_t start = bytes.size();
        const std::size_t nameBytes = names[i].size() * sizeof(wchar_t);
        const std::size_t length = (offsetof(FILE_STREAM_INFO, StreamName) + nameBytes + 7) & ~std::size_t{7};
        bytes.resize(start + length);
        FILE_STREAM_INFO header = {};
        header.NextEntryOffset = i + 1 < names.size() ? static_cast<DWORD>(length) : 0;
        header.StreamNameLength = static_cast<DWORD>(nameBytes);
        std::memcpy(&bytes[start], &header, offsetof(FILE_STREAM_INFO, StreamName));
        std::memcpy(&bytes[start + offsetof(FILE_STREAM_INFO, StreamName)], names[i].data(), nameBytes);
    }
    return bytes;
}

}  // namespace

// A file is copied by the quick way only when it holds nothing but its data: a
// named stream (a download's zone mark, say) needs the system's copy, and a record
// that does not add up is never read past.
TEST(TreeCopyStreams, OnlyAFileWithJustItsDataStreamIsCopiedTheQuickWay) {
    struct Case {
        const char* name;
        std::vector<BYTE> records;
        bool onlyData;
    };
    std::vector<BYTE> overlong = StreamRecords({L"::$DATA"});
    reinterpret_cast<FILE_STREAM_INFO*>(overlong.data())->StreamNameLength = 4096;
    std::vector<BYTE> pointsPast = StreamRecords({L"::$DATA", L":Zone.Identifier:$DATA"});
    reinterpret_cast<FILE_STREAM_INFO*>(pointsPast.data())->NextEntryOffset = 10000;
    std::vector<BYTE> oddLength = StreamRecords({L"::$DATA"});
    reinterpret_cast<FILE_STREAM_INFO*>(oddLength.data())->StreamNameLength = 13;
    std::vector<BYTE> cutShort = StreamRecords({L"::$DATA"});
    cutShort.resize(12);
    const std::vector<Case> cases = {
        {"the data stream alone", StreamRecords({L"::$DATA"}), true},
        {"a zone mark beside it", StreamRecords({L"::$DATA", L":Zone.Identifier:$DATA"}), false},
        {"a named stream first", StreamRecords({L":notes:$DATA", L"::$DATA"}), false},
        {"no stream at all (a folder)", {}, false},
        {"a name longer than the records", overlong, false},
        {"a next record past the end", pointsPast, false},
        {"a name of half a character", oddLength, false},
        {"a header cut short", cutShort, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HoldsOnlyUnnamedStream(c.records.data(), c.records.size()), c.onlyData) << c.name;
    }
}
