// Junctions on the test drives: created, read back, checked from Linux through
// ntfs-3g's view of the disk, and removed; plus the failures callers rely on.
#include "junction/junction.h"
#include "junction/link_data.h"

#include "tests/driver/debug_capture.h"
#include "tests/driver/host_view.h"
#include "tests/driver/test_volumes.h"
#include "tests/junction/junction_test_support.h"

#include <gtest/gtest.h>

namespace {

using namespace junction_test;
using testing_driver::Bytes;
using testing_driver::DebugLineCapture;
using testing_driver::HostType;
using testing_driver::kNtfsDrive;
using testing_driver::kPlainDrive;
using testing_driver::kSecondDrive;

constexpr DWORD kMountPointTag = 0xA0000003;

// The documented mount-point data for `substituteName`, written out by hand:
// tag, ReparseDataLength = S + 12, Reserved, offset 0, length S, print name at
// S + 2 with length 0, the name, its terminator and the empty print name.
Bytes ExpectedMountPoint(const std::wstring& substituteName) {
    const auto s = static_cast<std::uint16_t>(substituteName.size() * 2);
    Bytes bytes = {0x03, 0x00, 0x00, 0xA0};
    for (std::uint16_t v : {static_cast<std::uint16_t>(s + 12), std::uint16_t{0}, std::uint16_t{0}, s,
                            static_cast<std::uint16_t>(s + 2), std::uint16_t{0}}) {
        bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    for (wchar_t c : substituteName) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    bytes.insert(bytes.end(), 4, 0);
    return bytes;
}

std::vector<std::wstring> LibraryLines(const DebugLineCapture& capture) { return capture.LinesStartingWith(L"TRESSEL."); }

TEST(CreateJunction, MakesARealJunctionThatReadsBackAndRemovesWithoutTouchingTheTarget) {
    const std::wstring target = UniquePath(kNtfsDrive, L"target");
    const std::wstring link = UniquePath(kNtfsDrive, L"link");
    MakeFolders(target);
    WriteTextFile(target + L"\\kept.txt", "payload");

    DebugLineCapture capture;
    ASSERT_TRUE(CreateJunction(link.c_str(), target.c_str())) << ::testing::PrintToString(LibraryLines(capture));
    EXPECT_TRUE(LibraryLines(capture).empty());

    // On disk: exactly the documented buffer, and a link Linux follows to the target.
    EXPECT_EQ(testing_driver::ReadNtfsReparseData(link), ExpectedMountPoint(NtName(target)));
    EXPECT_EQ(testing_driver::HostTypeOf(link), HostType::Symlink);
    EXPECT_TRUE(testing_driver::HostLinkTarget(link).has_value());
    ASSERT_TRUE(testing_driver::HostResolvedPath(target).has_value());
    EXPECT_EQ(testing_driver::HostResolvedPath(link), testing_driver::HostResolvedPath(target));
    EXPECT_EQ(ReadTextFile(link + L"\\kept.txt"), "payload");

    wchar_t stored[kJunctionPathCapacity] = L"stale";
    DWORD tag = 0;
    ASSERT_TRUE(ReadReparsePoint(link.c_str(), stored, tag));
    EXPECT_EQ(std::wstring(stored), NtName(target));
    EXPECT_EQ(tag, kMountPointTag);

    ASSERT_TRUE(RemoveJunction(link.c_str()));
    EXPECT_FALSE(Exists(link));
    EXPECT_EQ(testing_driver::HostTypeOf(link), HostType::Missing);
    EXPECT_EQ(ReadTextFile(target + L"\\kept.txt"), "payload");
    EXPECT_EQ(testing_driver::HostTypeOf(target), HostType::Directory);
    EXPECT_TRUE(LibraryLines(capture).empty());
}

TEST(CreateJunction, CreatesMissingFoldersAndReachesATargetOnAnotherDriveLetter) {
    // M: is a folder of the same NTFS volume under its own letter; ntfs-3g finds
    // such a target through the volume's ".NTFS-3G\M:" mapping.
    // A folder of the same name at the volume's root must not be taken for it.
    const std::wstring target = UniquePath(kSecondDrive, L"moved");
    const std::wstring link = UniquePath(kNtfsDrive, L"virtual");
    const std::wstring decoy = std::wstring(kNtfsDrive) + target.substr(2);
    MakeFolders(decoy);
    WriteTextFile(decoy + L"\\file.txt", "decoy");
    ASSERT_FALSE(Exists(target));
    ASSERT_FALSE(Exists(link));

    ASSERT_TRUE(CreateJunction(link.c_str(), target.c_str()));
    EXPECT_EQ(testing_driver::ReadNtfsReparseData(link), ExpectedMountPoint(NtName(target)));
    EXPECT_EQ(testing_driver::HostResolvedPath(link), testing_driver::HostResolvedPath(target));
    WriteTextFile(target + L"\\file.txt", "through the link");
    EXPECT_EQ(ReadTextFile(link + L"\\file.txt"), "through the link");

    ASSERT_TRUE(RemoveJunction(link.c_str()));
    EXPECT_EQ(ReadTextFile(target + L"\\file.txt"), "through the link");
}

TEST(CreateJunction, StoresTheFullTargetPathWithoutItsTrailingBackslash) {
    const std::wstring base = UniquePath(kNtfsDrive, L"relative");
    MakeFolders(base);
    wchar_t previous[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(base.c_str()));
    const bool created = CreateJunction(L"link", L"target\\");
    ::SetCurrentDirectoryW(previous);

    ASSERT_TRUE(created);
    EXPECT_EQ(testing_driver::ReadNtfsReparseData(base + L"\\link"), ExpectedMountPoint(NtName(base + L"\\target")));
    EXPECT_TRUE(RemoveJunction((base + L"\\link").c_str()));
}

TEST(CreateJunction, RefusesALinkFolderThatHoldsAFileAndKeepsTheFile) {
    const std::wstring link = UniquePath(kNtfsDrive, L"occupied");
    const std::wstring target = UniquePath(kNtfsDrive, L"elsewhere");
    MakeFolders(link);
    WriteTextFile(link + L"\\mine.txt", "do not hide me");

    DebugLineCapture capture;
    EXPECT_FALSE(CreateJunction(link.c_str(), target.c_str()));
    EXPECT_EQ(LibraryLines(capture), std::vector<std::wstring>{L"TRESSEL.Error: Error creating reparse point."});
    EXPECT_EQ(ReadTextFile(link + L"\\mine.txt"), "do not hide me");
    EXPECT_FALSE(testing_driver::ReadNtfsReparseData(link).has_value());
    EXPECT_EQ(testing_driver::HostTypeOf(link), HostType::Directory);
}

TEST(CreateJunction, FailsBeforeCreatingAnythingWhenTheLinkVolumeCannotHoldIt) {
    struct Case {
        std::wstring link;
        std::wstring target;
        const wchar_t* line;
    };
    const std::wstring ntfsTarget = UniquePath(kNtfsDrive, L"unused-target");
    const Case cases[] = {
        {UniquePath(kPlainDrive, L"plain-link"), ntfsTarget,
         L"TRESSEL.Error: File system doesn't support reparse points."},
        {L"\\\\server\\share\\link", ntfsTarget, L"TRESSEL.Error: GetVolumeInformation."},
        {UniquePath(kNtfsDrive, L"long-") + std::wstring(260, L'x'), ntfsTarget, L"TRESSEL.Error: Path expansion."},
        {UniquePath(kNtfsDrive, L"short-link"), ntfsTarget + std::wstring(260, L'y'),
         L"TRESSEL.Error: Path expansion (2)."},
    };
    for (const Case& c : cases) {
        DebugLineCapture capture;
        EXPECT_FALSE(CreateJunction(c.link.c_str(), c.target.c_str())) << c.line;
        EXPECT_EQ(LibraryLines(capture), std::vector<std::wstring>{c.line});
        EXPECT_FALSE(Exists(c.link)) << c.line;
        EXPECT_FALSE(Exists(ntfsTarget)) << c.line;
    }
}

TEST(VolumeSupportsReparsePoints, AnswersByTheVolumeOfTheFirstCharacter) {
    struct Case {
        std::wstring path;
        bool supported;
        const wchar_t* line;  // null: no line
    };
    const Case cases[] = {
        {std::wstring(kNtfsDrive) + L"\\", true, nullptr},
        {std::wstring(kNtfsDrive) + L"\\no\\such\\folder", true, nullptr},
        {std::wstring(kSecondDrive) + L"\\", true, nullptr},
        {std::wstring(kPlainDrive) + L"\\", false, L"TRESSEL.Error: File system doesn't support reparse points."},
        {L"\\\\server\\share", false, L"TRESSEL.Error: GetVolumeInformation."},
        {L"", false, L"TRESSEL.Error: GetVolumeInformation."},
    };
    for (const Case& c : cases) {
        DebugLineCapture capture;
        EXPECT_EQ(VolumeSupportsReparsePoints(c.path.c_str()), c.supported) << c.path;
        const std::vector<std::wstring> expected = c.line ? std::vector<std::wstring>{c.line} : std::vector<std::wstring>{};
        EXPECT_EQ(LibraryLines(capture), expected) << c.path;
    }
}

TEST(RemoveJunction, NeverRemovesAFolderThatIsNoLongerAJunction) {
    // The manager's list may be stale: the junction it showed was replaced by a
    // plain folder that now holds the user's files, or by nothing.
    const std::wstring plain = UniquePath(kNtfsDrive, L"replaced");
    MakeFolders(plain);
    WriteTextFile(plain + L"\\precious.txt", "keep");
    const std::wstring empty = UniquePath(kNtfsDrive, L"empty-plain");
    MakeFolders(empty);

    for (const std::wstring& path : {plain, empty, UniquePath(kNtfsDrive, L"gone")}) {
        DebugLineCapture capture;
        EXPECT_FALSE(RemoveJunction(path.c_str())) << path;
        EXPECT_EQ(LibraryLines(capture).size(), 1u) << path;
    }
    EXPECT_EQ(ReadTextFile(plain + L"\\precious.txt"), "keep");
    EXPECT_TRUE(Exists(empty));
}

TEST(RemoveJunction, LeavesDriveRootsAlone) {
    // Wine shows a drive that is a Linux mount point as a reparse folder.
    for (const std::wstring& root : {std::wstring(kNtfsDrive) + L"\\", std::wstring(kPlainDrive)}) {
        EXPECT_FALSE(RemoveJunction(root.c_str())) << root;
        EXPECT_TRUE(Exists(root + L"\\")) << root;
    }
    const std::wstring folder = UniquePath(kNtfsDrive, L"still-there");
    MakeFolders(folder);
    EXPECT_TRUE(Exists(folder));
}

// Reparse data written from Linux, as other tools leave it on a volume.
class ForeignReparseData : public ::testing::Test {
protected:
    // An empty folder carrying `data`, plus a target folder for links to resolve.
    std::wstring Fixture(const Bytes& data) {
        const std::wstring folder = UniquePath(kNtfsDrive, L"foreign");
        MakeFolders(folder);
        EXPECT_EQ(testing_driver::WriteNtfsReparseData(folder, data), 0);
        return folder;
    }
    void SetUp() override { MakeFolders(target_); }

    const std::wstring target_ = UniquePath(kNtfsDrive, L"foreign-target");
};

TEST_F(ForeignReparseData, JunctionWithItsPrintNameFirstYieldsItsSubstituteName) {
    const std::wstring folder = Fixture(testing_driver::MountPointData(NtName(target_), L"Shown Name", true));
    wchar_t stored[kJunctionPathCapacity] = L"";
    DWORD tag = 0;
    ASSERT_TRUE(ReadReparsePoint(folder.c_str(), stored, tag));
    EXPECT_EQ(std::wstring(stored), NtName(target_));
    EXPECT_EQ(tag, kMountPointTag);
}

TEST_F(ForeignReparseData, SymbolicLinkIsReportedWithoutTargetAndWithItsTag) {
    const std::wstring folder = Fixture(testing_driver::SymbolicLinkData(NtName(target_), target_, false));
    DebugLineCapture capture;
    wchar_t stored[kJunctionPathCapacity] = L"";
    DWORD tag = 0;
    ASSERT_TRUE(ReadReparsePoint(folder.c_str(), stored, tag));
    EXPECT_STREQ(stored, L"");
    EXPECT_EQ(tag, 0u);
    EXPECT_EQ(LibraryLines(capture),
              std::vector<std::wstring>{L"TRESSEL.Warning: Unhandled reparse point tag. A000000C"});
    // And the removal takes the link, not the folder it leads to.
    WriteTextFile(target_ + L"\\stay.txt", "stay");
    EXPECT_TRUE(RemoveJunction(folder.c_str()));
    EXPECT_EQ(ReadTextFile(target_ + L"\\stay.txt"), "stay");
}

TEST_F(ForeignReparseData, JunctionWhoseNameDoesNotFitIsReportedWithoutACutTarget) {
    // 1100 characters: valid for NTFS, longer than any target buffer of the walk.
    const std::wstring name = NtName(target_) + L"\\" + std::wstring(1100, L'z');
    const std::wstring folder = Fixture(testing_driver::MountPointData(name, L"", false));
    DebugLineCapture capture;
    wchar_t stored[kJunctionPathCapacity] = L"";
    DWORD tag = 0;
    const bool read = ReadReparsePoint(folder.c_str(), stored, tag);
    // The target does not exist, so Linux shows a dangling link, which Wine 8
    // does not show at all; where it is shown, it must come out whole or not at all.
    if (read) {
        EXPECT_STREQ(stored, L"");
        EXPECT_EQ(tag, 0u);
        EXPECT_EQ(LibraryLines(capture), std::vector<std::wstring>{L"TRESSEL.Warning: Malformed junction data."});
    }
}

TEST_F(ForeignReparseData, VolumeRefusesDataWhoseNameRunsPastItsEnd) {
    // ntfs-3g checks lengths as NTFS does: such data never reaches the disk, so a
    // lying buffer can only come from the file system itself (see the parser's tests).
    const std::wstring folder = UniquePath(kNtfsDrive, L"lying");
    MakeFolders(folder);
    Bytes data = testing_driver::MountPointData(NtName(target_), L"", false);
    testing_driver::Poke16(data, 10, 2000);  // SubstituteNameLength
    EXPECT_EQ(testing_driver::WriteNtfsReparseData(folder, data), -22);
    wchar_t stored[kJunctionPathCapacity] = L"";
    DWORD tag = 0;
    EXPECT_FALSE(ReadReparsePoint(folder.c_str(), stored, tag));
}

TEST_F(ForeignReparseData, ThirdPartyTagIsReportedWithItsWarning) {
    const std::wstring folder = Fixture(testing_driver::ThirdPartyData(0x00001234, Bytes{1, 2, 3, 4}));
    DebugLineCapture capture;
    wchar_t stored[kJunctionPathCapacity] = L"";
    DWORD tag = 0;
    if (::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        // ntfs-3g shows a tag it does not know as a link to nowhere, which Wine 8
        // neither finds nor lists (Windows does both): nothing to report, and
        // nothing may go wrong around it.
        EXPECT_FALSE(ReadReparsePoint(folder.c_str(), stored, tag));
        const std::wstring parent = folder.substr(0, folder.rfind(L'\\'));
        VisitLog log;
        FindJunctions(parent.c_str(), RecordVisit, log.context(), false);
        for (const Visit& visit : log.visits) EXPECT_NE(visit.path, folder);
        return;
    }
    ASSERT_TRUE(ReadReparsePoint(folder.c_str(), stored, tag));
    EXPECT_STREQ(stored, L"");
    EXPECT_EQ(tag, 0u);
    EXPECT_EQ(LibraryLines(capture), std::vector<std::wstring>{L"TRESSEL.Warning: Third-party reparse point not handled."});
}

TEST(ReadReparsePoint, IsFalseForAnythingButAReparseFolder) {
    const std::wstring folder = UniquePath(kNtfsDrive, L"ordinary");
    MakeFolders(folder);
    WriteTextFile(folder + L"\\file.txt", "x");
    for (const std::wstring& path : {folder, folder + L"\\file.txt", folder + L"\\missing"}) {
        wchar_t stored[kJunctionPathCapacity] = L"unchanged";
        DWORD tag = 7;
        EXPECT_FALSE(ReadReparsePoint(path.c_str(), stored, tag)) << path;
        EXPECT_STREQ(stored, L"unchanged");
        EXPECT_EQ(tag, 7u);
    }
}

}  // namespace

// A link made again from its recorded bytes, or removed by its record, never takes
// a file that is not a link with it: a real file written at the path meanwhile, or
// a reparse point of another kind (a deduplicated file keeps its data behind one).
TEST_F(ForeignReparseData, LinksAreMadeAndRemovedWithoutTouchingAnythingElse) {
    const std::wstring folder = UniquePath(kNtfsDrive, L"links-only");
    MakeFolders(folder);
    const std::wstring realFile = folder + L"\\settings.ini";
    {
        HANDLE file = ::CreateFileW(realFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(file, "mine", 4, &written, nullptr));
        ::CloseHandle(file);
    }
    const Bytes linkBytes =
        testing_driver::SymbolicLinkData(L"\\??\\" + target_ + L"\\a.txt", target_ + L"\\a.txt", false);
    const ReparseBytes link(linkBytes.begin(), linkBytes.end());
    EXPECT_FALSE(CreateLinkFromData(realFile.c_str(), false, link));
    EXPECT_TRUE(Exists(realFile)) << "the file that stood there is kept";
    char content[8] = {};
    DWORD read = 0;
    HANDLE file = ::CreateFileW(realFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(::ReadFile(file, content, sizeof(content), &read, nullptr));
    ::CloseHandle(file);
    EXPECT_EQ(std::string(content, read), "mine");

    // A folder carrying a tag of another vendor is no link to remove.
    const Bytes foreignTag = {0x13, 0x00, 0x00, 0x80, 0x04, 0x00, 0x00, 0x00, 0xDE, 0xDD, 0xDE, 0xDD};
    const std::wstring held = Fixture(foreignTag);
    EXPECT_FALSE(RemoveLinkEntry(held.c_str(), true));
    EXPECT_EQ(testing_driver::ReadNtfsReparseData(held), std::optional<Bytes>(foreignTag));

    // A link goes only when it is the one recorded: one put in its place, pointing
    // elsewhere, stays.
    const Bytes recorded = testing_driver::MountPointData(NtName(target_), L"", false);
    const std::wstring junction = Fixture(recorded);
    const std::wstring elsewhere = UniquePath(kNtfsDrive, L"elsewhere");
    MakeFolders(elsewhere);
    const Bytes other = testing_driver::MountPointData(NtName(elsewhere), L"", false);
    EXPECT_FALSE(RemoveLinkEntry(junction.c_str(), true, {ReparseBytes(other.begin(), other.end())}));
    EXPECT_EQ(testing_driver::ReadNtfsReparseData(junction), std::optional<Bytes>(recorded));
    EXPECT_TRUE(RemoveLinkEntry(junction.c_str(), true,
                                {ReparseBytes(other.begin(), other.end()), ReparseBytes(recorded.begin(), recorded.end())}));
    EXPECT_FALSE(Exists(junction));
    EXPECT_TRUE(Exists(target_)) << "its target stays";
}
