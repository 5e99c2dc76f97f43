// The path rules behind a link's state, free of the disk.
#include "junction/link_health.h"

#include <gtest/gtest.h>

namespace {

TEST(LinkHealthRules, InsideMeansOnWholeNamesIgnoringCaseAndATrailingBackslash) {
    struct Case {
        const wchar_t* path;
        const wchar_t* folder;
        bool inside;
    };
    const Case cases[] = {
        {L"D:\\Games", L"D:\\Games", true},
        {L"D:\\Games\\x", L"D:\\Games", true},
        {L"d:\\games\\X\\y", L"D:\\GAMES\\", true},
        {L"D:\\Games\\", L"D:\\Games", true},
        {L"D:\\Games2", L"D:\\Games", false},
        {L"D:\\Game", L"D:\\Games", false},
        {L"D:\\Games", L"D:\\Games\\x", false},
        {L"D:\\x", L"D:\\", true},
        {L"E:\\x", L"D:\\", false},
        {L"D:\\x", L"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsSameOrInside(c.path, c.folder), c.inside) << c.path << " in " << c.folder;
    }
}

TEST(LinkHealthRules, SharesAndDriveLettersAreToldByTheTargetsName) {
    EXPECT_TRUE(IsNetworkTarget(L"UNC\\server\\share\\Games"));
    EXPECT_TRUE(IsNetworkTarget(L"unc\\server\\share"));
    EXPECT_TRUE(IsNetworkTarget(L"\\\\server\\share"));
    EXPECT_FALSE(IsNetworkTarget(L"D:\\UNC\\x"));
    EXPECT_FALSE(IsNetworkTarget(L"UNCLE\\x"));

    EXPECT_EQ(TargetDriveLetter(L"d:\\Games"), L'D');
    EXPECT_EQ(TargetDriveLetter(L"Q:"), L'Q');
    EXPECT_EQ(TargetDriveLetter(L"Q:x"), 0);
    EXPECT_EQ(TargetDriveLetter(L"Volume{0b1c}\\x"), 0);
    EXPECT_EQ(TargetDriveLetter(L"1:\\x"), 0);
    EXPECT_EQ(TargetDriveLetter(L""), 0);
}

TEST(LinkHealthRules, EveryStateHasItsOwnText) {
    const LinkHealth states[] = {LinkHealth::Ok,           LinkHealth::TargetMissing,    LinkHealth::TargetNotFolder,
                                 LinkHealth::TargetIsLink, LinkHealth::PointsIntoItself, LinkHealth::DriveNotThere,
                                 LinkHealth::OnAnotherComputer, LinkHealth::NotAJunction};
    EXPECT_STREQ(LinkHealthText(LinkHealth::Ok), L"OK");
    EXPECT_STREQ(LinkHealthText(LinkHealth::TargetMissing), L"Target missing");
    for (LinkHealth a : states) {
        EXPECT_NE(LinkHealthText(a)[0], 0);
        for (LinkHealth b : states) {
            if (a != b) {
                EXPECT_STRNE(LinkHealthText(a), LinkHealthText(b));
            }
        }
    }
}

}  // namespace
