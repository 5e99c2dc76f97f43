#include "ui/dialog_support.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include "ui/app_globals.h"
#include "resources/resource.h"

void SetDialogIcons(HWND dialog) {
    HICON icon = ::LoadIconW(AppInstance, MAKEINTRESOURCEW(IDI_DIRSHIFT));
    ::SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

HWND CreateSimpleStatusBar(HWND dialog) {
    HWND statusBar = ::CreateStatusWindowW(WS_CHILD | WS_VISIBLE, L"Status", dialog, IDC_STATUS_BAR);
    StatusBarWindow.store(statusBar);
    if (statusBar != nullptr) ::SendMessageW(statusBar, SB_SIMPLE, TRUE, 0);
    return statusBar;
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
