// The table that turns each relocation message into what the user reads.
#include <gtest/gtest.h>

#include "engine/relocation_messages.h"

namespace {

using M = RelocationMessage;

std::wstring NoStrings(UINT) { return L""; }

TEST(RelocationMessages, EveryMessageHasItsOwnRowWithText) {
    for (int i = 0; i <= static_cast<int>(kLastRelocationMessage); ++i) {
        const auto message = static_cast<M>(i);
        EXPECT_EQ(StyleOf(message).message, message) << i;
        EXPECT_NE(std::wstring(StyleOf(message).text), L"") << i;
    }
}

TEST(RelocationMessages, FactsAreFilledInWhereTheTextNamesThem) {
    RelocationFacts facts;
    facts.source = L"N:\\Games";
    facts.target = L"M:\\Games";
    facts.probe = L"N:\\Games_abc_in_use_test";
    facts.name = L"save.dat";
    facts.limit = 243;
    const auto strings = [](UINT id) { return id == 108 ? std::wstring(L"Error creating virtual folder!") : L""; };

    EXPECT_EQ(ComposeRelocationText(M::JunctionFailedNotRestored, facts, strings),
              L"Error creating virtual folder!\n\nN:\\Games\n ->\nM:\\Games\n\nFiles may not be fully restored: "
              L"whatever is missing from\nN:\\Games\nis still in\nM:\\Games");
    EXPECT_EQ(ComposeRelocationText(M::SourceTooLong, facts, NoStrings),
              L"The path of the source folder is too long. Dirshift can relocate a folder whose full path has at most "
              L"243 characters. No changes were made.");
    EXPECT_EQ(ComposeRelocationText(M::StuckUnderProbeName, facts, NoStrings),
              L"ERROR: To test whether it is in use, the source folder was renamed to\nN:\\Games_abc_in_use_test\nbut it "
              L"could not be renamed back to\nN:\\Games\nPlease rename it back yourself. Nothing else was changed.");
    EXPECT_EQ(ComposeRelocationText(M::Restored, facts, NoStrings), L"Files restored.");
    facts.target = L"S:\\Games";
    facts.needed = 2100000;
    facts.available = 1048576;
    EXPECT_EQ(ComposeRelocationText(M::NotEnoughRoom, facts, NoStrings),
              L"The files to move take 2,100,000 bytes, but the drive of the destination\nS:\\Games\nhas only "
              L"1,048,576 bytes free. No changes were made.");
    facts.needed = 999;
    facts.available = 0;
    EXPECT_EQ(ComposeRelocationText(M::NotEnoughRoom, facts, NoStrings),
              L"The files to move take 999 bytes, but the drive of the destination\nS:\\Games\nhas only 0 bytes free. "
              L"No changes were made.");
}

TEST(RelocationMessages, TheMoveBackQuestionNamesBothFoldersAndTheSizeInGroups) {
    RelocationFacts facts;
    facts.source = L"N:\\Games";
    facts.target = L"M:\\Games {needed}";  // a fact is never read as a placeholder
    facts.needed = 1234567;
    facts.available = 999;
    EXPECT_EQ(ComposeRelocationText(M::MoveBackQuestion, facts, NoStrings),
              L"Move the files back and remove the junction?\n\nThe files of\nM:\\Games {needed}\n(1,234,567 bytes) "
              L"move back to\nN:\\Games\nwhich becomes a plain folder again. The folder\nM:\\Games {needed}\nis "
              L"removed once it is empty.");
    EXPECT_NE(ComposeRelocationText(M::MoveBackNoRoom, facts, NoStrings).find(L"1,234,567 bytes, but the drive of\nN:"
                                                                              L"\\Games\nhas only 999 bytes free"),
              std::wstring::npos);
}

TEST(RelocationMessages, BracesInAFolderNameAreTextNotPlaceholders) {
    RelocationFacts facts;
    facts.name = L"{source} and {string:107} {";
    facts.source = L"N:\\x";
    EXPECT_EQ(ComposeRelocationText(M::NameClash, facts, [](UINT) { return std::wstring(L"LOADED"); }),
              L"The destination folder already holds an item named \"{source} and {string:107} {\", and so does the "
              L"source folder. Please move or rename one of them first. No changes were made.");
}

TEST(RelocationMessages, BoxesAndOwnersFollowTheProgramsConventions) {
    // The final result goes through the program's own box; the question asks
    // Yes/No/Cancel. Every box belongs to the dialog, which stays disabled while
    // one is open, so no second command can start under it.
    EXPECT_EQ(StyleOf(M::Completed).kind, MessageBoxKind::Prompt);
    EXPECT_EQ(StyleOf(M::Completed).style, static_cast<UINT>(MB_OK));
    for (int i = 0; i <= static_cast<int>(kLastRelocationMessage); ++i) {
        EXPECT_TRUE(StyleOf(static_cast<M>(i)).ownedByDialog) << i;
    }
    EXPECT_EQ(StyleOf(M::SystemFilesQuestion).style, static_cast<UINT>(MB_YESNOCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(std::wstring(StyleOf(M::SystemFilesQuestion).caption), L"Dirshift");
    EXPECT_EQ(StyleOf(M::Restored).style, static_cast<UINT>(MB_ICONINFORMATION));
}

}  // namespace
