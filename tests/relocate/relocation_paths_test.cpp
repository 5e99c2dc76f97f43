// The relocation's path rules: what becomes of a typed path, how two folders
// relate, and the shell's double-NUL lists.
#include <gtest/gtest.h>

#include "engine/relocation_paths.h"

namespace {

TEST(RelocationPaths, CleaningRemovesOneSeparatorThenBlanks) {
    const struct {
        const wchar_t* typed;
        const wchar_t* used;
    } cases[] = {
        {L"C:\\Data", L"C:\\Data"},
        {L"C:\\Data\\", L"C:\\Data"},
        {L"C:\\Data/", L"C:\\Data"},
        {L"C:\\Data\\\\", L"C:\\Data\\"},  // one separator only
        {L"  C:\\Data  ", L"C:\\Data"},
        {L"C:\\Data\\ ", L"C:\\Data\\"},   // the blank hides the separator from the first step
        {L"E:\\", L"E:\\"},  // a drive root stays the root
        {L"E:/", L"E:\\"},
        {L" e: ", L"e:\\"},   // never the drive-relative "e:"
        {L"E:\\Data:", L"E:\\Data:"},
        {L"\\", L""},
        {L"   ", L""},
        {L"", L""},
    };
    for (const auto& c : cases) {
        std::wstring path = c.typed;
        CleanRelocationPath(path);
        EXPECT_EQ(path, c.used) << "typed: [" << testing::PrintToString(std::wstring(c.typed)) << "]";
    }
}

TEST(RelocationPaths, RelatesFoldersByFullPathIgnoringCase) {
    const struct {
        const wchar_t* source;
        const wchar_t* target;
        PathRelation relation;
    } cases[] = {
        {L"C:\\Data", L"D:\\Data", PathRelation::Separate},
        {L"C:\\Data", L"C:\\Data2", PathRelation::Separate},
        {L"C:\\Data2", L"C:\\Data", PathRelation::Separate},
        {L"C:\\Data", L"C:\\Dat", PathRelation::Separate},
        {L"C:\\Data", L"C:\\Data", PathRelation::Same},
        {L"C:\\Data", L"c:\\DATA", PathRelation::Same},
        {L"C:\\Data\\", L"C:\\Data", PathRelation::Same},
        {L"C:\\Data", L"C:\\Data\\New", PathRelation::TargetInsideSource},
        {L"C:\\Data", L"c:\\data\\a\\b", PathRelation::TargetInsideSource},
        {L"C:\\Data\\Old", L"C:\\Data", PathRelation::SourceInsideTarget},
        {L"C:\\Data\\Old", L"C:\\", PathRelation::SourceInsideTarget},
        {L"C:\\", L"C:\\Data", PathRelation::TargetInsideSource},
        {L"N:\\Stra\u00DFe", L"N:\\STRASSE", PathRelation::Separate},
        {L"N:\\\u00C4rger", L"n:\\\u00E4RGER\\x", PathRelation::TargetInsideSource},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.source) + L" -> " + c.target));
        EXPECT_EQ(RelatePaths(c.source, c.target), c.relation);
    }
}

TEST(RelocationPaths, FullPathIsRefusedRatherThanCut) {
    std::wstring full;
    ASSERT_TRUE(FullPathWithin(L"C:\\Data\\..\\Games", kMaxTargetLength, full));
    EXPECT_EQ(full, L"C:\\Games");

    const std::wstring fits = L"C:\\" + std::wstring(kMaxSourceLength - 3, L'a');
    ASSERT_TRUE(FullPathWithin(fits, kMaxSourceLength, full));
    EXPECT_EQ(full, fits);
    full = L"unchanged";
    EXPECT_FALSE(FullPathWithin(fits + L"b", kMaxSourceLength, full));
    EXPECT_EQ(full, L"unchanged");
    // A relative path grows when it is made full: the full length is what counts.
    ::SetCurrentDirectoryW(L"C:\\windows");
    EXPECT_FALSE(FullPathWithin(std::wstring(kMaxSourceLength - 2, L'r'), kMaxSourceLength, full));
}

TEST(RelocationPaths, ProbeNameAndShellListsKeepThePathWhole) {
    EXPECT_EQ(ProbeName(L"C:\\Data"), L"C:\\Data_abc_in_use_test");
    const std::wstring longest(kMaxSourceLength, L'x');
    EXPECT_EQ(ProbeName(longest).size(), static_cast<size_t>(MAX_PATH - 1));

    const std::wstring moveList = ShellPathList(L"C:\\Data", true);
    ASSERT_EQ(moveList.size(), 12u);
    EXPECT_EQ(std::wstring(moveList.c_str()), L"C:\\Data\\*.*");
    EXPECT_EQ(moveList.c_str()[11], L'\0');
    EXPECT_EQ(moveList.c_str()[12], L'\0');  // the list ends with two NULs
    const std::wstring target = ShellPathList(L"E:\\", false);
    EXPECT_EQ(target.size(), 4u);
    EXPECT_EQ(target.c_str()[4], L'\0');
    EXPECT_EQ(std::wstring(ShellPathList(L"E:\\", true).c_str()), L"E:\\*.*") << "one separator after a root";
}

TEST(RelocationPaths, JoiningNeverDoublesTheSeparatorOfARoot) {
    EXPECT_EQ(JoinPath(L"E:\\", L"x"), L"E:\\x");
    EXPECT_EQ(JoinPath(L"E:\\Data", L"x\\y"), L"E:\\Data\\x\\y");
    EXPECT_TRUE(IsDriveRoot(L"E:\\"));
    EXPECT_TRUE(IsDriveRoot(L"e:/"));
    EXPECT_FALSE(IsDriveRoot(L"E:"));
    EXPECT_FALSE(IsDriveRoot(L"E:\\x"));
    EXPECT_FALSE(IsDriveRoot(L"1:\\"));
}

}  // namespace
