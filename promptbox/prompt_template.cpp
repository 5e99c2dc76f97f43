#include "promptbox/prompt_template.h"

#include <cstddef>
#include <cstring>
#include <cwchar>

namespace {

constexpr DWORD kBoxStyle = 0x90C80880;  // WS_POPUP|WS_VISIBLE|WS_CAPTION|WS_SYSMENU|DS_MODALFRAME|DS_CENTER
constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE;
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kCheckBoxStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX;

size_t RoundUpTo4(size_t bytes) { return (bytes + 3) & ~static_cast<size_t>(3); }

// Header, menu and class words and the title with its terminator.
size_t HeaderBytes(size_t titleLength) { return RoundUpTo4(22 + 2 * (titleLength + 1)); }

// DLGITEMTEMPLATE, class word pair, text with terminator and the creation-data word.
size_t ItemBytes(const CPromptItem& item) { return 18 + 4 + 2 * (item.text.size() + 1) + 2; }

// Writes little-endian words into a fixed buffer and refuses to pass its end.
class TemplateWriter {
public:
    TemplateWriter(BYTE* buffer, size_t size) : buffer_(buffer), size_(size) {}

    bool Word(WORD value) { return Bytes(&value, sizeof(value)); }
    bool Dword(DWORD value) { return Bytes(&value, sizeof(value)); }
    bool Short(short value) { return Bytes(&value, sizeof(value)); }
    bool Text(const wchar_t* text, size_t length) {
        return Bytes(text, length * sizeof(wchar_t)) && Word(0);
    }
    bool AlignTo4() {
        const size_t aligned = RoundUpTo4(offset_);
        if (aligned > size_) return false;
        std::memset(buffer_ + offset_, 0, aligned - offset_);
        offset_ = aligned;
        return true;
    }
    size_t offset() const { return offset_; }

private:
    bool Bytes(const void* data, size_t count) {
        if (count > size_ - offset_) return false;
        if (count != 0) std::memcpy(buffer_ + offset_, data, count);
        offset_ += count;
        return true;
    }

    BYTE* buffer_;
    size_t size_;
    size_t offset_ = 0;
};

void CopyBounded(wchar_t* destination, size_t capacity, const wchar_t* source) {
    const size_t length = wcsnlen(source, capacity - 1);
    std::wmemcpy(destination, source, length);
    destination[length] = L'\0';
}

short ToShort(int value) { return static_cast<short>(value); }

}  // namespace

size_t DialogTemplateByteSize(size_t titleLength, const CPromptItem* const* items, int count) {
    size_t size = HeaderBytes(titleLength);
    for (int i = 0; i < count; ++i) {
        const size_t bytes = ItemBytes(*items[i]);
        size += i + 1 < count ? RoundUpTo4(bytes) : bytes;
    }
    return size;
}

bool WriteDialogTemplate(const DLGTEMPLATE& header, const wchar_t* title, size_t titleLength,
                         const CPromptItem* const* items, int count, BYTE* buffer, size_t size) {
    if (buffer == nullptr || size < DialogTemplateByteSize(titleLength, items, count)) return false;
    TemplateWriter out(buffer, size);
    bool ok = out.Dword(header.style) && out.Dword(header.dwExtendedStyle) && out.Word(header.cdit) &&
              out.Short(header.x) && out.Short(header.y) && out.Short(header.cx) && out.Short(header.cy) &&
              out.Word(0) /* no menu */ && out.Word(0) /* the dialog class */ && out.Text(title, titleLength);
    for (int i = 0; ok && i < count; ++i) {
        const CPromptItem& item = *items[i];
        ok = out.AlignTo4() && out.Dword(item.style) && out.Dword(item.exStyle) && out.Short(item.x) &&
             out.Short(item.y) && out.Short(item.cx) && out.Short(item.cy) && out.Word(item.id) &&
             out.Word(0xFFFF) && out.Word(static_cast<WORD>(item.classAtom)) &&
             out.Text(item.text.c_str(), item.text.size()) && out.Word(0) /* no creation data */;
    }
    return ok;
}

CPromptTemplate::CPromptTemplate(HWND ownerWindow, const wchar_t* textArg, const wchar_t* captionArg, UINT styleBits,
                                 const PromptBoxParams& params)
    : text(new wchar_t[kPromptTextLength]()), caption(new wchar_t[kPromptTextLength]()) {
    owner = ownerWindow;
    style = styleBits;
    TakeOverParameters(params);

    const LONG baseUnits = ::GetDialogBaseUnits();
    if (LOWORD(baseUnits) != 0 && HIWORD(baseUnits) != 0) {
        baseUnitX_ = LOWORD(baseUnits);
        baseUnitY_ = HIWORD(baseUnits);
    }
    const PromptMetrics metrics = ComputePromptMetrics(baseUnitX_, baseUnitY_, modernLook);
    minButtonWidth = metrics.minButtonWidth;
    buttonHeight = metrics.buttonHeight;
    countdownWidth = metrics.countdownWidth;
    checkBoxHeight = metrics.checkBoxHeight;
    defaultButtonNumber = DefaultButtonNumber(style);

    wchar_t reportLabel[kPromptLabelLength] = {};
    LoadTexts(textArg, captionArg, params, reportLabel);
    const HINSTANCE strings = StringsModule();
    FillPromptLabels(labels, reportLabel, params.useCustomLabels != FALSE, params.customLabels,
                     (style & PB_BUILTINLABELS) != 0, [strings](UINT id, wchar_t* buffer, int capacity) {
                         return ::LoadStringW(strings, id, buffer, capacity) > 0;
                     });

    // Everything is measured in the font the controls will show.
    UniqueDc dc(::CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
    NONCLIENTMETRICSW metricsInfo{};
    // The size without the padded-border field, which every version accepts.
    metricsInfo.cbSize = static_cast<UINT>(offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth));
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metricsInfo.cbSize, &metricsInfo, 0)) {
        font.reset(::CreateFontIndirectW(&metricsInfo.lfMessageFont));
    }
    HGDIOBJ previousFont = (dc && font) ? ::SelectObject(dc.get(), font.get()) : nullptr;
    auto textWidth = [&dc](const wchar_t* s) {
        SIZE extent{};
        if (dc) ::GetTextExtentPoint32W(dc.get(), s, static_cast<int>(std::wcslen(s)), &extent);
        return static_cast<int>(extent.cx);
    };

    const bool hasTimeout = timeoutSeconds != 0;
    for (int i = 0; i < kPromptLabelTableSize; ++i) {
        buttonWidths[i] = PromptButtonWidth(textWidth(labels[i]), metrics, hasTimeout);
    }

    const bool iconInStyle = (style & MB_ICONMASK) != 0;
    const int wrapWidth = MessageWrapWidth(::GetSystemMetrics(SM_CXSCREEN), modernLook, narrow, iconInStyle,
                                           ::GetSystemMetrics(SM_CXICON));
    RECT textRect{0, 0, wrapWidth, wrapWidth};
    SIZE lineExtent{};
    if (dc) {
        ::DrawTextW(dc.get(), text.get(), -1, &textRect, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
        ::GetTextExtentPoint32W(dc.get(), L"My", 2, &lineExtent);
    }

    LoadIconForStyle(params);

    const PromptButtonRow row = BuildButtonRow(style, customButtons, reportCallback != nullptr);
    dialogFlags |= row.escapeFlags;
    if (defaultButtonNumber > static_cast<int>(row.buttons.size())) defaultButtonNumber = 1;
    const UINT checkFlag = CheckBoxFlag(style);
    dialogFlags |= checkFlag;
    const int checkLabel = CheckBoxLabelIndex(checkFlag);

    PromptLayoutInput input;
    input.textWidth = textRect.right - textRect.left;
    input.textHeight = textRect.bottom - textRect.top;
    input.lineHeight = lineExtent.cy;
    input.hasIcon = icon != nullptr;
    input.iconWidth = ::GetSystemMetrics(SM_CXICON);
    input.iconHeight = ::GetSystemMetrics(SM_CYICON);
    input.modernLook = modernLook;
    input.rightButtons = rightButtons;
    input.hasBackground = static_cast<bool>(backgroundBrush);
    input.buttonHeight = buttonHeight;
    input.checkBoxHeight = checkBoxHeight;
    std::vector<int> customWidths;
    for (const PromptButtonSpec& button : row.buttons) {
        const int width = button.labelIndex >= 0
                              ? buttonWidths[button.labelIndex]
                              : PromptButtonWidth(textWidth(button.customText.c_str()), metrics, hasTimeout);
        input.buttonWidths.push_back(width);
    }
    input.checkWidth = checkLabel >= 0 ? buttonWidths[checkLabel] + checkBoxHeight : 0;

    if (previousFont != nullptr) ::SelectObject(dc.get(), previousFont);

    const PromptLayout layout = LayOutPrompt(input);
    messageRect = layout.messageRect;

    if (icon != nullptr) AppendItem(kStaticClassAtom, kChildStyle, kPromptIconId, layout.iconRect, L"");
    messageStaticId = nextStaticId++;
    // The message is shown as written: an "&" in a path is not an access key.
    AppendItem(kStaticClassAtom, kChildStyle | SS_NOPREFIX, static_cast<WORD>(messageStaticId), messageRect,
               text.get());
    for (size_t i = 0; i < row.buttons.size(); ++i) {
        const PromptButtonSpec& button = row.buttons[i];
        if (button.labelIndex >= 0) {
            AddButton(button.labelIndex, button.id, layout.buttonLefts[i], layout.rowTop);
        } else {
            AddButtonWithText(button.customText.c_str(), input.buttonWidths[i], button.id, layout.buttonLefts[i],
                              layout.rowTop);
        }
    }
    if (checkLabel >= 0) {
        AppendItem(kButtonClassAtom, kCheckBoxStyle, kPromptCheckBoxId, layout.checkBoxRect, labels[checkLabel]);
    }

    header.style = kBoxStyle | ((style & MB_SYSTEMMODAL) ? DS_SYSMODAL : 0);
    header.dwExtendedStyle = 0;
    header.cdit = static_cast<WORD>(itemCount_);
    header.x = 0;
    header.y = 0;
    header.cx = ToShort(PixelsToDialogUnitsX(layout.width, baseUnitX_));
    header.cy = ToShort(PixelsToDialogUnitsY(layout.height, baseUnitY_));
}

CPromptTemplate::~CPromptTemplate() = default;

void CPromptTemplate::TakeOverParameters(const PromptBoxParams& params) {
    reportCallback = params.reportCallback;
    reportData = params.reportData;
    // A negative count means no countdown at all, never buttons that stay disabled.
    timeoutSeconds = params.timeoutSeconds > 0 ? params.timeoutSeconds : 0;
    disabledSeconds = params.disabledSeconds > 0 ? params.disabledSeconds : 0;
    x = params.x;
    y = params.y;
    messageKey = params.messageKey;
    helpContextId = params.helpContextId;
    moduleName = params.moduleName;
    stringsInstance = params.stringsInstance;
    iconInstance = params.iconInstance;
    textColor = params.textColor;
    backgroundColor = params.backgroundColor;
    CopyBounded(companyName, kPromptFieldLength, params.companyName);
    rightButtons = (params.options & PB_OPT_RIGHTBUTTONS) != 0;
    modernLook = (params.options & PB_OPT_MODERNLOOK) != 0;
    narrow = (params.options & PB_OPT_NARROW) != 0;
    if (modernLook) {
        rightButtons = true;
        if (backgroundColor == CLR_INVALID) backgroundColor = ::GetSysColor(COLOR_WINDOW);
    }
    if (backgroundColor != CLR_INVALID) backgroundBrush.reset(::CreateSolidBrush(backgroundColor));
}

HINSTANCE CPromptTemplate::StringsModule() const {
    return stringsInstance != nullptr ? stringsInstance : ::GetModuleHandleW(nullptr);
}

void CPromptTemplate::LoadTexts(const wchar_t* textArg, const wchar_t* captionArg, const PromptBoxParams& params,
                                wchar_t (&reportLabel)[kPromptLabelLength]) {
    const HINSTANCE strings = StringsModule();
    auto fill = [strings](wchar_t* buffer, const wchar_t* source) {
        if (source == nullptr) return;
        if (IS_INTRESOURCE(source)) {
            const UINT id = static_cast<UINT>(reinterpret_cast<ULONG_PTR>(source));
            if (::LoadStringW(strings, id, buffer, kPromptTextLength - 1) <= 0) buffer[0] = L'\0';
        } else {
            CopyBounded(buffer, kPromptTextLength, source);
        }
    };
    fill(text.get(), textArg);
    fill(caption.get(), captionArg);

    if (params.customButtonsId != 0 &&
        ::LoadStringW(strings, params.customButtonsId, customButtons, kPromptCustomButtonsLength) <= 0) {
        customButtons[0] = L'\0';
    }
    if (customButtons[0] == L'\0') CopyBounded(customButtons, kPromptCustomButtonsLength, params.customButtons);

    if (params.reportCaptionId != 0 &&
        ::LoadStringW(strings, params.reportCaptionId, reportLabel, kPromptLabelLength) <= 0) {
        reportLabel[0] = L'\0';
    }
    if (reportLabel[0] == L'\0') CopyBounded(reportLabel, kPromptLabelLength, params.reportCaption);
}

void CPromptTemplate::LoadIconForStyle(const PromptBoxParams& params) {
    const HINSTANCE module = iconInstance != nullptr ? iconInstance : ::GetModuleHandleW(nullptr);
    // Resource numbers are 16 bits; a larger id would be taken for a string pointer.
    if (params.iconId != 0 && params.iconId <= 0xFFFF) {
        icon = ::LoadIconW(module, MAKEINTRESOURCEW(params.iconId));
        return;
    }
    if (params.iconName[0] != L'\0') {
        wchar_t name[kPromptFieldLength] = {};
        CopyBounded(name, kPromptFieldLength, params.iconName);
        icon = ::LoadIconW(module, name);
        return;
    }
    const wchar_t* systemIcon = nullptr;
    switch (style & MB_ICONMASK) {
        case 0: return;
        case MB_ICONHAND: systemIcon = IDI_HAND; break;
        case MB_ICONQUESTION: systemIcon = IDI_QUESTION; break;
        case MB_ICONASTERISK: systemIcon = IDI_ASTERISK; break;
        default: systemIcon = IDI_EXCLAMATION; break;
    }
    icon = ::LoadIconW(nullptr, systemIcon);
}

CPromptItem* CPromptTemplate::AppendItem(WORD classAtom, DWORD itemStyle, WORD itemId, const RECT& pixels,
                                        const wchar_t* itemText) {
    if (itemCount_ >= kPromptMaxItems) return nullptr;
    auto item = std::make_unique<CPromptItem>();
    item->classAtom = classAtom;
    item->style = itemStyle;
    item->exStyle = 0;
    item->id = itemId;
    item->x = ToShort(PixelsToDialogUnitsX(pixels.left, baseUnitX_));
    item->y = ToShort(PixelsToDialogUnitsY(pixels.top, baseUnitY_));
    item->cx = ToShort(PixelsToDialogUnitsX(pixels.right - pixels.left, baseUnitX_));
    item->cy = ToShort(PixelsToDialogUnitsY(pixels.bottom - pixels.top, baseUnitY_));
    item->text = itemText != nullptr ? itemText : L"";
    items[itemCount_] = std::move(item);
    return items[itemCount_++].get();
}

int CPromptTemplate::AddButton(int labelIndex, WORD id, int left, int top) {
    if (labelIndex < 0 || labelIndex >= kPromptLabelTableSize) return 0;
    return AddButtonWithText(labels[labelIndex], buttonWidths[labelIndex], id, left, top);
}

int CPromptTemplate::AddButtonWithText(const wchar_t* label, int width, WORD id, int left, int top) {
    ++buttonCount;
    DWORD buttonStyle = kButtonStyle;
    if (buttonCount == defaultButtonNumber) {
        buttonStyle |= BS_DEFPUSHBUTTON;
        defaultButtonId = id;
    }
    AppendItem(kButtonClassAtom, buttonStyle, id, RECT{left, top, left + width, top + buttonHeight}, label);
    return width + 6;
}

size_t CPromptTemplate::TemplateByteSize() const {
    const CPromptItem* list[kPromptMaxItems] = {};
    for (int i = 0; i < itemCount_; ++i) list[i] = items[i].get();
    return DialogTemplateByteSize(wcsnlen(caption.get(), kPromptTitleMax), list, itemCount_);
}

bool CPromptTemplate::WriteTemplate(BYTE* buffer, size_t size) const {
    const CPromptItem* list[kPromptMaxItems] = {};
    for (int i = 0; i < itemCount_; ++i) list[i] = items[i].get();
    return WriteDialogTemplate(header, caption.get(), wcsnlen(caption.get(), kPromptTitleMax), list, itemCount_,
                               buffer, size);
}

int CPromptTemplate::ShowModal() {
    const size_t size = TemplateByteSize();
    UniqueLocalMemory memory(::LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, size));
    if (!memory) return IDCANCEL;
    auto* bytes = static_cast<BYTE*>(::LocalLock(memory.get()));
    if (bytes == nullptr) return IDCANCEL;
    if (!WriteTemplate(bytes, size)) {
        ::LocalUnlock(memory.get());
        return IDCANCEL;
    }

    // The owner is disabled before the box exists, so that no click reaches it
    // in the moment the box is already on the screen. Only an owner that this
    // box disabled is enabled again: one that a modal dialog of the caller
    // keeps disabled must stay so.
    const bool disabledOwner = owner != nullptr && ::IsWindow(owner) && !::EnableWindow(owner, FALSE);

    HWND box = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), reinterpret_cast<DLGTEMPLATE*>(bytes),
                                            owner, PromptBoxDlgProc, reinterpret_cast<LPARAM>(this));
    if (box == nullptr) {
        if (disabledOwner && ::IsWindow(owner)) ::EnableWindow(owner, TRUE);
        ::LocalUnlock(memory.get());
        return result;
    }

    MSG message;
    while (!done) {
        if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (done) break;
            ::WaitMessage();
            continue;
        }
        if (message.message == WM_QUIT) {
            // The caller's own loop must see the quit request too.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (message.message == WM_KEYDOWN && CopyMessageBoxText(box, message.wParam)) continue;
        if (!::IsDialogMessageW(box, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }

    if (disabledOwner && ::IsWindow(owner)) ::EnableWindow(owner, TRUE);
    ::DestroyWindow(box);
    ::LocalUnlock(memory.get());
    return result;
}
