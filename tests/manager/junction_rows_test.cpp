// The junction manager's row logic: what a found path looks like in the list, where
// a new row goes, and which rows may be handed to the removal.
#include "manager/junction_rows.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

TEST(StripNtPrefix, RemovesOnlyALeadingNtPrefix) {
    const struct {
        const wchar_t* path;
        const wchar_t* shown;
    } cases[] = {
        {L"\\??\\D:\\Data", L"D:\\Data"},
        {L"\\??\\", L""},
        {L"D:\\Data", L"D:\\Data"},
        {L"", L""},
        {L"\\??", L"\\??"},                        // too short: kept, and not read past its end
        {L"\\\\?\\D:\\Data", L"\\\\?\\D:\\Data"},  // the Win32 long-path prefix is not the NT one
        {L"D:\\x\\??\\y", L"D:\\x\\??\\y"},        // only at the start
        {L"\\??\\\\??\\D:\\x", L"\\??\\D:\\x"},    // once
    };
    for (const auto& c : cases) EXPECT_STREQ(StripNtPrefix(c.path), c.shown) << c.path;
    EXPECT_EQ(StripNtPrefix(nullptr), nullptr);
}

// Places each key, one after another, into a list kept sorted with SortedInsertIndex.
std::vector<std::wstring> InsertAll(const std::vector<std::wstring>& keys) {
    std::vector<std::wstring> rows;
    for (const std::wstring& key : keys) {
        const int at = SortedInsertIndex(static_cast<int>(rows.size()), key.c_str(),
                                         [&](int row) { return rows[static_cast<size_t>(row)].c_str(); });
        rows.insert(rows.begin() + at, key);
    }
    return rows;
}

TEST(SortedInsertIndex, KeepsRowsInCaseInsensitiveOrderWhateverTheArrivalOrder) {
    EXPECT_EQ(InsertAll({L"N:\\c", L"N:\\a", L"N:\\b"}), (std::vector<std::wstring>{L"N:\\a", L"N:\\b", L"N:\\c"}));
    EXPECT_EQ(InsertAll({L"N:\\b", L"N:\\A", L"N:\\C", L"N:\\a2"}),
              (std::vector<std::wstring>{L"N:\\A", L"N:\\a2", L"N:\\b", L"N:\\C"}));
    EXPECT_EQ(InsertAll({}), std::vector<std::wstring>{});
    // A path that sorts before every listed row goes first, one after all goes last.
    EXPECT_EQ(InsertAll({L"N:\\m", L"N:\\n", L"N:\\0", L"N:\\z"}),
              (std::vector<std::wstring>{L"N:\\0", L"N:\\m", L"N:\\n", L"N:\\z"}));
}

TEST(SortedInsertIndex, RowsThatCompareEqualKeepTheirOrderOfArrival) {
    EXPECT_EQ(InsertAll({L"N:\\Same", L"N:\\a", L"N:\\SAME", L"N:\\same"}),
              (std::vector<std::wstring>{L"N:\\a", L"N:\\Same", L"N:\\SAME", L"N:\\same"}));
}

TEST(SortedInsertIndex, AgreesWithTheListOrderOnManyRows) {
    std::vector<std::wstring> keys;
    for (int i = 0; i < 500; ++i) keys.push_back(L"N:\\tree\\" + std::to_wstring((i * 7919) % 500));
    const std::vector<std::wstring> rows = InsertAll(keys);
    ASSERT_EQ(rows.size(), keys.size());
    for (size_t i = 1; i < rows.size(); ++i) EXPECT_LE(CompareRowPaths(rows[i - 1].c_str(), rows[i].c_str()), 0) << i;
}

TEST(IsRemovableTarget, EmptyTargetsAndBareDriveRootsAreNeverRemoved) {
    const struct {
        const wchar_t* target;
        bool removable;
    } cases[] = {
        {L"", false}, {L"D:", false}, {L"D:\\", false}, {L"D:\\x", true}, {L"\\\\s\\share", true},
    };
    for (const auto& c : cases) EXPECT_EQ(IsRemovableTarget(c.target), c.removable) << c.target;
}

TEST(FormatRemoveError, NamesBothPathsWholeHoweverLong) {
    EXPECT_EQ(FormatRemoveError(L"N:\\virtual", L"M:\\backing"),
              L"Error removing junction point:\n\nN:\\virtual\n ->\nM:\\backing");
    EXPECT_EQ(FormatRemoveError(L"N:\\link", L""), L"Error removing junction point:\n\nN:\\link\n ->\n");
    // Two walk-sized paths: far more than a 1024-character message buffer.
    const std::wstring path = L"N:\\" + std::wstring(1020, L'p');
    const std::wstring target = L"M:\\" + std::wstring(1020, L't');
    const std::wstring text = FormatRemoveError(path, target);
    EXPECT_NE(text.find(path + L"\n ->\n" + target), std::wstring::npos);
    EXPECT_EQ(text.substr(text.size() - target.size()), target);
}

TEST(FormatScanningStatus, PrefixThenPath) {
    EXPECT_EQ(FormatScanningStatus(L"Scanning folder: ", L"N:\\a"), L"Scanning folder: N:\\a");
    EXPECT_EQ(FormatScanningStatus(nullptr, L"N:\\a"), L"N:\\a");
}

TEST(ColumnWidthForDpi, TwoHundredFortyEightPixelsAt96DpiScaled) {
    const std::pair<UINT, int> cases[] = {{96, 248}, {120, 310}, {144, 372}, {192, 496}, {0, 248}};
    for (const auto& c : cases) EXPECT_EQ(ColumnWidthForDpi(c.first), c.second) << c.first << " DPI";
}

TEST(CompareRows, SortsByTheColumnThenByPathIgnoringCase) {
    const JunctionRow a{L"N:\\a", L"D:\\zeta", LinkHealth::TargetMissing};
    const JunctionRow b{L"n:\\B", L"d:\\Alpha", LinkHealth::Ok};
    const JunctionRow c{L"N:\\c", L"D:\\alpha", LinkHealth::Ok};
    EXPECT_LT(CompareRows(a, b, kPathColumn), 0);
    EXPECT_GT(CompareRows(a, b, kTargetColumn), 0);
    EXPECT_LT(CompareRows(b, c, kTargetColumn), 0) << "equal targets fall back to the path";
    EXPECT_LT(CompareRows(b, a, kStateColumn), 0) << "\"OK\" before \"Target missing\"";
    EXPECT_EQ(CompareRows(a, a, kStateColumn), 0);
}

TEST(RowsAsText, HeaderThenOneTabSeparatedLineARowWholeHoweverLong) {
    const std::wstring longPath = L"N:\\" + std::wstring(900, L'p');
    const std::vector<JunctionRow> rows = {{L"N:\\a", L"D:\\a", LinkHealth::Ok},
                                           {longPath, L"", LinkHealth::NotAJunction},
                                           {L"N:\\c", L"Q:\\c", LinkHealth::DriveNotThere}};
    EXPECT_EQ(RowsAsText(rows), L"Virtual folder\tBacking (real) folder\tState\r\n"
                                L"N:\\a\tD:\\a\tOK\r\n" +
                                    longPath + L"\t\tNot a junction\r\n"
                                               L"N:\\c\tQ:\\c\tTarget on a drive that is not there\r\n");
    EXPECT_EQ(RowsAsText({}), L"Virtual folder\tBacking (real) folder\tState\r\n");
}

TEST(WithDriveLetter, ReplacesOnlyADriveLetter) {
    EXPECT_EQ(WithDriveLetter(L"D:\\Games\\x", L'E'), L"E:\\Games\\x");
    EXPECT_EQ(WithDriveLetter(L"d:\\", L'F'), L"F:\\");
    EXPECT_EQ(WithDriveLetter(L"UNC\\server\\share", L'E'), L"");
    EXPECT_EQ(WithDriveLetter(L"Volume{1}\\x", L'E'), L"");
    EXPECT_EQ(WithDriveLetter(L"", L'E'), L"");
}

TEST(FormatSeveralQuestion, ListsEveryPathUpToALimitAndCountsTheRest) {
    EXPECT_EQ(FormatSeveralQuestion(L"Remove these 2?", {L"N:\\a", L"N:\\b"}), L"Remove these 2?\n\nN:\\a\nN:\\b");
    std::vector<std::wstring> many;
    for (int i = 0; i < 25; ++i) many.push_back(L"N:\\" + std::to_wstring(i));
    const std::wstring text = FormatSeveralQuestion(L"Lead", many, 20);
    EXPECT_NE(text.find(L"\nN:\\19\n... and 5 more"), std::wstring::npos) << text;
    EXPECT_EQ(text.find(L"N:\\20"), std::wstring::npos);
}

TEST(FormatDriveChangeSummary, CountsAndNamesBothKinds) {
    EXPECT_EQ(FormatDriveChangeSummary({{L"N:\\a", L"E:\\a"}}, {{L"N:\\b", L"E:\\b does not exist."}}),
              L"1 junction now points to the new drive, 1 was left as before.\n\nChanged:\nN:\\a\n  -> E:\\a"
              L"\n\nNot changed:\nN:\\b\n  E:\\b does not exist.");
    EXPECT_EQ(FormatDriveChangeSummary({}, {}), L"0 junctions now point to the new drive, 0 were left as before.");
}

}  // namespace
