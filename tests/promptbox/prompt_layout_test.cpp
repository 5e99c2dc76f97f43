// The message box's pure rules: labels, metrics, button rows and the layout
// arithmetic, worked with plain numbers (base units 8 x 16, a 1280-pixel screen,
// 32-pixel icons).
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "promptbox/prompt_box.h"
#include "promptbox/prompt_layout.h"

namespace {

std::vector<int> IdsOf(const PromptButtonRow& row) {
    std::vector<int> ids;
    for (const auto& button : row.buttons) ids.push_back(button.id);
    return ids;
}

std::vector<int> LabelsOf(const PromptButtonRow& row) {
    std::vector<int> labels;
    for (const auto& button : row.buttons) labels.push_back(button.labelIndex);
    return labels;
}

// A string table of our own: answers every id with "#<id>" and counts the loads.
struct FakeStrings {
    std::vector<UINT> asked;
    std::vector<UINT> missing;
    PromptStringLoader loader() {
        return [this](UINT id, wchar_t* buffer, int capacity) {
            asked.push_back(id);
            for (UINT m : missing) {
                if (m == id) return false;
            }
            swprintf(buffer, static_cast<size_t>(capacity), L"#%u", id);
            return true;
        };
    }
};

TEST(PromptLabels, BuiltInTextsWhenStringsAreNotWanted) {
    FakeStrings strings;
    PromptLabelTexts labels;
    FillPromptLabels(labels, L"", false, nullptr, true, strings.loader());
    EXPECT_TRUE(strings.asked.empty()) << "no string resource is loaded";
    EXPECT_STREQ(labels[kLabelYes], L"&Yes");
    EXPECT_STREQ(labels[kLabelOk], L"OK");
    EXPECT_STREQ(labels[kLabelCancel], L"Cancel");
    EXPECT_STREQ(labels[kLabelDontShowAgain], L"Don't show again");
    EXPECT_STREQ(labels[kLabelReport], L"Re&port");
    EXPECT_STREQ(labels[kLabelYesToAll], L"Y&es to All");
}

TEST(PromptLabels, StringTableReplacesAllButReportAndKeepsBuiltInsForMissingStrings) {
    FakeStrings strings;
    strings.missing = {9001, 9004};
    PromptLabelTexts labels;
    FillPromptLabels(labels, L"", false, nullptr, false, strings.loader());
    EXPECT_STREQ(labels[kLabelYes], L"#9007");
    EXPECT_STREQ(labels[kLabelAbort], L"#9005");
    EXPECT_STREQ(labels[kLabelSkipAll], L"#9019");
    EXPECT_STREQ(labels[kLabelOk], L"OK") << "9001 is missing: built-in kept";
    EXPECT_STREQ(labels[kLabelRetry], L"&Retry") << "9004 is missing: built-in kept";
    EXPECT_STREQ(labels[kLabelReport], L"Re&port");
    for (UINT id : strings.asked) EXPECT_NE(id, 9016u) << "the Report label is never loaded";
    EXPECT_EQ(strings.asked.size(), 18u);
}

TEST(PromptLabels, CustomLabelsReplaceNonEmptySlotsAndLoadNothing) {
    FakeStrings strings;
    static PromptBoxParams params;  // large: kept off the stack
    params = PromptBoxParams{};
    wcscpy_s(params.customLabels[kLabelYes], L"Ja");
    wcscpy_s(params.customLabels[kLabelNo], L"Nein");
    wcscpy_s(params.customLabels[kLabelReport], L"Melden");
    std::fill(std::begin(params.customLabels[kLabelCancel]), std::end(params.customLabels[kLabelCancel]), L'x');
    params.customLabels[kLabelCancel][259] = L'\0';

    PromptLabelTexts labels;
    FillPromptLabels(labels, L"", true, params.customLabels, false, strings.loader());
    EXPECT_TRUE(strings.asked.empty());
    EXPECT_STREQ(labels[kLabelYes], L"Ja");
    EXPECT_STREQ(labels[kLabelNo], L"Nein");
    EXPECT_STREQ(labels[kLabelOk], L"OK") << "empty slot keeps the built-in label";
    EXPECT_STREQ(labels[kLabelReport], L"Re&port") << "the Report slot is not used";
    EXPECT_EQ(std::wstring(labels[kLabelCancel]), std::wstring(99, L'x')) << "a 259-character label is cut to 99";

    // A slot filled to its end without a terminator is read no further than 99 units.
    std::fill(std::begin(params.customLabels[kLabelCancel]), std::end(params.customLabels[kLabelCancel]), L'y');
    FillPromptLabels(labels, L"", true, params.customLabels, false, strings.loader());
    EXPECT_EQ(std::wstring(labels[kLabelCancel]), std::wstring(99, L'y'));
}

TEST(PromptLabels, ReportLabelIsTheCallersWhenGiven) {
    FakeStrings strings;
    PromptLabelTexts labels;
    FillPromptLabels(labels, L"Send &report", false, nullptr, false, strings.loader());
    EXPECT_STREQ(labels[kLabelReport], L"Send &report");
    const std::wstring longReport(150, L'r');
    FillPromptLabels(labels, longReport.c_str(), false, nullptr, true, strings.loader());
    EXPECT_EQ(std::wstring(labels[kLabelReport]), std::wstring(99, L'r'));
}

TEST(PromptLabels, ProgramStringTableGivesTheProgramsLabels) {
    const HINSTANCE self = ::GetModuleHandleW(nullptr);
    PromptLabelTexts labels;
    FillPromptLabels(labels, L"", false, nullptr, false, [self](UINT id, wchar_t* buffer, int capacity) {
        return ::LoadStringW(self, id, buffer, capacity) > 0;
    });
    EXPECT_STREQ(labels[kLabelYes], L"Yes");
    EXPECT_STREQ(labels[kLabelNo], L"No");
    EXPECT_STREQ(labels[kLabelCancel], L"Cancel");
    EXPECT_STREQ(labels[kLabelOk], L"OK");
    EXPECT_STREQ(labels[kLabelReport], L"Re&port");
    EXPECT_STREQ(labels[kLabelDontAskAgain], L"Do not ask me again");
    EXPECT_STREQ(labels[kLabelDontTellAgain], L"Do not tell me again");
    EXPECT_STREQ(labels[kLabelDontShowAgain], L"Do not show me again");
}

TEST(PromptMetrics, BaseUnits8By16) {
    const PromptMetrics classic = ComputePromptMetrics(8, 16, false);
    EXPECT_EQ(classic.minButtonWidth, 76);
    EXPECT_EQ(classic.buttonHeight, 24);
    EXPECT_EQ(classic.countdownWidth, 26);
    EXPECT_EQ(classic.checkBoxHeight, 20);
    const PromptMetrics modern = ComputePromptMetrics(8, 16, true);
    EXPECT_EQ(modern.minButtonWidth, 88);
    EXPECT_EQ(modern.buttonHeight, 26);
    EXPECT_EQ(modern.countdownWidth, 26);
    EXPECT_EQ(modern.checkBoxHeight, 20);
    // Other units scale with rounding: 38 * 7 / 4 = 66.5 -> 67.
    EXPECT_EQ(ComputePromptMetrics(7, 15, false).minButtonWidth, 67);
}

TEST(PromptMetrics, ButtonWidthIsLabelPlusMarginAtLeastTheMinimumPlusCountdown) {
    const PromptMetrics m = ComputePromptMetrics(8, 16, true);
    EXPECT_EQ(PromptButtonWidth(20, m, false), 88);
    EXPECT_EQ(PromptButtonWidth(68, m, false), 88);
    EXPECT_EQ(PromptButtonWidth(69, m, false), 89);
    EXPECT_EQ(PromptButtonWidth(20, m, true), 114);
    EXPECT_EQ(PromptButtonWidth(100, m, true), 146);
}

TEST(PromptMetrics, DefaultButtonNumberFromStyle) {
    const std::pair<UINT, int> cases[] = {
        {0, 1},           {MB_DEFBUTTON2, 2}, {MB_DEFBUTTON3, 3}, {MB_DEFBUTTON4, 4},
        {PB_DEFBUTTON5, 5}, {PB_DEFBUTTON6, 6}, {0x600, 1},       {0xF00, 1},
        {MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, 2},
    };
    for (const auto& c : cases) EXPECT_EQ(DefaultButtonNumber(c.first), c.second) << std::hex << c.first;
}

TEST(PromptMetrics, WrapWidthForScreenLookAndIcon) {
    struct Case {
        bool modern, narrow, icon;
        int width;
    };
    const Case cases[] = {
        {false, false, false, 720},  // 1280 / 2 + 80
        {true, false, false, 630},   // 1280 / 2 - 10
        {false, true, false, 426},   // 1280 / 3
        {true, true, false, 426},
        {true, true, true, 378},     // 426 - (32 + 16): the program's own boxes
        {false, false, true, 672},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MessageWrapWidth(1280, c.modern, c.narrow, c.icon, 32), c.width)
            << c.modern << c.narrow << c.icon;
    }
}

TEST(PromptButtonRows, EveryButtonSet) {
    struct Case {
        UINT style;
        std::vector<int> ids;
        UINT escape;
    };
    const Case cases[] = {
        {MB_OK, {IDOK}, DF_ESCAPE_OK},
        {MB_OKCANCEL, {IDOK, IDCANCEL}, DF_ESCAPE_CANCEL},
        {MB_ABORTRETRYIGNORE, {IDABORT, IDRETRY, IDIGNORE}, 0},
        {MB_YESNOCANCEL, {IDYES, IDNO, IDCANCEL}, DF_ESCAPE_CANCEL},
        {MB_YESNO, {IDYES, IDNO}, 0},
        {MB_RETRYCANCEL, {IDRETRY, IDCANCEL}, DF_ESCAPE_CANCEL},
        {MB_CANCELTRYCONTINUE, {IDCANCEL, IDTRYAGAIN, IDCONTINUE}, DF_ESCAPE_CANCEL},
        {PB_CONTINUEABORT, {IDCONTINUE, IDABORT}, 0},
        {PB_SKIPSKIPALLCANCEL, {PB_IDSKIP, PB_IDSKIPALL, IDCANCEL}, DF_ESCAPE_CANCEL},
        {PB_IGNOREIGNOREALLCANCEL, {IDIGNORE, PB_IDIGNOREALL, IDCANCEL}, DF_ESCAPE_CANCEL},
        {10, {IDOK}, 0},
        {12, {IDOK}, 0},
        {15, {IDOK}, 0},
        {MB_YESNOCANCEL | PB_YESTOALL | PB_NOTOALL, {IDYES, PB_IDYESTOALL, IDNO, PB_IDNOTOALL, IDCANCEL}, DF_ESCAPE_CANCEL},
        {MB_YESNO | PB_NOTOALL, {IDYES, IDNO, PB_IDNOTOALL}, 0},
        {MB_OKCANCEL | PB_YESTOALL | PB_NOTOALL, {IDOK, IDCANCEL}, DF_ESCAPE_CANCEL},
        {MB_OK | MB_HELP, {IDOK, 300}, DF_ESCAPE_OK},
    };
    for (const Case& c : cases) {
        const PromptButtonRow row = BuildButtonRow(c.style, L"", false);
        EXPECT_EQ(IdsOf(row), c.ids) << "style " << std::hex << c.style;
        EXPECT_EQ(row.escapeFlags, c.escape) << "style " << std::hex << c.style;
    }
    EXPECT_EQ(LabelsOf(BuildButtonRow(MB_CANCELTRYCONTINUE, L"", false)),
              (std::vector<int>{kLabelCancel, kLabelTryAgain, kLabelContinue}));
    EXPECT_EQ(LabelsOf(BuildButtonRow(PB_IGNOREIGNOREALLCANCEL, L"", false)),
              (std::vector<int>{kLabelIgnore, kLabelIgnoreAll, kLabelCancel}));
}

TEST(PromptButtonRows, HelpAndReportFollowTheSet) {
    EXPECT_EQ(IdsOf(BuildButtonRow(MB_YESNO | MB_HELP, L"", true)), (std::vector<int>{IDYES, IDNO, 300, 301}));
    EXPECT_EQ(IdsOf(BuildButtonRow(MB_OK, L"", true)), (std::vector<int>{IDOK, 301}));
    EXPECT_EQ(IdsOf(BuildButtonRow(MB_OK | MB_HELP, L"Send\nKeep", true)), (std::vector<int>{23, 24, 300, 301}));
}

TEST(PromptButtonRows, CustomEntries) {
    struct Case {
        const wchar_t* text;
        std::vector<std::wstring> entries;
    };
    const Case cases[] = {
        {L"One\nTwo\nThree\nFour\nFive", {L"One", L"Two", L"Three", L"Four"}},
        {L"Move\n\nKeep", {L"Move", L"Keep"}},
        {L"\nOnly\n", {L"Only"}},
        {L"Copy\r\nMove\r\n", {L"Copy", L"Move"}},
        {L"A\n\n\n\nB\nC\nD\nE", {L"A", L"B", L"C", L"D"}},
        {L"", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitCustomButtons(c.text), c.entries) << c.text;

    const PromptButtonRow five = BuildButtonRow(MB_YESNOCANCEL, L"One\nTwo\nThree\nFour\nFive", false);
    EXPECT_EQ(IdsOf(five), (std::vector<int>{23, 24, 25, 26})) << "the custom entries replace the whole set";
    EXPECT_EQ(five.buttons[2].customText, L"Three");
    EXPECT_EQ(five.buttons[0].labelIndex, -1);
    EXPECT_EQ(five.escapeFlags, 0u);
}

TEST(PromptButtonRows, LineFeedsOnlyGiveAnOkThatEscapeAnswers) {
    for (const wchar_t* text : {L"\n", L"\n\n\n", L"\r\n\r\n"}) {
        const PromptButtonRow row = BuildButtonRow(MB_YESNO, text, false);
        EXPECT_EQ(IdsOf(row), std::vector<int>{IDOK}) << "a box always has a button";
        EXPECT_EQ(row.escapeFlags, DF_ESCAPE_OK);
    }
}

TEST(PromptCheckBox, FirstOfAskTellShowDecides) {
    struct Case {
        UINT style;
        UINT flag;
        int label;
        UINT bit;
    };
    const Case cases[] = {
        {0, 0, -1, 0},
        {PB_DONTASKAGAIN, DF_ASKAGAIN, kLabelDontAskAgain, PB_DONTASKAGAIN},
        {PB_DONTTELLAGAIN, DF_TELLAGAIN, kLabelDontTellAgain, PB_DONTTELLAGAIN},
        {PB_DONTSHOWAGAIN, DF_SHOWAGAIN, kLabelDontShowAgain, PB_DONTSHOWAGAIN},
        {PB_DONTTELLAGAIN | PB_DONTSHOWAGAIN, DF_TELLAGAIN, kLabelDontTellAgain, PB_DONTTELLAGAIN},
        {PB_DONTASKAGAIN | PB_DONTTELLAGAIN | PB_DONTSHOWAGAIN, DF_ASKAGAIN, kLabelDontAskAgain, PB_DONTASKAGAIN},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckBoxFlag(c.style), c.flag) << std::hex << c.style;
        EXPECT_EQ(CheckBoxLabelIndex(c.flag), c.label);
        EXPECT_EQ(CheckBoxResultBit(c.flag | DF_ESCAPE_CANCEL), c.bit);
    }
}

// The program's own boxes: narrow, modern, an icon, three buttons and a check box.
PromptLayoutInput ModernThreeButtonsWithCheckBox() {
    PromptLayoutInput in;
    in.textWidth = 300;
    in.textHeight = 13;
    in.lineHeight = 13;
    in.hasIcon = true;
    in.iconWidth = 32;
    in.iconHeight = 32;
    in.modernLook = true;
    in.rightButtons = true;
    in.hasBackground = true;
    in.buttonHeight = 26;
    in.checkBoxHeight = 20;
    in.buttonWidths = {88, 88, 88};
    in.checkWidth = 150;
    return in;
}

void ExpectRect(const RECT& r, int left, int top, int right, int bottom, const char* what) {
    EXPECT_EQ(r.left, left) << what;
    EXPECT_EQ(r.top, top) << what;
    EXPECT_EQ(r.right, right) << what;
    EXPECT_EQ(r.bottom, bottom) << what;
}

TEST(PromptLayoutArithmetic, ModernBoxWithIconButtonsAndCheckBox) {
    const PromptLayout out = LayOutPrompt(ModernThreeButtonsWithCheckBox());
    // The text sits right of the 24-pixel icon margin; the band ends at its bottom.
    ExpectRect(out.messageRect, 72, 32, 384, 74, "message");
    ExpectRect(out.iconRect, 24, 24, 58, 58, "icon");
    EXPECT_EQ(out.width, 408);
    EXPECT_EQ(out.rowTop, 88);
    // Right-aligned: the last button ends 16 pixels left of the edge.
    EXPECT_EQ(out.buttonLefts, (std::vector<int>{116, 210, 304}));
    EXPECT_EQ(out.buttonLefts.back() + 88, out.width - 16);
    ExpectRect(out.checkBoxRect, 17, 126, 167, 146, "check box");
    EXPECT_EQ(out.height, 154);
}

TEST(PromptLayoutArithmetic, SeveralLinesStartLevelWithTheIcon) {
    PromptLayoutInput in = ModernThreeButtonsWithCheckBox();
    in.textHeight = 39;
    const PromptLayout out = LayOutPrompt(in);
    ExpectRect(out.messageRect, 72, 24, 384, 92, "message moved up, same height");
    EXPECT_EQ(out.rowTop, 106);
}

TEST(PromptLayoutArithmetic, ClassicBoxWithoutIconCentresItsButton) {
    PromptLayoutInput in;
    in.textWidth = 200;
    in.textHeight = 13;
    in.lineHeight = 13;
    in.buttonHeight = 24;
    in.checkBoxHeight = 20;
    in.buttonWidths = {76};
    const PromptLayout out = LayOutPrompt(in);
    ExpectRect(out.messageRect, 16, 16, 228, 42, "message");
    ExpectRect(out.iconRect, 0, 0, 0, 0, "no icon");
    EXPECT_EQ(out.width, 228);
    EXPECT_EQ(out.rowTop, 47);
    EXPECT_EQ(out.height, 83);
    EXPECT_EQ(out.buttonLefts, std::vector<int>{76});
    ExpectRect(out.checkBoxRect, 0, 0, 0, 0, "no check box");
}

TEST(PromptLayoutArithmetic, RowOrCheckBoxWiderThanTheTextWidenTheBox) {
    PromptLayoutInput in;
    in.textWidth = 10;
    in.textHeight = 13;
    in.lineHeight = 13;
    in.buttonHeight = 24;
    in.checkBoxHeight = 20;
    in.buttonWidths = {76, 76, 76};
    PromptLayout out = LayOutPrompt(in);
    EXPECT_EQ(out.width, 76 * 3 + 12 + 32) << "row width + 32";
    EXPECT_EQ(out.buttonLefts.front(), 16);

    in.buttonWidths = {76};
    in.checkWidth = 150;
    out = LayOutPrompt(in);
    EXPECT_EQ(out.width, 167) << "check width + 17";
    EXPECT_EQ(out.buttonLefts, std::vector<int>{45}) << "centred in the final width";

    in.rightButtons = true;
    out = LayOutPrompt(in);
    EXPECT_EQ(out.buttonLefts.front() + 76, out.width - 16);
}

TEST(PromptLayoutArithmetic, BackgroundWithoutIconAddsTheBandGap) {
    PromptLayoutInput in;
    in.textWidth = 200;
    in.textHeight = 13;
    in.buttonHeight = 24;
    in.buttonWidths = {76};
    in.hasBackground = true;
    EXPECT_EQ(LayOutPrompt(in).rowTop, 42 + 5 + 9);
}

TEST(PromptLayoutArithmetic, PixelsToDialogUnits) {
    EXPECT_EQ(PixelsToDialogUnitsX(408, 8), 204);
    EXPECT_EQ(PixelsToDialogUnitsY(154, 16), 77);
    EXPECT_EQ(PixelsToDialogUnitsX(7, 8), 3) << "fraction dropped";
    EXPECT_EQ(PixelsToDialogUnitsY(15, 16), 7);
    EXPECT_EQ(PixelsToDialogUnitsX(100, 7), 57);
}

// ---- the box at other display scales --------------------------------------------

TEST(PromptScale, BaseUnitsAndMetricsScaleFromTheirValuesAt96Dpi) {
    // Under Wine the system font is 9 x 16 at 96 DPI and 18 x 31 at 192 (the raster
    // font's height in whole pixels): both give the 96-DPI box.
    const PromptBaseUnits at96 = BaseUnitsForDpi({18, 31}, 192, 96);
    EXPECT_EQ(at96.x, 9);
    EXPECT_EQ(at96.y, 16);
    EXPECT_EQ(BaseUnitsForDpi({8, 16}, 96, 96).x, 8);
    EXPECT_EQ(BaseUnitsForDpi({10, 20}, 120, 96).y, 16);

    const PromptMetrics modern = ComputePromptMetrics(8, 16, true);
    const PromptMetrics same = ScalePromptMetrics(modern, 96);
    EXPECT_EQ(same.minButtonWidth, 88);
    EXPECT_EQ(same.buttonHeight, 26);
    const PromptMetrics twice = ScalePromptMetrics(modern, 192);
    EXPECT_EQ(twice.minButtonWidth, 176);
    EXPECT_EQ(twice.buttonHeight, 52);
    EXPECT_EQ(twice.countdownWidth, 52);
    EXPECT_EQ(twice.checkBoxHeight, 40);
    // 86 (38 base units of 9 pixels, rounded) and 14 at 96 DPI: 125 at 120, not the
    // 122 that whole base units of 11 pixels would give.
    EXPECT_EQ(ScalePromptMetrics(ComputePromptMetrics(9, 16, true), 120).minButtonWidth, 125);
}

TEST(PromptScale, ButtonPaddingAndWrapMarginsScale) {
    const PromptMetrics m = ScalePromptMetrics(ComputePromptMetrics(8, 16, true), 192);
    EXPECT_EQ(PromptButtonWidth(100, m, false, 192), 176) << "the minimum";
    EXPECT_EQ(PromptButtonWidth(150, m, false, 192), 190) << "label + 40";
    EXPECT_EQ(PromptButtonWidth(150, m, true, 192), 242) << "and the countdown";
    // The wrap width is a share of the monitor's pixels; the margins scale.
    EXPECT_EQ(MessageWrapWidth(2560, true, true, true, 64, 192), 853 - (64 + 32));
    EXPECT_EQ(MessageWrapWidth(2560, true, false, false, 64, 192), 1280 - 20);
    EXPECT_EQ(MessageWrapWidth(2560, false, false, false, 64, 192), 1280 + 160);
}

// The same box measured at `dpi`: every pixel input of the 96-DPI box scaled, as
// the font, the icon and the base units of that DPI give them.
PromptLayoutInput AtDpi(const PromptLayoutInput& at96, UINT dpi) {
    PromptLayoutInput in = at96;
    in.dpi = dpi;
    const auto s = [dpi](int v) { return ScaleForDpi(v, dpi); };
    in.textWidth = s(at96.textWidth);
    in.textHeight = s(at96.textHeight);
    in.lineHeight = s(at96.lineHeight);
    in.iconWidth = s(at96.iconWidth);
    in.iconHeight = s(at96.iconHeight);
    in.buttonHeight = s(at96.buttonHeight);
    in.checkBoxHeight = s(at96.checkBoxHeight);
    for (int& width : in.buttonWidths) width = s(width);
    in.checkWidth = s(at96.checkWidth);
    return in;
}

void ExpectRectNear(const RECT& actual, const RECT& at96, UINT dpi, int tolerance, const std::string& what) {
    const auto s = [dpi](LONG v) { return ScaleForDpi(v, dpi); };
    EXPECT_NEAR(actual.left, s(at96.left), tolerance) << what;
    EXPECT_NEAR(actual.top, s(at96.top), tolerance) << what;
    EXPECT_NEAR(actual.right, s(at96.right), tolerance) << what;
    EXPECT_NEAR(actual.bottom, s(at96.bottom), tolerance) << what;
}

// At 200 % the box is the 100 % box at twice the size, to the pixel; at 125 % and
// 150 % each edge is within the rounding of a few scaled margins.
TEST(PromptScale, TheBoxAtAnyScaleIsTheBoxAt96DpiScaled) {
    PromptLayoutInput classic;
    classic.textWidth = 200;
    classic.textHeight = 13;
    classic.lineHeight = 13;
    classic.buttonHeight = 24;
    classic.checkBoxHeight = 20;
    classic.buttonWidths = {76, 76};
    classic.checkWidth = 130;
    PromptLayoutInput severalLines = ModernThreeButtonsWithCheckBox();
    severalLines.textHeight = 39;
    PromptLayoutInput wideRow = ModernThreeButtonsWithCheckBox();
    wideRow.textWidth = 40;
    wideRow.hasIcon = false;
    const std::pair<const char*, PromptLayoutInput> boxes[] = {
        {"modern", ModernThreeButtonsWithCheckBox()}, {"several lines", severalLines},
        {"classic", classic}, {"row wider than the text", wideRow}};
    const std::pair<UINT, int> scales[] = {{192, 0}, {120, 2}, {144, 2}};
    for (const auto& box : boxes) {
        const PromptLayout at96 = LayOutPrompt(box.second);
        for (const auto& [dpi, tolerance] : scales) {
            const std::string what = std::string(box.first) + " at " + std::to_string(dpi);
            const PromptLayout out = LayOutPrompt(AtDpi(box.second, dpi));
            EXPECT_NEAR(out.width, ScaleForDpi(at96.width, dpi), tolerance) << what;
            EXPECT_NEAR(out.height, ScaleForDpi(at96.height, dpi), tolerance) << what;
            EXPECT_NEAR(out.rowTop, ScaleForDpi(at96.rowTop, dpi), tolerance) << what;
            ExpectRectNear(out.messageRect, at96.messageRect, dpi, tolerance, what + " message");
            ExpectRectNear(out.iconRect, at96.iconRect, dpi, tolerance, what + " icon");
            ExpectRectNear(out.checkBoxRect, at96.checkBoxRect, dpi, tolerance, what + " check box");
            ASSERT_EQ(out.buttonLefts.size(), at96.buttonLefts.size());
            for (size_t i = 0; i < out.buttonLefts.size(); ++i) {
                EXPECT_NEAR(out.buttonLefts[i], ScaleForDpi(at96.buttonLefts[i], dpi), tolerance) << what << " button " << i;
            }
        }
    }
}

}  // namespace
