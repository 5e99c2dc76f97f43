// Texts the box composes: the clipboard copy, the countdown label and title, the
// help file's path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "promptbox/prompt_text.h"

namespace {

const std::wstring S = L"---------------------------\r\n";

TEST(PromptCopyText, LinesForTitleMessageAndButtons) {
    const std::wstring message = L"Successfully removed junction point(s)";
    EXPECT_EQ(FormatPromptCopyText(L"Dirshift", &message, {L"OK", L"Do not tell me again"}),
              S + L"Dirshift\r\n" + S + L"Successfully removed junction point(s)\r\n" + S +
                  L"OK   Do not tell me again   \r\n" + S);
    EXPECT_EQ(S.size(), 29u) << "27 hyphens and a line break";
}

TEST(PromptCopyText, WithoutMessageControlTheMessagePartIsLeftOut) {
    EXPECT_EQ(FormatPromptCopyText(L"T", nullptr, {L"&Yes", L"&No"}), S + L"T\r\n" + S + L"Yes   No   \r\n" + S);
    const std::wstring empty;
    EXPECT_EQ(FormatPromptCopyText(L"T", &empty, {}), S + L"T\r\n" + S + L"\r\n" + S + L"\r\n" + S);
}

TEST(PromptCopyText, LongPartsAreCut) {
    const std::wstring message(5000, L'm');
    const std::wstring title(1500, L't');
    const std::wstring label(300, L'b');
    const std::wstring copy = FormatPromptCopyText(title, &message, {label});
    EXPECT_EQ(copy, S + std::wstring(999, L't') + L"\r\n" + S + std::wstring(3999, L'm') + L"\r\n" + S +
                        std::wstring(198, L'b') + L"   \r\n" + S);
    EXPECT_LT(copy.size(), kPromptCopyBufferLength);
}

TEST(PromptCopyText, AccessKeyMarksAreDropped) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"&Yes", L"Yes"},        {L"Y&es to All", L"Yes to All"}, {L"Re&port", L"Report"},
        {L"Tom && Jerry", L"Tom & Jerry"}, {L"&", L""},            {L"a&&&b", L"a&b"},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(RemoveAccessKeyMarks(c.first), c.second) << c.first;
}

TEST(PromptCountdown, LabelAndTitleTexts) {
    EXPECT_EQ(CountdownLabel(L"OK", 3), L"OK = 3");
    EXPECT_EQ(CountdownLabel(L"&Yes", 10), L"&Yes = 10");
    EXPECT_EQ(CountdownLabel(std::wstring(250, L'x').c_str(), 5).size(), 199u);
    EXPECT_EQ(DisabledPeriodTitle(L"Dirshift", 2), L"Dirshift 2");
    EXPECT_EQ(DisabledPeriodTitle(L"Dirshift", 1), L"Dirshift 1");
}

TEST(PromptHelpFile, ExtensionOfTheProgramReplaced) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:\\Program Files\\Dirshift\\dirshift.exe", L"C:\\Program Files\\Dirshift\\dirshift.hlp"},
        {L"C:\\Tools\\dir.shift.exe", L"C:\\Tools\\dir.shift.hlp"},
        {L"C:\\My.Tools\\dirshift", L""},
        {L"", L""},
        {L"dirshift.exe", L"dirshift.hlp"},
    };
    for (const auto& c : cases) EXPECT_EQ(HelpFilePathFor(c.first), c.second) << c.first;
}

}  // namespace
