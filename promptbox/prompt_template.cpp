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

namespace {

// The dialog base units of the system font at the system DPI. Wine 8 reports the
// height scaled for the DPI twice above 96 DPI (62 instead of 31 at 192), so the
// height is taken from the font itself, which is what Windows reports too.
PromptBaseUnits SystemFontBaseUnits() {
    const LONG units = ::GetDialogBaseUnits();
    PromptBaseUnits base{LOWORD(units) != 0 ? LOWORD(units) : 8, HIWORD(units) != 0 ? HIWORD(units) : 16};
    HDC screen = ::GetDC(nullptr);
    if (screen != nullptr) {
        const HGDIOBJ previous = ::SelectObject(screen, ::GetStockObject(SYSTEM_FONT));
        TEXTMETRICW metrics{};
        if (::GetTextMetricsW(screen, &metrics) && metrics.tmHeight > 0) base.y = metrics.tmHeight;
        ::SelectObject(screen, previous);
        ::ReleaseDC(nullptr, screen);
    }
    return base;
}

// Where a box of this owner or position appears: the owner's monitor, the one at
// the requested position, or the primary monitor, where the dialog manager centres
// a box without owner.
HMONITOR MonitorOfBox(HWND owner, int x, int y) {
    if (owner != nullptr && ::IsWindow(owner)) return ::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST);
    if (x != 0 || y != 0) return ::MonitorFromPoint(POINT{x, y}, MONITOR_DEFAULTTONEAREST);
    return ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
}

int MonitorWidth(HMONITOR monitor) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (monitor != nullptr && ::GetMonitorInfoW(monitor, &info)) return info.rcMonitor.right - info.rcMonitor.left;
    return ::GetSystemMetrics(SM_CXSCREEN);
}

}  // namespace

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
    defaultButtonNumber = DefaultButtonNumber(style);

    wchar_t reportLabel[kPromptLabelLength] = {};
    LoadTexts(textArg, captionArg, params, reportLabel);
    const HINSTANCE strings = StringsModule();
    FillPromptLabels(labels, reportLabel, params.useCustomLabels != FALSE, params.customLabels,
                     (style & PB_BUILTINLABELS) != 0, [strings](UINT id, wchar_t* buffer, int capacity) {
                         return ::LoadStringW(strings, id, buffer, capacity) > 0;
                     });

    // Resource numbers are 16 bits; a larger id would be taken for a string pointer.
    iconId_ = params.iconId <= 0xFFFF ? params.iconId : 0;
    CopyBounded(iconName_, kPromptFieldLength, params.iconName);

    row_ = BuildButtonRow(style, customButtons, reportCallback != nullptr);
    dialogFlags |= row_.escapeFlags;
    if (defaultButtonNumber > static_cast<int>(row_.buttons.size())) defaultButtonNumber = 1;
    const UINT checkFlag = CheckBoxFlag(style);
    dialogFlags |= checkFlag;
    checkLabel_ = CheckBoxLabelIndex(checkFlag);

    // The box is laid out for the DPI of the monitor it is going to appear on.
    monitor_ = MonitorOfBox(owner, x, y);
    const UINT boxDpi = owner != nullptr && ::IsWindow(owner) ? DpiForWindow(owner) : DpiForMonitor(monitor_);
    Scaled scaled = Measure(boxDpi, monitor_);
    hasIconItem_ = static_cast<bool>(scaled.icon);
    laidOut_ = true;
    Adopt(scaled);

    const std::vector<RECT> rects = ItemRects(scaled);
    size_t next = 0;
    if (hasIconItem_) AppendItem(kStaticClassAtom, kChildStyle, kPromptIconId, rects[next++], L"");
    messageStaticId = nextStaticId++;
    // The message is shown as written: an "&" in a path is not an access key.
    AppendItem(kStaticClassAtom, kChildStyle | SS_NOPREFIX, static_cast<WORD>(messageStaticId), rects[next++],
               text.get());
    for (size_t i = 0; i < row_.buttons.size(); ++i) {
        const PromptButtonSpec& button = row_.buttons[i];
        const RECT& r = rects[next++];
        if (button.labelIndex >= 0) {
            AddButton(button.labelIndex, button.id, r.left, r.top);
        } else {
            AddButtonWithText(button.customText.c_str(), r.right - r.left, button.id, r.left, r.top);
        }
    }
    if (checkLabel_ >= 0) {
        AppendItem(kButtonClassAtom, kCheckBoxStyle, kPromptCheckBoxId, rects[next++], labels[checkLabel_]);
    }

    header.style = kBoxStyle | ((style & MB_SYSTEMMODAL) ? DS_SYSMODAL : 0);
    header.dwExtendedStyle = 0;
    header.cdit = static_cast<WORD>(itemCount_);
    header.x = 0;
    header.y = 0;
    header.cx = ToShort(PixelsToDialogUnitsX(clientSize_.cx, baseUnitX_));
    header.cy = ToShort(PixelsToDialogUnitsY(clientSize_.cy, baseUnitY_));
}

CPromptTemplate::Scaled CPromptTemplate::Measure(UINT dpi, HMONITOR monitor) const {
    Scaled scaled;
    scaled.dpi = dpi != 0 ? dpi : kBaseDpi;
    const PromptBaseUnits at96Dpi = BaseUnitsForDpi(SystemFontBaseUnits(), SystemDpi(), kBaseDpi);
    scaled.metrics = ScalePromptMetrics(ComputePromptMetrics(at96Dpi.x, at96Dpi.y, modernLook), scaled.dpi);

    // Everything is measured in the font the controls will show.
    NONCLIENTMETRICSW fonts{};
    if (NonClientFontsForDpi(scaled.dpi, fonts)) scaled.font.reset(::CreateFontIndirectW(&fonts.lfMessageFont));
    UniqueDc dc(::CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
    HGDIOBJ previousFont = (dc && scaled.font) ? ::SelectObject(dc.get(), scaled.font.get()) : nullptr;
    auto textWidth = [&dc](const wchar_t* s) {
        SIZE extent{};
        if (dc) ::GetTextExtentPoint32W(dc.get(), s, static_cast<int>(std::wcslen(s)), &extent);
        return static_cast<int>(extent.cx);
    };

    const bool hasTimeout = timeoutSeconds != 0;
    for (int i = 0; i < kPromptLabelTableSize; ++i) {
        scaled.buttonWidths[i] = PromptButtonWidth(textWidth(labels[i]), scaled.metrics, hasTimeout, scaled.dpi);
    }

    const int iconSize = SystemMetricForDpi(SM_CXICON, scaled.dpi);
    const bool iconInStyle = (style & MB_ICONMASK) != 0;
    const int wrapWidth = MessageWrapWidth(MonitorWidth(monitor != nullptr ? monitor : monitor_), modernLook, narrow,
                                           iconInStyle, iconSize, scaled.dpi);
    RECT textRect{0, 0, wrapWidth, wrapWidth};
    SIZE lineExtent{};
    if (dc) {
        ::DrawTextW(dc.get(), text.get(), -1, &textRect, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
        ::GetTextExtentPoint32W(dc.get(), L"My", 2, &lineExtent);
    }

    if (!laidOut_ || hasIconItem_) scaled.icon = LoadIconOfStyle(iconSize);

    PromptLayoutInput input;
    input.dpi = scaled.dpi;
    input.textWidth = textRect.right - textRect.left;
    input.textHeight = textRect.bottom - textRect.top;
    input.lineHeight = lineExtent.cy;
    // Once the box has an icon item, every later layout keeps its place.
    input.hasIcon = laidOut_ ? hasIconItem_ : static_cast<bool>(scaled.icon);
    input.iconWidth = iconSize;
    input.iconHeight = SystemMetricForDpi(SM_CYICON, scaled.dpi);
    input.modernLook = modernLook;
    input.rightButtons = rightButtons;
    input.hasBackground = static_cast<bool>(backgroundBrush);
    input.buttonHeight = scaled.metrics.buttonHeight;
    input.checkBoxHeight = scaled.metrics.checkBoxHeight;
    for (const PromptButtonSpec& button : row_.buttons) {
        const int width = button.labelIndex >= 0 ? scaled.buttonWidths[button.labelIndex]
                                                 : PromptButtonWidth(textWidth(button.customText.c_str()),
                                                                     scaled.metrics, hasTimeout, scaled.dpi);
        scaled.rowWidths.push_back(width);
    }
    input.buttonWidths = scaled.rowWidths;
    input.checkWidth = checkLabel_ >= 0 ? scaled.buttonWidths[checkLabel_] + scaled.metrics.checkBoxHeight : 0;

    if (previousFont != nullptr) ::SelectObject(dc.get(), previousFont);
    scaled.layout = LayOutPrompt(input);
    return scaled;
}

void CPromptTemplate::Adopt(Scaled& scaled) {
    dpi_ = scaled.dpi;
    font = std::move(scaled.font);
    ownedIcon_ = std::move(scaled.icon);
    icon = ownedIcon_.get();
    minButtonWidth = scaled.metrics.minButtonWidth;
    buttonHeight = scaled.metrics.buttonHeight;
    countdownWidth = scaled.metrics.countdownWidth;
    checkBoxHeight = scaled.metrics.checkBoxHeight;
    for (int i = 0; i < kPromptLabelTableSize; ++i) buttonWidths[i] = scaled.buttonWidths[i];
    messageRect = scaled.layout.messageRect;
    clientSize_ = SIZE{scaled.layout.width, scaled.layout.height};
}

// The items' rectangles in template order: icon, message, the buttons left to
// right, check box.
std::vector<RECT> CPromptTemplate::ItemRects(const Scaled& scaled) const {
    const PromptLayout& layout = scaled.layout;
    std::vector<RECT> rects;
    if (hasIconItem_) rects.push_back(layout.iconRect);
    rects.push_back(layout.messageRect);
    for (size_t i = 0; i < scaled.rowWidths.size(); ++i) {
        const int left = layout.buttonLefts[i];
        rects.push_back(RECT{left, layout.rowTop, left + scaled.rowWidths[i], layout.rowTop + scaled.metrics.buttonHeight});
    }
    if (checkLabel_ >= 0) rects.push_back(layout.checkBoxRect);
    return rects;
}

RECT CPromptTemplate::ItemRect(int index) const {
    return index >= 0 && index < itemCount_ ? itemRects_[index] : RECT{};
}

PromptRetired CPromptTemplate::RelayOutForDpi(UINT newDpi, HMONITOR monitor) {
    if (monitor != nullptr) monitor_ = monitor;
    Scaled scaled = Measure(newDpi, monitor_);
    PromptRetired retired;
    retired.font = std::move(font);
    retired.icon = std::move(ownedIcon_);
    Adopt(scaled);
    const std::vector<RECT> rects = ItemRects(scaled);
    for (int i = 0; i < itemCount_ && i < static_cast<int>(rects.size()); ++i) PlaceItem(i, rects[static_cast<size_t>(i)]);
    header.cx = ToShort(PixelsToDialogUnitsX(clientSize_.cx, baseUnitX_));
    header.cy = ToShort(PixelsToDialogUnitsY(clientSize_.cy, baseUnitY_));
    return retired;
}

SIZE CPromptTemplate::ClientSizeForDpi(UINT newDpi, HMONITOR monitor) const {
    const Scaled scaled = Measure(newDpi, monitor);
    return SIZE{scaled.layout.width, scaled.layout.height};
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

UniqueIcon CPromptTemplate::LoadIconOfStyle(int size) const {
    const HINSTANCE module = iconInstance != nullptr ? iconInstance : ::GetModuleHandleW(nullptr);
    if (iconId_ != 0) return UniqueIcon(LoadIconOfSize(module, MAKEINTRESOURCEW(iconId_), size));
    if (iconName_[0] != L'\0') return UniqueIcon(LoadIconOfSize(module, iconName_, size));
    const wchar_t* systemIcon = nullptr;
    switch (style & MB_ICONMASK) {
        case 0: return UniqueIcon();
        case MB_ICONHAND: systemIcon = IDI_HAND; break;
        case MB_ICONQUESTION: systemIcon = IDI_QUESTION; break;
        case MB_ICONASTERISK: systemIcon = IDI_ASTERISK; break;
        default: systemIcon = IDI_EXCLAMATION; break;
    }
    return UniqueIcon(LoadIconOfSize(nullptr, systemIcon, size));
}

CPromptItem* CPromptTemplate::AppendItem(WORD classAtom, DWORD itemStyle, WORD itemId, const RECT& pixels,
                                        const wchar_t* itemText) {
    if (itemCount_ >= kPromptMaxItems) return nullptr;
    auto item = std::make_unique<CPromptItem>();
    item->classAtom = classAtom;
    item->style = itemStyle;
    item->exStyle = 0;
    item->id = itemId;
    item->text = itemText != nullptr ? itemText : L"";
    items[itemCount_] = std::move(item);
    PlaceItem(itemCount_, pixels);
    return items[itemCount_++].get();
}

void CPromptTemplate::PlaceItem(int index, const RECT& pixels) {
    CPromptItem& item = *items[index];
    itemRects_[index] = pixels;
    item.x = ToShort(PixelsToDialogUnitsX(pixels.left, baseUnitX_));
    item.y = ToShort(PixelsToDialogUnitsY(pixels.top, baseUnitY_));
    item.cx = ToShort(PixelsToDialogUnitsX(pixels.right - pixels.left, baseUnitX_));
    item.cy = ToShort(PixelsToDialogUnitsY(pixels.bottom - pixels.top, baseUnitY_));
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
    return width + ScaleForDpi(6, dpi_);
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
