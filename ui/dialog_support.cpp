#include "ui/dialog_support.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>

#include "base/dpi.h"
#include "base/unique_resource.h"
#include "ui/app_globals.h"
#include "resources/resource.h"

namespace {

// What a dialog sizes for its DPI and owns until it is destroyed; kept in a window
// property of the dialog.
struct DialogScale {
    UINT dpi = kBaseDpi;
    UniqueIcon bigIcon;
    UniqueIcon smallIcon;
    UniqueFont statusFont;
};

constexpr wchar_t kScaleProperty[] = L"Dirshift.DialogScale";

DialogScale* FindScale(HWND dialog) { return static_cast<DialogScale*>(::GetPropW(dialog, kScaleProperty)); }

// The dialog's scale, made on first use; null only when the property cannot be
// set, and the dialog then keeps the system's default icons and status font.
DialogScale* ScaleOf(HWND dialog) {
    if (DialogScale* scale = FindScale(dialog)) return scale;
    auto scale = std::make_unique<DialogScale>();
    scale->dpi = DpiForWindow(dialog);
    if (!::SetPropW(dialog, kScaleProperty, scale.get())) return nullptr;
    return scale.release();
}

void SizeIcons(HWND dialog, DialogScale& scale) {
    UniqueIcon big(LoadIconOfSize(AppInstance, MAKEINTRESOURCEW(IDI_DIRSHIFT), SystemMetricForDpi(SM_CXICON, scale.dpi)));
    UniqueIcon small(
        LoadIconOfSize(AppInstance, MAKEINTRESOURCEW(IDI_DIRSHIFT), SystemMetricForDpi(SM_CXSMICON, scale.dpi)));
    ::SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.get()));
    ::SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.get()));
    // The icons shown until now are freed only once the window no longer uses them.
    scale.bigIcon = std::move(big);
    scale.smallIcon = std::move(small);
}

// The status bar takes its height from its font; WM_SIZE makes it fit the dialog again.
void SizeStatusBar(HWND statusBar, DialogScale& scale) {
    if (statusBar == nullptr) return;
    NONCLIENTMETRICSW metrics{};
    UniqueFont font;
    if (NonClientFontsForDpi(scale.dpi, metrics)) font.reset(::CreateFontIndirectW(&metrics.lfStatusFont));
    if (!font) return;
    ::SendMessageW(statusBar, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    ::SendMessageW(statusBar, WM_SIZE, 0, 0);
    scale.statusFont = std::move(font);
}

}  // namespace

void SetDialogIcons(HWND dialog) {
    if (DialogScale* scale = ScaleOf(dialog)) SizeIcons(dialog, *scale);
}

HWND CreateSimpleStatusBar(HWND dialog) {
    HWND statusBar = ::CreateStatusWindowW(WS_CHILD | WS_VISIBLE, L"Status", dialog, IDC_STATUS_BAR);
    StatusBarWindow.store(statusBar);
    if (statusBar != nullptr) {
        ::SendMessageW(statusBar, SB_SIMPLE, TRUE, 0);
        if (DialogScale* scale = ScaleOf(dialog)) SizeStatusBar(statusBar, *scale);
    }
    return statusBar;
}

UINT DialogDpi(HWND dialog) {
    const DialogScale* scale = FindScale(dialog);
    return scale != nullptr ? scale->dpi : DpiForWindow(dialog);
}

UINT OnDialogDpiChanged(HWND dialog, UINT newDpi, const RECT& suggested) {
    ::SetWindowPos(dialog, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    DialogScale* scale = ScaleOf(dialog);
    if (scale == nullptr) return newDpi;
    const UINT oldDpi = scale->dpi;
    scale->dpi = newDpi != 0 ? newDpi : DpiForWindow(dialog);
    SizeIcons(dialog, *scale);
    SizeStatusBar(::GetDlgItem(dialog, IDC_STATUS_BAR), *scale);
    return oldDpi;
}

void FitStatusBar(HWND dialog) {
    if (HWND statusBar = ::GetDlgItem(dialog, IDC_STATUS_BAR)) ::SendMessageW(statusBar, WM_SIZE, 0, 0);
}

void ReleaseDialogResources(HWND dialog) {
    std::unique_ptr<DialogScale> scale(static_cast<DialogScale*>(::RemovePropW(dialog, kScaleProperty)));
    if (!scale) return;
    // Nothing may go on using what is freed here.
    ::SendMessageW(dialog, WM_SETICON, ICON_BIG, 0);
    ::SendMessageW(dialog, WM_SETICON, ICON_SMALL, 0);
    if (HWND statusBar = ::GetDlgItem(dialog, IDC_STATUS_BAR)) ::SendMessageW(statusBar, WM_SETFONT, 0, FALSE);
}

void SetStatusText(HWND statusBar, const wchar_t* text) {
    if (statusBar == nullptr) return;
    ::SendMessageW(statusBar, SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(text));
}

bool BrowseForFolder(const wchar_t* title, UINT flags, wchar_t (&path)[MAX_PATH]) {
    wchar_t displayName[MAX_PATH] = L"";
    BROWSEINFOW info = {};
    info.hwndOwner = nullptr;
    info.pidlRoot = nullptr;
    info.pszDisplayName = displayName;
    info.lpszTitle = title;
    info.ulFlags = flags;

    PIDLIST_ABSOLUTE picked = ::SHBrowseForFolderW(&info);
    if (picked == nullptr) return false;

    wchar_t pickedPath[MAX_PATH] = L"";
    const bool hasPath = ::SHGetPathFromIDListW(picked, pickedPath) != FALSE;
    ::CoTaskMemFree(picked);
    if (!hasPath) return false;
    ::lstrcpynW(path, pickedPath, MAX_PATH);
    return true;
}

bool ReadControlText(HWND dialog, int controlId, wchar_t* buffer, int capacity) {
    if (capacity <= 0) return false;
    buffer[0] = L'\0';
    HWND control = ::GetDlgItem(dialog, controlId);
    if (control == nullptr) return false;
    if (::GetWindowTextLengthW(control) >= capacity) return false;
    ::GetWindowTextW(control, buffer, capacity);
    return true;
}

std::wstring ReadWholeControlText(HWND dialog, int controlId) {
    HWND control = ::GetDlgItem(dialog, controlId);
    if (control == nullptr) return std::wstring();
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    const int length = ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
    text.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return text;
}

ControlsHeld::ControlsHeld(HWND dialog) : dialog_(dialog), focus_(::GetFocus()) {
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        const int id = ::GetDlgCtrlID(child);
        if (id == IDCANCEL || id == IDC_STATUS_BAR || !::IsWindowEnabled(child)) continue;
        ::EnableWindow(child, FALSE);
        disabled_.push_back(child);
    }
    HWND cancel = ::GetDlgItem(dialog, IDCANCEL);
    if (cancel != nullptr) ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(cancel), TRUE);
}

ControlsHeld::~ControlsHeld() {
    for (HWND child : disabled_) ::EnableWindow(child, TRUE);
    if (focus_ != nullptr && ::IsWindow(focus_) && ::IsWindowEnabled(focus_)) {
        ::SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus_), TRUE);
    }
}

std::wstring GroupedDigits(unsigned long long number) {
    std::wstring digits = std::to_wstring(number);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, L',');
    return digits;
}
