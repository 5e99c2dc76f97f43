// The box's behaviour while it is up: fonts, focus and placement, the time-out and
// disabled-period countdowns, the coloured message band, buttons, Esc and the close
// box, the remembered answer, Help, Report and the clipboard copy.
#include <cwchar>
#include <string>
#include <vector>

#include "base/dpi.h"
#include "promptbox/prompt_template.h"
#include "promptbox/prompt_text.h"
#include "promptbox/remembered_answers.h"

namespace {

constexpr UINT_PTR kTimeoutTimer = 1;
constexpr UINT_PTR kDisabledTimer = 2;
constexpr UINT kTickMs = 1000;
constexpr int kFirstButtonId = 1;
constexpr int kLastButtonId = PB_IDCUSTOM4;

CPromptTemplate* TemplateOf(HWND box) {
    return reinterpret_cast<CPromptTemplate*>(::GetWindowLongPtrW(box, GWLP_USERDATA));
}

bool IsButtonClass(HWND control) {
    wchar_t name[258] = L"";
    ::GetClassNameW(control, name, 258);
    return ::lstrcmpiW(name, L"Button") == 0;
}

void SetCloseItem(HWND box, bool enabled) {
    ::EnableMenuItem(::GetSystemMenu(box, FALSE), SC_CLOSE, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

bool IsCloseItemGrayed(HWND box) {
    const UINT state = ::GetMenuState(::GetSystemMenu(box, FALSE), SC_CLOSE, MF_BYCOMMAND);
    return state != static_cast<UINT>(-1) && (state & (MF_GRAYED | MF_DISABLED)) != 0;
}

std::wstring WindowTextOf(HWND window, int maxLength) {
    std::vector<wchar_t> buffer(static_cast<size_t>(maxLength) + 1, L'\0');
    const int copied = ::GetWindowTextW(window, buffer.data(), maxLength + 1);
    return std::wstring(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

std::wstring ExecutablePath() {
    std::vector<wchar_t> buffer(32768, L'\0');
    const DWORD copied = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (copied == 0 || copied >= buffer.size()) return {};
    return std::wstring(buffer.data(), copied);
}

void SendFont(HWND control, HFONT font) {
    if (control != nullptr && font != nullptr) ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

// Stops the countdown for good and gives the default button its own label back.
void StopTimeout(HWND box, CPromptTemplate& prompt) {
    ::KillTimer(box, kTimeoutTimer);
    if (prompt.savedDefaultLabel[0] != L'\0') {
        if (HWND button = ::GetDlgItem(box, prompt.defaultButtonId)) ::SetWindowTextW(button, prompt.savedDefaultLabel);
    }
}

void SetButtonsEnabled(HWND box, bool enabled) {
    for (int id = kFirstButtonId; id <= kLastButtonId; ++id) {
        HWND control = ::GetDlgItem(box, id);
        if (control != nullptr && IsButtonClass(control)) ::EnableWindow(control, enabled ? TRUE : FALSE);
    }
}

// Centres the box on its owner, kept inside the work area of the owner's monitor. A
// minimised or hidden owner has no useful place: the box then stays where the
// dialog manager centred it.
void PlaceBox(HWND box, const CPromptTemplate& prompt) {
    RECT boxRect{};
    ::GetWindowRect(box, &boxRect);
    const int width = boxRect.right - boxRect.left;
    const int height = boxRect.bottom - boxRect.top;
    if (prompt.x != 0 || prompt.y != 0) {
        ::MoveWindow(box, prompt.x, prompt.y, width, height, TRUE);
        return;
    }
    HWND parent = ::GetParent(box);
    if (parent == nullptr || ::IsIconic(parent) || !::IsWindowVisible(parent)) return;
    RECT parentRect{};
    ::GetWindowRect(parent, &parentRect);
    int left = (parentRect.left + parentRect.right) / 2 - width / 2;
    int top = (parentRect.top + parentRect.bottom) / 2 - height / 2;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (::GetMonitorInfoW(::MonitorFromWindow(parent, MONITOR_DEFAULTTONEAREST), &monitor)) {
        const RECT& work = monitor.rcWork;
        if (left + width > work.right) left = work.right - width;
        if (top + height > work.bottom) top = work.bottom - height;
        if (left < work.left) left = work.left;
        if (top < work.top) top = work.top;
    }
    ::MoveWindow(box, left, top, width, height, TRUE);
}

// Puts every control on its pixel rectangle of the current layout and gives the
// box the layout's client size: at `topLeft` when given, else around the centre
// it has now (where the dialog manager centred it).
void ApplyLayout(HWND box, const CPromptTemplate& prompt, const POINT* topLeft) {
    for (int i = 0; i < prompt.ItemCount(); ++i) {
        HWND control = ::GetDlgItem(box, prompt.items[i]->id);
        if (control == nullptr) continue;
        const RECT r = prompt.ItemRect(i);
        ::MoveWindow(control, r.left, r.top, r.right - r.left, r.bottom - r.top, FALSE);
    }
    RECT window{};
    RECT client{};
    ::GetWindowRect(box, &window);
    ::GetClientRect(box, &client);
    const int width = prompt.ClientSize().cx + (window.right - window.left) - client.right;
    const int height = prompt.ClientSize().cy + (window.bottom - window.top) - client.bottom;
    const int left = topLeft != nullptr ? topLeft->x : (window.left + window.right) / 2 - width / 2;
    const int top = topLeft != nullptr ? topLeft->y : (window.top + window.bottom) / 2 - height / 2;
    ::SetWindowPos(box, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    ::InvalidateRect(box, nullptr, TRUE);
}

// The message font and the icon of the current layout, to the controls that show them.
void ApplyFontAndIcon(HWND box, const CPromptTemplate& prompt) {
    for (int i = 0; i < prompt.ItemCount(); ++i) {
        if (prompt.items[i]->id == kPromptIconId) continue;
        SendFont(::GetDlgItem(box, prompt.items[i]->id), prompt.font.get());
    }
    if (HWND iconControl = ::GetDlgItem(box, kPromptIconId)) {
        ::SetWindowLongPtrW(iconControl, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(prompt.icon));
    }
}

INT_PTR OnInitDialog(HWND box, CPromptTemplate* prompt) {
    ::SetWindowLongPtrW(box, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(prompt));
    if (prompt == nullptr) return TRUE;
    // The box lays itself out for its DPI, also when it changes.
    KeepDialogManagerFromRescaling(box);
    PromptRetired retired;
    const UINT boxDpi = DpiForWindow(box);
    if (boxDpi != prompt->Dpi()) retired = prompt->RelayOutForDpi(boxDpi, ::MonitorFromWindow(box, MONITOR_DEFAULTTONEAREST));
    const HFONT font = prompt->font.get();

    for (UINT id = kPromptFirstMessageId; id < prompt->nextStaticId; ++id) {
        HWND control = ::GetDlgItem(box, static_cast<int>(id));
        if (control == nullptr) break;
        SendFont(control, font);
    }
    for (int id = kFirstButtonId; id <= kLastButtonId; ++id) {
        HWND control = ::GetDlgItem(box, id);
        if (control == nullptr) continue;
        SendFont(control, font);
        if (prompt->disabledSeconds != 0 && IsButtonClass(control)) {
            ::EnableWindow(control, FALSE);
            SetCloseItem(box, false);
        }
    }
    SendFont(::GetDlgItem(box, kPromptHelpId), font);
    if (HWND checkBox = ::GetDlgItem(box, kPromptCheckBoxId)) {
        SendFont(checkBox, font);
        ::CheckDlgButton(box, kPromptCheckBoxId, BST_UNCHECKED);
    }
    SendFont(::GetDlgItem(box, kPromptReportId), font);

    if (HWND defaultButton = ::GetDlgItem(box, prompt->defaultButtonId)) ::SetFocus(defaultButton);
    if ((prompt->dialogFlags & (DF_ESCAPE_CANCEL | DF_ESCAPE_OK)) == 0) SetCloseItem(box, false);

    if (prompt->icon != nullptr) {
        if (HWND iconControl = ::GetDlgItem(box, kPromptIconId)) {
            ::SetWindowLongPtrW(iconControl, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(IconStaticProc));
            ::SetWindowLongPtrW(iconControl, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(prompt->icon));
        }
    }

    ApplyLayout(box, *prompt, nullptr);

    if (prompt->style & MB_TOPMOST) ::SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    if (prompt->style & MB_SETFOREGROUND) ::SetForegroundWindow(box);
    PlaceBox(box, *prompt);

    if (prompt->timeoutSeconds > 0) ::SetTimer(box, kTimeoutTimer, kTickMs, nullptr);
    if (prompt->disabledSeconds > 0) ::SetTimer(box, kDisabledTimer, kTickMs, nullptr);
    ::SetForegroundWindow(box);
    return FALSE;  // the focus is set
}

INT_PTR OnEraseBackground(HWND box, const CPromptTemplate& prompt, HDC dc) {
    if (!prompt.backgroundBrush) return FALSE;
    RECT client{};
    ::GetClientRect(box, &client);
    UniqueBrush face(::CreateSolidBrush(::GetSysColor(COLOR_BTNFACE)));
    ::FillRect(dc, &client, face.get());
    RECT band = client;
    band.bottom = prompt.messageRect.bottom;
    ::FillRect(dc, &band, prompt.backgroundBrush.get());
    ::SetWindowLongPtrW(box, DWLP_MSGRESULT, TRUE);
    return TRUE;
}

INT_PTR OnColorStatic(HWND box, const CPromptTemplate& prompt, HDC dc, HWND control) {
    if (!prompt.backgroundBrush) return FALSE;
    ::SetBkColor(dc, prompt.backgroundColor == CLR_INVALID ? ::GetSysColor(COLOR_WINDOW) : prompt.backgroundColor);
    ::SetTextColor(dc, prompt.textColor == CLR_INVALID ? ::GetSysColor(COLOR_WINDOWTEXT) : prompt.textColor);
    if (control == ::GetDlgItem(box, static_cast<int>(prompt.messageStaticId))) {
        return reinterpret_cast<INT_PTR>(prompt.backgroundBrush.get());
    }
    return FALSE;
}

void ShowHelp(HWND box, const CPromptTemplate& prompt) {
    const std::wstring helpFile = HelpFilePathFor(ExecutablePath());
    if (helpFile.empty()) return;
    if (prompt.helpContextId != 0) {
        ::WinHelpW(box, helpFile.c_str(), HELP_CONTEXT, prompt.helpContextId);
    } else {
        // The keyword is a string: an empty one opens the index.
        static const wchar_t kNoKeyword[] = L"";
        ::WinHelpW(box, helpFile.c_str(), HELP_PARTIALKEY, reinterpret_cast<ULONG_PTR>(kNoKeyword));
    }
}

// A press that a user could not have made: its button is disabled (the disabled
// period), or it is Esc/close while the close item is grey.
bool IsBlockedUserCommand(HWND box, WPARAM command) {
    if (command & PB_TIMEDOUT) return false;
    if (command == IDCANCEL && IsCloseItemGrayed(box)) {
        HWND cancel = ::GetDlgItem(box, IDCANCEL);
        return cancel == nullptr || !::IsWindowEnabled(cancel);
    }
    HWND control = ::GetDlgItem(box, static_cast<int>(LOWORD(command)));
    return control != nullptr && HIWORD(command) == BN_CLICKED && !::IsWindowEnabled(control);
}

void FinishWithAnswer(HWND box, CPromptTemplate& prompt, UINT32 answer) {
    const bool ticked = ::GetDlgItem(box, kPromptCheckBoxId) != nullptr &&
                        ::SendDlgItemMessageW(box, kPromptCheckBoxId, BM_GETCHECK, 0, 0) != 0;
    if (ticked) {
        answer |= CheckBoxResultBit(prompt.dialogFlags);
        if (prompt.moduleName != nullptr && prompt.moduleName[0] != L'\0') {
            const std::wstring valueName = RememberedAnswerValueName(prompt.moduleName, prompt.messageKey);
            WriteRememberedAnswer(prompt.companyName, valueName.c_str(), answer);
        }
    }
    prompt.result = static_cast<int>(answer);
    prompt.done = true;
}

INT_PTR OnCommand(HWND box, CPromptTemplate& prompt, WPARAM command) {
    StopTimeout(box, prompt);
    if (IsBlockedUserCommand(box, command)) return FALSE;
    switch (command) {
        case IDCANCEL:
            // Esc, the close box and Cancel never store an answer.
            if (prompt.dialogFlags & DF_ESCAPE_CANCEL) {
                prompt.result = IDCANCEL;
                prompt.done = true;
            } else if (prompt.dialogFlags & DF_ESCAPE_OK) {
                prompt.result = IDOK;
                prompt.done = true;
            }
            return FALSE;
        case IDCLOSE:
            return TRUE;
        case kPromptHelpId:
            ShowHelp(box, prompt);
            return FALSE;
        case kPromptReportId:
            if (prompt.reportCallback != nullptr) prompt.reportCallback(prompt.text.get(), prompt.reportData);
            return FALSE;
        case kPromptCheckBoxId:
            return FALSE;
        default:
            FinishWithAnswer(box, prompt, static_cast<UINT32>(command & 0xFFFFFFFFu));
            return FALSE;
    }
}

void OnTimeoutTick(HWND box, CPromptTemplate& prompt) {
    if (prompt.timeoutSeconds > 0) {
        HWND button = ::GetDlgItem(box, prompt.defaultButtonId);
        if (button == nullptr) return;
        if (prompt.savedDefaultLabel[0] == L'\0') {
            ::GetWindowTextW(button, prompt.savedDefaultLabel, kPromptLabelLength);
        }
        ::SetWindowTextW(button, CountdownLabel(prompt.savedDefaultLabel, prompt.timeoutSeconds).c_str());
        --prompt.timeoutSeconds;
        return;
    }
    ::KillTimer(box, kTimeoutTimer);
    ::SendMessageW(box, WM_COMMAND, static_cast<WPARAM>(prompt.defaultButtonId | PB_TIMEDOUT), 0);
}

void OnDisabledTick(HWND box, CPromptTemplate& prompt) {
    if (prompt.disabledSeconds > 0) {
        if (prompt.caption[0] != L'\0') {
            ::SetWindowTextW(box, DisabledPeriodTitle(prompt.caption.get(), prompt.disabledSeconds).c_str());
        }
        --prompt.disabledSeconds;
        return;
    }
    ::KillTimer(box, kDisabledTimer);
    SetButtonsEnabled(box, true);
    if (prompt.dialogFlags & (DF_ESCAPE_CANCEL | DF_ESCAPE_OK)) SetCloseItem(box, true);
    ::SetWindowTextW(box, prompt.caption.get());
    // The default button could not take the focus while it was disabled.
    HWND focus = ::GetFocus();
    if (focus == nullptr || (focus != box && !::IsChild(box, focus))) {
        if (HWND defaultButton = ::GetDlgItem(box, prompt.defaultButtonId)) ::SetFocus(defaultButton);
    }
    ::RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

// The outer size of the box laid out for `dpi`, in a frame of that DPI.
SIZE WindowSizeForDpi(HWND box, const CPromptTemplate& prompt, UINT dpi) {
    const SIZE client = prompt.ClientSizeForDpi(dpi, ::MonitorFromWindow(box, MONITOR_DEFAULTTONEAREST));
    RECT frame{0, 0, client.cx, client.cy};
    AdjustWindowRectForDpi(frame, static_cast<DWORD>(::GetWindowLongPtrW(box, GWL_STYLE)),
                           static_cast<DWORD>(::GetWindowLongPtrW(box, GWL_EXSTYLE)), dpi);
    return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

// The box went to a monitor of another scale: laid out anew for it, at the
// rectangle Windows suggests.
void OnDpiChanged(HWND box, CPromptTemplate& prompt, UINT newDpi, const RECT& suggested) {
    const PromptRetired retired = prompt.RelayOutForDpi(newDpi, ::MonitorFromRect(&suggested, MONITOR_DEFAULTTONEAREST));
    ApplyFontAndIcon(box, prompt);
    ::SetWindowPos(box, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    const POINT topLeft{suggested.left, suggested.top};
    ApplyLayout(box, prompt, &topLeft);
}

INT_PTR HandlePromptMessage(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog(box, reinterpret_cast<CPromptTemplate*>(lParam));
    // Messages that arrive before WM_INITDIALOG find no template: default handling.
    CPromptTemplate* prompt = TemplateOf(box);
    if (prompt == nullptr) return FALSE;
    switch (message) {
        case WM_ERASEBKGND:
            return OnEraseBackground(box, *prompt, reinterpret_cast<HDC>(wParam));
        case WM_CTLCOLORSTATIC:
            return OnColorStatic(box, *prompt, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        case WM_LBUTTONDOWN:
        case WM_NCLBUTTONDOWN:
            StopTimeout(box, *prompt);
            return FALSE;
        case WM_COMMAND:
            return OnCommand(box, *prompt, wParam);
        case WM_TIMER:
            if (wParam == kTimeoutTimer) OnTimeoutTick(box, *prompt);
            if (wParam == kDisabledTimer) OnDisabledTick(box, *prompt);
            return FALSE;
        case WM_DPICHANGED:
            OnDpiChanged(box, *prompt, LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return TRUE;
        case kWmGetDpiScaledSize:
            // Windows asks before the change, so that its suggested rectangle fits the new layout.
            *reinterpret_cast<SIZE*>(lParam) = WindowSizeForDpi(box, *prompt, static_cast<UINT>(wParam));
            ::SetWindowLongPtrW(box, DWLP_MSGRESULT, TRUE);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK PromptBoxDlgProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return HandlePromptMessage(box, message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the dialog manager; the message gets default handling.
        return FALSE;
    }
}

bool CopyMessageBoxText(HWND box, WPARAM keyCode) {
    // The Control state that goes with this key message, not the live one: by the
    // time a busy box reads its queue the user may have let go of Control already.
    if ((::GetKeyState(VK_CONTROL) & 0x8000) == 0 || LOWORD(keyCode) != 'C') return false;
    if (!::IsWindow(box)) return true;
    try {
        const std::wstring title = WindowTextOf(box, static_cast<int>(kPromptCopyTitleMax));
        std::wstring message;
        HWND messageControl = ::GetDlgItem(box, kPromptFirstMessageId);
        if (messageControl != nullptr) message = WindowTextOf(messageControl, static_cast<int>(kPromptCopyMessageMax));
        std::vector<std::wstring> labels;
        for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
            if (IsButtonClass(child)) labels.push_back(WindowTextOf(child, static_cast<int>(kPromptCopyButtonMax)));
        }
        const std::wstring copy = FormatPromptCopyText(title, messageControl != nullptr ? &message : nullptr, labels);
        PutTextOnClipboard(copy.c_str(), box);
    } catch (...) {
        // A copy that cannot be built leaves the clipboard as it was.
    }
    return true;
}

bool PutTextOnClipboard(const wchar_t* text, HWND owner) {
    if (text == nullptr) return false;
    // Another program (a clipboard viewer, say) may hold the clipboard for a moment.
    bool opened = false;
    for (int attempt = 0; attempt < 10 && !opened; ++attempt) {
        opened = ::OpenClipboard(owner) != FALSE;
        if (!opened) ::Sleep(10);
    }
    if (!opened) return false;
    ::EmptyClipboard();
    const size_t length = std::wcslen(text);
    bool placed = false;
    if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, (length + 1) * sizeof(wchar_t))) {
        if (auto* units = static_cast<wchar_t*>(::GlobalLock(memory))) {
            std::wmemcpy(units, text, length + 1);
            ::GlobalUnlock(memory);
            placed = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        }
        // Once set, the block belongs to the clipboard; otherwise it is ours to free.
        if (!placed) ::GlobalFree(memory);
    }
    ::CloseClipboard();
    return placed;
}

LRESULT CALLBACK IconStaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint{};
            HDC dc = ::BeginPaint(window, &paint);
            // At the icon's own size, which the box chose for its DPI.
            if (auto icon = reinterpret_cast<HICON>(::GetWindowLongPtrW(window, GWLP_USERDATA))) {
                ::DrawIconEx(dc, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL);
            }
            ::EndPaint(window, &paint);
            return 0;
        }
        case WM_ERASEBKGND:
            // The box painted the background the icon stands on.
            return TRUE;
        case WM_NCHITTEST:
            // Clicks go to the box, as they do on any plain static control.
            return HTTRANSPARENT;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}
