#include "promptbox/prompt_layout.h"

#include <algorithm>
#include <cwchar>

#include "promptbox/prompt_box.h"

const PromptLabelEntry kPromptLabelTable[kPromptLabelTableSize] = {
    {9005, L"&Abort"},
    {9002, L"Cancel"},
    {9009, L"&Continue"},
    {9010, L"Don't ask me again"},
    {9011, L"Don't tell me again"},
    {9012, L"Don't show again"},
    {9006, L"&Help"},
    {9003, L"&Ignore"},
    {9017, L"I&gnore All"},
    {9008, L"&No"},
    {9014, L"N&o to All"},
    {9001, L"OK"},
    {9016, L"Re&port"},
    {9004, L"&Retry"},
    {9018, L"&Skip"},
    {9019, L"S&kip All"},
    {9015, L"&Try Again"},
    {9007, L"&Yes"},
    {9013, L"Y&es to All"},
};

namespace {

// Copies at most 99 characters; a longer text is cut rather than overrunning the slot.
void CopyLabel(wchar_t (&label)[kPromptLabelLength], const wchar_t* text) {
    const size_t length = wcsnlen(text, kPromptLabelLength - 1);
    std::wmemcpy(label, text, length);
    label[length] = L'\0';
}

}  // namespace

void FillPromptLabels(PromptLabelTexts& labels, const wchar_t* reportLabel, bool useCustomLabels,
                      const wchar_t (*customLabels)[kPromptFieldLength], bool builtInOnly, const PromptStringLoader& load) {
    for (int i = 0; i < kPromptLabelTableSize; ++i) CopyLabel(labels[i], kPromptLabelTable[i].builtIn);
    if (reportLabel != nullptr && reportLabel[0] != L'\0') CopyLabel(labels[kLabelReport], reportLabel);

    if (useCustomLabels) {
        if (customLabels == nullptr) return;
        for (int i = 0; i < kPromptLabelTableSize; ++i) {
            if (i == kLabelReport) continue;
            // Reads at most 99 units of the caller's slot, terminated or not.
            if (customLabels[i][0] != L'\0') CopyLabel(labels[i], customLabels[i]);
        }
        return;
    }
    if (builtInOnly || !load) return;
    for (int i = 0; i < kPromptLabelTableSize; ++i) {
        if (i == kLabelReport) continue;
        wchar_t loaded[kPromptLabelLength] = {};
        if (load(kPromptLabelTable[i].resourceId, loaded, kPromptLabelLength) && loaded[0] != L'\0') {
            loaded[kPromptLabelLength - 1] = L'\0';
            CopyLabel(labels[i], loaded);
        }
    }
}

PromptMetrics ComputePromptMetrics(int baseUnitX, int baseUnitY, bool modernLook) {
    PromptMetrics metrics{};
    metrics.minButtonWidth = ::MulDiv(38, baseUnitX, 4) + (modernLook ? ::MulDiv(6, baseUnitX, 4) : 0);
    metrics.buttonHeight = ::MulDiv(12, baseUnitY, 8) + (modernLook ? ::MulDiv(1, baseUnitY, 8) : 0);
    metrics.countdownWidth = ::MulDiv(13, baseUnitX, 4);
    metrics.checkBoxHeight = ::MulDiv(10, baseUnitY, 8);
    return metrics;
}

int DefaultButtonNumber(UINT style) {
    switch (style & 0x0F00) {
        case MB_DEFBUTTON2: return 2;
        case MB_DEFBUTTON3: return 3;
        case MB_DEFBUTTON4: return 4;
        case PB_DEFBUTTON5: return 5;
        case PB_DEFBUTTON6: return 6;
        default: return 1;
    }
}

PromptBaseUnits BaseUnitsForDpi(PromptBaseUnits system, UINT systemDpi, UINT dpi) {
    return {RescaleForDpi(system.x, systemDpi, dpi), RescaleForDpi(system.y, systemDpi, dpi)};
}

PromptMetrics ScalePromptMetrics(const PromptMetrics& at96Dpi, UINT dpi) {
    return {ScaleForDpi(at96Dpi.minButtonWidth, dpi), ScaleForDpi(at96Dpi.buttonHeight, dpi),
            ScaleForDpi(at96Dpi.countdownWidth, dpi), ScaleForDpi(at96Dpi.checkBoxHeight, dpi)};
}

int PromptButtonWidth(int textWidth, const PromptMetrics& metrics, bool hasTimeout, UINT dpi) {
    return std::max(textWidth + ScaleForDpi(20, dpi), metrics.minButtonWidth) + (hasTimeout ? metrics.countdownWidth : 0);
}

int MessageWrapWidth(int screenWidth, bool modernLook, bool narrow, bool iconInStyle, int iconWidth, UINT dpi) {
    int width = narrow       ? screenWidth / 3
                : modernLook ? screenWidth / 2 - ScaleForDpi(10, dpi)
                             : screenWidth / 2 + ScaleForDpi(80, dpi);
    if (iconInStyle) width -= iconWidth + ScaleForDpi(16, dpi);
    return width;
}

std::vector<std::wstring> SplitCustomButtons(const wchar_t* text) {
    std::vector<std::wstring> entries;
    if (text == nullptr) return entries;
    const wchar_t* start = text;
    for (;;) {
        const wchar_t* end = start;
        while (*end != L'\0' && *end != L'\n') ++end;
        std::wstring entry(start, end);
        if (!entry.empty() && entry.back() == L'\r') entry.pop_back();
        if (!entry.empty()) {
            entries.push_back(std::move(entry));
            if (static_cast<int>(entries.size()) == kPromptMaxCustomButtons) break;
        }
        if (*end == L'\0') break;
        start = end + 1;
    }
    return entries;
}

PromptButtonRow BuildButtonRow(UINT style, const wchar_t* customButtons, bool hasReport) {
    PromptButtonRow row;
    auto add = [&row](int label, int id) { row.buttons.push_back({label, static_cast<WORD>(id), {}}); };

    const bool hasCustomText = customButtons != nullptr && customButtons[0] != L'\0';
    const std::vector<std::wstring> custom = SplitCustomButtons(customButtons);
    if (!custom.empty()) {
        WORD id = PB_IDCUSTOM1;
        for (const std::wstring& text : custom) row.buttons.push_back({-1, id++, text});
    } else if (hasCustomText) {
        add(kLabelOk, IDOK);
        row.escapeFlags = DF_ESCAPE_OK;
    } else {
        const bool yesToAll = (style & PB_YESTOALL) != 0;
        const bool noToAll = (style & PB_NOTOALL) != 0;
        switch (style & 0x0F) {
            case MB_OK:
                add(kLabelOk, IDOK);
                row.escapeFlags = DF_ESCAPE_OK;
                break;
            case MB_OKCANCEL:
                add(kLabelOk, IDOK);
                add(kLabelCancel, IDCANCEL);
                row.escapeFlags = DF_ESCAPE_CANCEL;
                break;
            case MB_ABORTRETRYIGNORE:
                add(kLabelAbort, IDABORT);
                add(kLabelRetry, IDRETRY);
                add(kLabelIgnore, IDIGNORE);
                break;
            case MB_YESNOCANCEL:
            case MB_YESNO:
                add(kLabelYes, IDYES);
                if (yesToAll) add(kLabelYesToAll, PB_IDYESTOALL);
                add(kLabelNo, IDNO);
                if (noToAll) add(kLabelNoToAll, PB_IDNOTOALL);
                if ((style & 0x0F) == MB_YESNOCANCEL) {
                    add(kLabelCancel, IDCANCEL);
                    row.escapeFlags = DF_ESCAPE_CANCEL;
                }
                break;
            case MB_RETRYCANCEL:
                add(kLabelRetry, IDRETRY);
                add(kLabelCancel, IDCANCEL);
                row.escapeFlags = DF_ESCAPE_CANCEL;
                break;
            case MB_CANCELTRYCONTINUE:
                add(kLabelCancel, IDCANCEL);
                add(kLabelTryAgain, IDTRYAGAIN);
                add(kLabelContinue, IDCONTINUE);
                row.escapeFlags = DF_ESCAPE_CANCEL;
                break;
            case PB_CONTINUEABORT:
                add(kLabelContinue, IDCONTINUE);
                add(kLabelAbort, IDABORT);
                break;
            case PB_SKIPSKIPALLCANCEL:
                add(kLabelSkip, PB_IDSKIP);
                add(kLabelSkipAll, PB_IDSKIPALL);
                add(kLabelCancel, IDCANCEL);
                row.escapeFlags = DF_ESCAPE_CANCEL;
                break;
            case PB_IGNOREIGNOREALLCANCEL:
                add(kLabelIgnore, IDIGNORE);
                add(kLabelIgnoreAll, PB_IDIGNOREALL);
                add(kLabelCancel, IDCANCEL);
                row.escapeFlags = DF_ESCAPE_CANCEL;
                break;
            default:
                // Sets 10 to 15 are not defined: a lone OK that Esc does not answer.
                add(kLabelOk, IDOK);
                break;
        }
    }
    if (style & MB_HELP) add(kLabelHelp, kPromptHelpId);
    if (hasReport) add(kLabelReport, kPromptReportId);
    return row;
}

UINT CheckBoxFlag(UINT style) {
    if (style & PB_DONTASKAGAIN) return DF_ASKAGAIN;
    if (style & PB_DONTTELLAGAIN) return DF_TELLAGAIN;
    if (style & PB_DONTSHOWAGAIN) return DF_SHOWAGAIN;
    return 0;
}

int CheckBoxLabelIndex(UINT checkBoxFlag) {
    if (checkBoxFlag & DF_ASKAGAIN) return kLabelDontAskAgain;
    if (checkBoxFlag & DF_TELLAGAIN) return kLabelDontTellAgain;
    if (checkBoxFlag & DF_SHOWAGAIN) return kLabelDontShowAgain;
    return -1;
}

UINT CheckBoxResultBit(UINT dialogFlags) {
    if (dialogFlags & DF_ASKAGAIN) return PB_DONTASKAGAIN;
    if (dialogFlags & DF_TELLAGAIN) return PB_DONTTELLAGAIN;
    if (dialogFlags & DF_SHOWAGAIN) return PB_DONTSHOWAGAIN;
    return 0;
}

PromptLayout LayOutPrompt(const PromptLayoutInput& in) {
    // A margin of `pixels` at 96 DPI.
    auto m = [&in](int pixels) { return ScaleForDpi(pixels, in.dpi); };
    PromptLayout out;
    const int top = in.modernLook ? m(32) : m(16);
    const int bottomPad = in.modernLook ? m(61) : m(29);
    out.messageRect = {m(16), top, in.textWidth + m(28), in.textHeight + bottomPad};
    int width = in.textWidth + m(28) + (in.modernLook ? m(16) : 0);

    if (in.hasIcon) {
        const int d = in.modernLook ? m(24) : m(8);
        ::OffsetRect(&out.messageRect, in.iconWidth + d, 0);
        width = out.messageRect.right + (in.modernLook ? m(24) : m(8));
        out.iconRect = {d, d, d + in.iconWidth + m(2), d + in.iconHeight + m(2)};
        // A text of several lines starts level with the icon's top.
        if (in.modernLook && in.textHeight > in.lineHeight) {
            ::OffsetRect(&out.messageRect, 0, out.iconRect.top - out.messageRect.top);
        }
    }

    const int gap = m(6);
    int rowWidth = 0;
    for (int buttonWidth : in.buttonWidths) rowWidth += buttonWidth;
    if (!in.buttonWidths.empty()) rowWidth += gap * (static_cast<int>(in.buttonWidths.size()) - 1);

    out.rowTop = std::max(out.messageRect.bottom, out.iconRect.bottom) + m(5);
    if (in.hasIcon || in.hasBackground) out.rowTop += m(9);
    out.height = out.rowTop + in.buttonHeight + m(12);

    width = std::max(width, rowWidth + m(32));
    // The check box's needs are settled before the row is placed, so right-aligned
    // buttons keep their margin and centred ones stay centred.
    if (in.checkWidth > 0) width = std::max(width, in.checkWidth + m(17));
    out.width = width;

    int left = in.rightButtons ? width - rowWidth - m(16) : (width - rowWidth) / 2;
    for (int buttonWidth : in.buttonWidths) {
        out.buttonLefts.push_back(left);
        left += buttonWidth + gap;
    }

    if (in.checkWidth > 0) {
        const int checkTop = out.rowTop + in.buttonHeight + m(12);
        out.checkBoxRect = {m(17), checkTop, m(17) + in.checkWidth, checkTop + in.checkBoxHeight};
        out.height = out.checkBoxRect.bottom + m(8);
    }
    return out;
}
