// Moving back exactly what was moved, and telling a really empty folder.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/folder_move.h"
#include "tests/relocate/file_tree.h"

namespace {

using namespace relocation_testing;

TEST(FolderMove, EmptyMeansListedAndHoldingNothing) {
    ScratchFolder scratch(TempRoot());
    MakeTree(scratch / L"empty", {});
    MakeTree(scratch / L"hidden", {{L".h", "h", FILE_ATTRIBUTE_HIDDEN}});
    MakeTree(scratch / L"folder only", {});
    MakeTree(scratch / L"folder only\\sub", {});
    WriteTextFile(scratch / L"file", "f");
    const struct {
        const wchar_t* name;
        bool empty;
    } cases[] = {
        {L"empty", true}, {L"hidden", false}, {L"folder only", false}, {L"missing", false}, {L"file", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        EXPECT_EQ(FolderIsEmpty(scratch / c.name), c.empty);
    }
    std::vector<std::wstring> names;
    ASSERT_TRUE(ListFolderEntries(scratch.path(), names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"empty", L"file", L"folder only", L"hidden"}));
}

TEST(FolderMove, MovesBackOnlyTheNamedEntriesAndMergesLeftovers) {
    ScratchFolder scratch(TempRoot());
    const std::wstring source = scratch / L"source";
    const std::wstring target = scratch / L"target";
    // The move took a.txt and part of sub; sub\left.txt stayed behind. own.txt and
    // own\ were in the destination before and must stay there.
    MakeTree(source, {{L"sub\\left.txt", "left"}});
    MakeTree(target, {{L"a.txt", "a"},
                      {L"sub\\moved.txt", "moved"},
                      {L"sub\\deeper\\d.txt", "d"},
                      {L"own.txt", "own"},
                      {L"own\\o.txt", "o"}});
    const TreeSnapshot before = Union(SnapshotTree(source), SnapshotTree(target));

    EXPECT_TRUE(MoveEntriesBack(target, source, {L"a.txt", L"sub", L"gone.txt"}));

    EXPECT_EQ(SnapshotTree(source), (TreeSnapshot{{L"A.TXT", before.at(L"A.TXT")},
                                                  {L"SUB\\LEFT.TXT", before.at(L"SUB\\LEFT.TXT")},
                                                  {L"SUB\\MOVED.TXT", before.at(L"SUB\\MOVED.TXT")},
                                                  {L"SUB\\DEEPER\\D.TXT", before.at(L"SUB\\DEEPER\\D.TXT")}}));
    EXPECT_EQ(SnapshotTree(target),
              (TreeSnapshot{{L"OWN.TXT", before.at(L"OWN.TXT")}, {L"OWN\\O.TXT", before.at(L"OWN\\O.TXT")}}));
    EXPECT_FALSE(PathExists(target + L"\\sub"));
}

TEST(FolderMove, NeverReplacesAFileOfTheSameName) {
    ScratchFolder scratch(TempRoot());
    const std::wstring source = scratch / L"source";
    const std::wstring target = scratch / L"target";
    MakeTree(source, {{L"x.txt", "new in source"}, {L"sub\\y.txt", "source y"}});
    MakeTree(target, {{L"x.txt", "moved x"}, {L"sub\\y.txt", "moved y"}, {L"sub\\z.txt", "z"}});
    const TreeSnapshot sourceBefore = SnapshotTree(source);
    const TreeSnapshot targetBefore = SnapshotTree(target);

    EXPECT_FALSE(MoveEntriesBack(target, source, {L"x.txt", L"sub"}));

    std::vector<std::wstring> twice;
    const TreeSnapshot after = Union(SnapshotTree(source), SnapshotTree(target), &twice);
    // Every file is still there, each in one place; the clashing ones did not move.
    EXPECT_EQ(SnapshotTree(source).at(L"X.TXT"), sourceBefore.at(L"X.TXT"));
    EXPECT_EQ(SnapshotTree(target).at(L"X.TXT"), targetBefore.at(L"X.TXT"));
    EXPECT_EQ(SnapshotTree(source).at(L"SUB\\Z.TXT"), targetBefore.at(L"SUB\\Z.TXT"));
    EXPECT_EQ(SnapshotTree(target).at(L"SUB\\Y.TXT"), targetBefore.at(L"SUB\\Y.TXT"));
    EXPECT_EQ(twice.size(), 2u) << "x.txt and sub\\y.txt exist on both sides, as before";
}

TEST(FolderMove, SharedNamesAreFilesNotDevicesAndOnlyNotFoundIsAbsent) {
    ScratchFolder scratch(TempRoot());
    MakeTree(scratch / L"target", {{L"b.txt", "b"}});
    std::wstring name;
    DWORD error = 0;
    // Names of devices are plain names inside a folder: "CON" in the source does
    // not clash with the console.
    EXPECT_EQ(FirstNameAlsoIn({L"CON", L"NUL", L"aux.txt", L"COM1", L"a.txt"}, scratch / L"target", name, error),
              NameCheck::NoneShared);
    EXPECT_EQ(FirstNameAlsoIn({L"a.txt", L"B.TXT"}, scratch / L"target", name, error), NameCheck::Shared);
    EXPECT_EQ(name, L"B.TXT");
    EXPECT_EQ(FirstNameAlsoIn({L"a.txt"}, scratch / L"missing", name, error), NameCheck::NoneShared);
    EXPECT_TRUE(AllNamesIn({L"b.txt"}, scratch / L"target"));
    EXPECT_FALSE(AllNamesIn({L"b.txt", L"NUL"}, scratch / L"target"));
}

TEST(FolderMove, NeverMergesAFolderIntoItself) {
    ScratchFolder scratch(TempRoot());
    MakeTree(scratch / L"one", {{L"sub\\a.txt", "a"}});
    const TreeSnapshot before = SnapshotTree(scratch.path());
    // The same folder under two spellings: nothing may move onto itself.
    EXPECT_FALSE(MoveEntriesBack(scratch / L"one", scratch / L"ONE\\.", {L"sub"}));
    EXPECT_EQ(SnapshotTree(scratch.path()), before);
}

}  // namespace
