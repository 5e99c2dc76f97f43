// The message box's dialog, built without any dialog resource: CPromptTemplate
// loads and measures the texts, lays the box out, writes an in-memory DLGTEMPLATE
// and runs the box in a modal loop of its own; CPromptItem is one control of it.
// The dialog procedure reads and writes the template's public fields while the box
// is up; those fields are the contract between the builder and the procedure.
//
// The box is laid out in pixels for the DPI of the monitor it appears on: font,
// icon, base units and margins. The dialog units of the template only bring the
// window up; the procedure then puts every control on its pixel rectangle, and
// lays the box out again when it lands on, or moves to, a monitor of another scale.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/unique_resource.h"
#include "promptbox/prompt_box.h"
#include "promptbox/prompt_layout.h"

constexpr WORD kButtonClassAtom = 0x0080;
constexpr WORD kStaticClassAtom = 0x0082;
constexpr int kPromptMaxItems = 20;
// Message text and caption buffers: at most 65,535 characters and the terminator.
constexpr int kPromptTextLength = 65536;
// The title written into the template.
constexpr size_t kPromptTitleMax = 1023;

// One control of the template. The fields from `style` to `id` are those of
// DLGITEMTEMPLATE, in pixels converted to dialog units.
class CPromptItem {
public:
    CPromptItem() = default;
    virtual ~CPromptItem() = default;
    CPromptItem(const CPromptItem&) = delete;
    CPromptItem& operator=(const CPromptItem&) = delete;

    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0;
    short y = 0;
    short cx = 0;
    short cy = 0;
    WORD id = 0;
    DWORD classAtom = kButtonClassAtom;
    std::wstring text;
};

// Bytes of a template with that title length and those items: the header block
// and every item but the last rounded up to four bytes.
size_t DialogTemplateByteSize(size_t titleLength, const CPromptItem* const* items, int count);

// Writes the header (no menu, the dialog class, the title, no font block) and the
// items into `buffer`; false, writing nothing beyond `size`, when it does not fit.
bool WriteDialogTemplate(const DLGTEMPLATE& header, const wchar_t* title, size_t titleLength,
                         const CPromptItem* const* items, int count, BYTE* buffer, size_t size);

// The font and icon of a layout that the box no longer shows; freed once the
// controls have been given the new ones.
struct PromptRetired {
    UniqueFont font;
    UniqueIcon icon;
};

class CPromptTemplate {
public:
    // `text` and `caption` are strings or string resource numbers (MAKEINTRESOURCEW);
    // a null text leaves the message empty. Builds every item and the header.
    CPromptTemplate(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style,
                    const PromptBoxParams& params);
    virtual ~CPromptTemplate();
    CPromptTemplate(const CPromptTemplate&) = delete;
    CPromptTemplate& operator=(const CPromptTemplate&) = delete;

    // Shows the box and returns its result: the pressed button's id with the
    // check-box and time-out bits, 2 when no template memory could be had, -1 when
    // the window could not be created or WM_QUIT came before any button.
    int ShowModal();

    // Appends a push button with the label of that index at (x, y) in pixels and
    // returns the advance to the next button (its width + 6, scaled for the DPI).
    int AddButton(int labelIndex, WORD id, int left, int top);

    // The DPI the box is laid out for, and the box's client size in pixels.
    UINT Dpi() const { return dpi_; }
    SIZE ClientSize() const { return clientSize_; }
    // Where item `index` (in template order) stands, in client pixels.
    RECT ItemRect(int index) const;

    // Lays the box out for `dpi` on `monitor` (null: where it is now): new font,
    // icon, button widths, message rectangle and item rectangles. The font and
    // icon the controls still show are handed back, to be freed once replaced.
    PromptRetired RelayOutForDpi(UINT dpi, HMONITOR monitor);

    // The client size the box would have at `dpi` on `monitor`.
    SIZE ClientSizeForDpi(UINT dpi, HMONITOR monitor) const;

    // The template image ShowModal hands to the dialog manager.
    size_t TemplateByteSize() const;
    bool WriteTemplate(BYTE* buffer, size_t size) const;
    int ItemCount() const { return itemCount_; }

    std::unique_ptr<CPromptItem> items[kPromptMaxItems];
    PromptReportCallback reportCallback = nullptr;
    UINT32 reportData = 0;
    UINT dialogFlags = 0;
    int buttonCount = 0;
    int defaultButtonNumber = 1;
    int timeoutSeconds = 0;
    int disabledSeconds = 0;
    int x = 0;
    int y = 0;
    int minButtonWidth = 0;
    int countdownWidth = 0;
    int buttonHeight = 0;
    int checkBoxHeight = 0;
    int result = -1;
    INT32 messageKey = 0;
    UINT nextStaticId = kPromptFirstMessageId;
    UINT defaultButtonId = IDOK;
    UINT32 helpContextId = 0;
    UINT style = 0;
    UINT messageStaticId = 0;
    bool rightButtons = false;
    bool modernLook = false;
    bool narrow = false;
    bool done = false;
    const wchar_t* moduleName = nullptr;
    HWND owner = nullptr;
    HINSTANCE stringsInstance = nullptr;
    HINSTANCE iconInstance = nullptr;
    RECT messageRect{};
    std::unique_ptr<wchar_t[]> text;
    std::unique_ptr<wchar_t[]> caption;
    wchar_t customButtons[kPromptCustomButtonsLength] = {};
    wchar_t companyName[kPromptFieldLength] = {};
    // The icon shown, sized for the DPI (owned by the template).
    HICON icon = nullptr;
    UniqueFont font;
    COLORREF textColor = CLR_INVALID;
    COLORREF backgroundColor = CLR_INVALID;
    UniqueBrush backgroundBrush;
    DLGTEMPLATE header{};
    wchar_t savedDefaultLabel[kPromptLabelLength] = {};
    int buttonWidths[kPromptLabelTableSize] = {};
    PromptLabelTexts labels = {};

private:
    // Everything of a layout that depends on the DPI.
    struct Scaled {
        UINT dpi = kBaseDpi;
        UniqueFont font;
        UniqueIcon icon;
        PromptMetrics metrics{};
        int buttonWidths[kPromptLabelTableSize] = {};
        std::vector<int> rowWidths;  // the row's buttons, left to right
        PromptLayout layout;
    };

    void TakeOverParameters(const PromptBoxParams& params);
    void LoadTexts(const wchar_t* textArg, const wchar_t* captionArg, const PromptBoxParams& params,
                   wchar_t (&reportLabel)[kPromptLabelLength]);
    HINSTANCE StringsModule() const;
    UniqueIcon LoadIconOfStyle(int size) const;
    Scaled Measure(UINT dpi, HMONITOR monitor) const;
    void Adopt(Scaled& scaled);
    std::vector<RECT> ItemRects(const Scaled& scaled) const;
    CPromptItem* AppendItem(WORD classAtom, DWORD itemStyle, WORD itemId, const RECT& pixels, const wchar_t* itemText);
    void PlaceItem(int index, const RECT& pixels);
    int AddButtonWithText(const wchar_t* label, int width, WORD id, int left, int top);

    int itemCount_ = 0;
    // The system's dialog base units, with which the dialog manager turns the
    // template's dialog units into pixels.
    int baseUnitX_ = 8;
    int baseUnitY_ = 16;
    UINT dpi_ = kBaseDpi;
    HMONITOR monitor_ = nullptr;
    SIZE clientSize_{};
    RECT itemRects_[kPromptMaxItems] = {};
    UniqueIcon ownedIcon_;
    bool laidOut_ = false;
    bool hasIconItem_ = false;  // an icon was asked for and could be loaded
    UINT iconId_ = 0;
    wchar_t iconName_[kPromptFieldLength] = {};
    PromptButtonRow row_;
    int checkLabel_ = -1;
};

// The box's dialog procedure; lParam of WM_INITDIALOG is the CPromptTemplate.
INT_PTR CALLBACK PromptBoxDlgProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);

// Offered every WM_KEYDOWN of the modal loop: Ctrl+C copies the box as text and
// takes the key (true); any other key goes on to normal processing (false).
bool CopyMessageBoxText(HWND box, WPARAM keyCode);

// Puts one string on the clipboard as CF_UNICODETEXT; failures are silent (false).
// The clipboard is opened for `owner` (the box): data set while no window owns the
// clipboard may be refused.
bool PutTextOnClipboard(const wchar_t* text, HWND owner = nullptr);

// Window procedure of the icon control: paints the icon kept in its user data.
LRESULT CALLBACK IconStaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
