// The message box's pure logic: the button-label table, the button sets, the
// metrics and the layout arithmetic. Nothing here needs a window or a screen, so
// every rule is tested with plain numbers (base units, text extent, screen width,
// icon size, DPI).
//
// Every fixed margin is a number of pixels at 96 DPI and is scaled for the DPI of
// the monitor the box appears on, as are the base units, the font and the icon the
// caller measures with; so a box at 200 % is the box at 100 % twice the size.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "base/dpi.h"
#include "promptbox/prompt_box.h"

// Button and check-box labels, by index into the label table.
enum PromptLabel : int {
    kLabelAbort = 0,
    kLabelCancel = 1,
    kLabelContinue = 2,
    kLabelDontAskAgain = 3,
    kLabelDontTellAgain = 4,
    kLabelDontShowAgain = 5,
    kLabelHelp = 6,
    kLabelIgnore = 7,
    kLabelIgnoreAll = 8,
    kLabelNo = 9,
    kLabelNoToAll = 10,
    kLabelOk = 11,
    kLabelReport = 12,
    kLabelRetry = 13,
    kLabelSkip = 14,
    kLabelSkipAll = 15,
    kLabelTryAgain = 16,
    kLabelYes = 17,
    kLabelYesToAll = 18,
};
constexpr int kPromptLabelTableSize = 19;
// Every label holds at most 99 characters and its terminator.
constexpr int kPromptLabelLength = 100;

struct PromptLabelEntry {
    UINT resourceId;
    const wchar_t* builtIn;
};
extern const PromptLabelEntry kPromptLabelTable[kPromptLabelTableSize];

using PromptLabelTexts = wchar_t[kPromptLabelTableSize][kPromptLabelLength];

// Loads string `id` into `buffer` (capacity `capacity` units, terminator included);
// false when there is no such string.
using PromptStringLoader = std::function<bool(UINT id, wchar_t* buffer, int capacity)>;

// Fills the labels in the order the box uses: built-in texts (the report label when
// the caller gave none), then either the caller's own labels or the string table
// unless `builtInOnly`. The report label keeps the caller's text or "Re&port".
// Texts longer than 99 characters are cut.
void FillPromptLabels(PromptLabelTexts& labels, const wchar_t* reportLabel, bool useCustomLabels,
                      const wchar_t (*customLabels)[kPromptFieldLength], bool builtInOnly, const PromptStringLoader& load);

// Sizes derived from the system's dialog base units, in pixels.
struct PromptMetrics {
    int minButtonWidth;
    int buttonHeight;
    int countdownWidth;
    int checkBoxHeight;
};
PromptMetrics ComputePromptMetrics(int baseUnitX, int baseUnitY, bool modernLook);

// Dialog base units: the average width and the height of the system font.
struct PromptBaseUnits {
    int x;
    int y;
};
// The base units at `dpi`, from those at the system DPI (rounded to the nearest).
PromptBaseUnits BaseUnitsForDpi(PromptBaseUnits system, UINT systemDpi, UINT dpi);

// Metrics worked out at 96 DPI, sized for `dpi`. Whole base units at other DPIs
// would round the box's proportions (9 x 1.25 is 11.25, not 11).
PromptMetrics ScalePromptMetrics(const PromptMetrics& at96Dpi, UINT dpi);

// Ordinal (1 to 6) of the default button named by the style's MB_DEFBUTTONn bits.
int DefaultButtonNumber(UINT style);

// Width of a push button for a label whose text is `textWidth` pixels wide.
int PromptButtonWidth(int textWidth, const PromptMetrics& metrics, bool hasTimeout, UINT dpi = kBaseDpi);

// The side of the square the message text is wrapped in: a share of the width of
// the monitor (in its own pixels), less the icon's column.
int MessageWrapWidth(int screenWidth, bool modernLook, bool narrow, bool iconInStyle, int iconWidth,
                     UINT dpi = kBaseDpi);

// Bits of CPromptTemplate::dialogFlags.
constexpr UINT DF_ASKAGAIN = 0x01;
constexpr UINT DF_TELLAGAIN = 0x02;
constexpr UINT DF_SHOWAGAIN = 0x04;
constexpr UINT DF_ESCAPE_CANCEL = 0x08;
constexpr UINT DF_ESCAPE_OK = 0x10;

constexpr WORD kPromptHelpId = 300;
constexpr WORD kPromptReportId = 301;
constexpr WORD kPromptCheckBoxId = 5555;
constexpr WORD kPromptIconId = 1000;
constexpr WORD kPromptFirstMessageId = 1001;
constexpr int kPromptMaxCustomButtons = 4;
constexpr int kPromptCustomButtonsLength = 260;

// One button of the row: a label of the table, or (labelIndex < 0) a custom entry.
struct PromptButtonSpec {
    int labelIndex;
    WORD id;
    std::wstring customText;
};

struct PromptButtonRow {
    std::vector<PromptButtonSpec> buttons;
    UINT escapeFlags = 0;  // DF_ESCAPE_CANCEL or DF_ESCAPE_OK
};

// The custom button texts split at line feeds: empty entries skipped (a carriage
// return before the line feed is dropped), at most four.
std::vector<std::wstring> SplitCustomButtons(const wchar_t* text);

// The buttons of a box, left to right: the custom entries when there are any, else
// the style's button set (with Yes/No to All in sets 3 and 4); then Help with
// MB_HELP and Report when a report callback is set. A custom text that holds no
// entry at all gives a lone OK button that Esc and the close box also answer, so no
// box is ever left without a way out.
PromptButtonRow BuildButtonRow(UINT style, const wchar_t* customButtons, bool hasReport);

// The check-box kind the style asks for (first of ask, tell, show), 0 for none.
UINT CheckBoxFlag(UINT style);
// The label index of a check-box kind, -1 for none.
int CheckBoxLabelIndex(UINT checkBoxFlag);
// The result bit a ticked check box of that kind adds.
UINT CheckBoxResultBit(UINT dialogFlags);

// Everything the layout depends on, in pixels at `dpi`.
struct PromptLayoutInput {
    UINT dpi = kBaseDpi;  // the fixed margins are scaled for it
    int textWidth = 0;    // wrapped message extent
    int textHeight = 0;
    int lineHeight = 0;  // one line of the message font
    bool hasIcon = false;
    int iconWidth = 0;
    int iconHeight = 0;
    bool modernLook = false;
    bool rightButtons = false;
    bool hasBackground = false;
    int buttonHeight = 0;
    int checkBoxHeight = 0;
    std::vector<int> buttonWidths;  // the row, left to right
    int checkWidth = 0;             // 0: no check box
};

struct PromptLayout {
    RECT messageRect{};
    RECT iconRect{};  // empty without an icon
    int rowTop = 0;
    std::vector<int> buttonLefts;
    RECT checkBoxRect{};  // empty without a check box
    int width = 0;        // client size of the box
    int height = 0;
};

PromptLayout LayOutPrompt(const PromptLayoutInput& input);

// Pixels to dialog units with the system's base units (fraction dropped).
inline int PixelsToDialogUnitsX(int pixels, int baseUnitX) { return pixels * 4 / baseUnitX; }
inline int PixelsToDialogUnitsY(int pixels, int baseUnitY) { return pixels * 8 / baseUnitY; }
