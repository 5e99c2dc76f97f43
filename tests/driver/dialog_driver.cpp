#include "tests/driver/dialog_driver.h"

#include <commctrl.h>

#include "tests/driver/app_process.h"

namespace testing_driver {

namespace {

constexpr int kStatusBarId = 4883;

// Memory in the process that owns `window`, for control messages whose pointers
// the system does not carry across processes (status bar and list view texts).
class RemoteBuffer {
public:
    RemoteBuffer(HWND window, SIZE_T size) : size_(size) {
        DWORD processId = 0;
        ::GetWindowThreadProcessId(window, &processId);
        process_ = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
        if (process_ != nullptr)
            address_ = ::VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~RemoteBuffer() {
        if (address_ != nullptr) ::VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        if (process_ != nullptr) ::CloseHandle(process_);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    bool valid() const { return address_ != nullptr; }
    void* address() const { return address_; }
    bool Write(const void* data, SIZE_T size, SIZE_T offset = 0) {
        SIZE_T written = 0;
        return offset + size <= size_ &&
               ::WriteProcessMemory(process_, static_cast<char*>(address_) + offset, data, size, &written);
    }
    bool Read(void* data, SIZE_T size, SIZE_T offset = 0) const {
        SIZE_T read = 0;
        return offset + size <= size_ &&
               ::ReadProcessMemory(process_, static_cast<char*>(address_) + offset, data, size, &read);
    }

private:
    HANDLE process_ = nullptr;
    void* address_ = nullptr;
    SIZE_T size_ = 0;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    auto* windows = reinterpret_cast<std::pair<DWORD, std::vector<HWND>>*>(context);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    if (processId == windows->first) windows->second.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectThreadWindow(HWND window, LPARAM context) {
    reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
    return TRUE;
}

void PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (::GetTickCount64() >= deadline) return false;
        PumpMessages();
        ::Sleep(20);
    }
}

std::vector<HWND> TopLevelWindows(DWORD processId) {
    std::pair<DWORD, std::vector<HWND>> windows{processId, {}};
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows.second;
}

std::vector<HWND> ThreadWindows(DWORD threadId) {
    std::vector<HWND> windows;
    ::EnumThreadWindows(threadId, CollectThreadWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::wstring ClassNameOf(HWND window) {
    wchar_t name[256] = L"";
    ::GetClassNameW(window, name, 256);
    return name;
}

std::wstring WindowText(HWND window) {
    const LRESULT length = ::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied = ::SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(copied));
    return text;
}

std::wstring ControlText(HWND dialog, int controlId) {
    HWND control = ::GetDlgItem(dialog, controlId);
    return control != nullptr ? WindowText(control) : std::wstring();
}

void SetControlText(HWND dialog, int controlId, const std::wstring& text) {
    ::SendMessageW(::GetDlgItem(dialog, controlId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool IsControlEnabled(HWND dialog, int controlId) {
    HWND control = ::GetDlgItem(dialog, controlId);
    return control != nullptr && ::IsWindowEnabled(control);
}

bool IsChecked(HWND dialog, int controlId) {
    return ::SendMessageW(::GetDlgItem(dialog, controlId), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void PressButton(HWND dialog, int controlId) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, controlId)));
}

void ClickCheckBox(HWND dialog, int controlId) {
    HWND box = ::GetDlgItem(dialog, controlId);
    const bool checked = ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
    ::SendMessageW(box, BM_SETCHECK, checked ? BST_UNCHECKED : BST_CHECKED, 0);
    PressButton(dialog, controlId);
}

void CloseWithCloseBox(HWND window) { ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0); }

void CloseWithAltF4(HWND window) {
    // Bit 29 of the key data is the Alt state; the window's default key handling
    // turns Alt+F4 into SC_CLOSE, as it does for a real key press.
    ::PostMessageW(window, WM_SYSKEYDOWN, VK_F4, 0x20000001);
    ::PostMessageW(window, WM_SYSKEYUP, VK_F4, static_cast<LPARAM>(0xE0000001u));
}

void PressEnterIn(HWND dialog, int controlId) {
    HWND control = ::GetDlgItem(dialog, controlId);
    ::PostMessageW(control, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ::PostMessageW(control, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001u));
}

void PressEscape(HWND dialog) {
    HWND target = dialog;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (::IsWindowVisible(child) && ::IsWindowEnabled(child)) {
            target = child;
            break;
        }
    }
    ::PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ::PostMessageW(target, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
}

std::wstring StatusBarText(HWND statusBar, int part) {
    if (statusBar == nullptr) return {};
    // Wine 8 answers a simple status bar's text only when asked for part 0.
    if (part == SB_SIMPLEID_PART && ::SendMessageW(statusBar, SB_ISSIMPLE, 0, 0)) {
        std::wstring text = StatusBarText(statusBar, 0);
        if (!text.empty()) return text;
    }
    const LRESULT lengthInfo = ::SendMessageW(statusBar, SB_GETTEXTLENGTHW, part, 0);
    const SIZE_T units = LOWORD(lengthInfo) + 1;
    RemoteBuffer remote(statusBar, units * sizeof(wchar_t));
    if (!remote.valid()) return {};
    ::SendMessageW(statusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(remote.address()));
    std::wstring text(units, L'\0');
    if (!remote.Read(&text[0], units * sizeof(wchar_t))) return {};
    text.resize(wcsnlen(text.c_str(), units));
    return text;
}

std::wstring DialogStatusText(HWND dialog) { return StatusBarText(::GetDlgItem(dialog, kStatusBarId)); }

int ListViewRowCount(HWND listView) { return static_cast<int>(::SendMessageW(listView, LVM_GETITEMCOUNT, 0, 0)); }

std::wstring ListViewText(HWND listView, int row, int column) {
    constexpr int kUnits = 2048;
    RemoteBuffer remote(listView, sizeof(LVITEMW) + kUnits * sizeof(wchar_t));
    if (!remote.valid()) return {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.cchTextMax = kUnits;
    item.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote.address()) + sizeof(LVITEMW));
    remote.Write(&item, sizeof(item));
    ::SendMessageW(listView, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote.address()));
    std::wstring text(kUnits, L'\0');
    remote.Read(&text[0], kUnits * sizeof(wchar_t), sizeof(LVITEMW));
    text.resize(wcsnlen(text.c_str(), kUnits));
    return text;
}

std::vector<std::vector<std::wstring>> ListViewRows(HWND listView, int columns) {
    std::vector<std::vector<std::wstring>> rows;
    const int count = ListViewRowCount(listView);
    for (int row = 0; row < count; ++row) {
        std::vector<std::wstring> texts;
        for (int column = 0; column < columns; ++column) texts.push_back(ListViewText(listView, row, column));
        rows.push_back(std::move(texts));
    }
    return rows;
}

void ListViewSelect(HWND listView, int row, bool selected) {
    RemoteBuffer remote(listView, sizeof(LVITEMW));
    if (!remote.valid()) return;
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = selected ? LVIS_SELECTED : 0;
    remote.Write(&item, sizeof(item));
    ::SendMessageW(listView, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(remote.address()));
}

std::wstring SaveScreenshot(const std::wstring& name) {
    const int width = ::GetSystemMetrics(SM_CXSCREEN);
    const int height = ::GetSystemMetrics(SM_CYSCREEN);
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    ::SelectObject(memory, old);

    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * height);
    ::GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);

    const std::wstring folder = ToWindowsPath(DIRSHIFT_SCREENSHOT_DIR);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\" + name + L".bmp";
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    BITMAPFILEHEADER fileHeader = {};
    fileHeader.bfType = 0x4D42;
    fileHeader.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    fileHeader.bfSize = fileHeader.bfOffBits + static_cast<DWORD>(pixels.size());
    DWORD written = 0;
    ::WriteFile(file, &fileHeader, sizeof(fileHeader), &written, nullptr);
    ::WriteFile(file, &header, sizeof(header), &written, nullptr);
    ::WriteFile(file, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
    ::CloseHandle(file);
    return path;
}

void TypeKeys(std::initializer_list<Key> keys) {
    std::vector<INPUT> inputs;
    for (const Key& key : keys) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key.code;
        input.ki.dwFlags = key.up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    }
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

std::wstring ClipboardText() {
    std::wstring text;
    if (!::OpenClipboard(nullptr)) return text;
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* units = static_cast<const wchar_t*>(::GlobalLock(data))) {
            text = units;
            ::GlobalUnlock(data);
        }
    }
    ::CloseClipboard();
    return text;
}

}  // namespace testing_driver
