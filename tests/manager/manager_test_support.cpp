#include "tests/manager/manager_test_support.h"

#include <commctrl.h>

#include "ui/app_globals.h"
#include "ui/settings.h"
#include "manager/junction_manager_dialog.h"
#include "resources/resource.h"
#include "tests/driver/dialog_driver.h"

namespace manager_test {

using namespace testing_driver;

SettingsScope::SettingsScope() { ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKeyPath); }
SettingsScope::~SettingsScope() { ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKeyPath); }

std::optional<std::vector<BYTE>> RecurseValueBytes(DWORD* type) {
    std::vector<BYTE> bytes(64);
    DWORD size = static_cast<DWORD>(bytes.size());
    DWORD storedType = 0;
    if (::RegGetValueW(HKEY_CURRENT_USER, kSettingsKeyPath, kRecurseValueName, RRF_RT_ANY | RRF_NOEXPAND, &storedType,
                       bytes.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    bytes.resize(size);
    if (type != nullptr) *type = storedType;
    return bytes;
}

ManagerRun::ManagerRun(const std::wstring& startupPath) : startupPath_(startupPath) {
    InitAppGlobals();
    call_ = std::make_unique<UiThreadCall>([this] {
        return ::DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_MANAGER), nullptr, JunctionManagerDlgProc,
                                 reinterpret_cast<LPARAM>(startupPath_.c_str()));
    });
    dialog_ = call_->WaitForWindow();
}

HWND ManagerRun::list() const { return ::GetDlgItem(dialog_, IDC_JUNCTION_LIST); }

std::vector<std::vector<std::wstring>> ManagerRun::Rows() const { return ListViewRows(list(), 2); }

bool ManagerRun::WaitForScanEnd(const std::wstring& text, DWORD timeoutMs) const {
    return WaitUntil(
        [&] {
            return DialogStatusText(dialog_) == text && ControlText(dialog_, IDC_SCAN) == L"Scan" &&
                   IsControlEnabled(dialog_, IDC_SCAN);
        },
        timeoutMs);
}

bool ManagerRun::Rescan(DWORD timeoutMs) {
    // A text no scan writes, so the wait sees this scan's end and not an earlier one.
    ::SendMessageW(::GetDlgItem(dialog_, IDC_STATUS_BAR), SB_SETTEXTW, SB_SIMPLEID_PART,
                   reinterpret_cast<LPARAM>(L"(test) waiting"));
    PressButton(dialog_, IDC_SCAN);
    return WaitForScanEnd(ProgramString(IDS_SCAN_COMPLETE), timeoutMs);
}

bool ManagerRun::Scan(const std::wstring& folder, bool recurse, DWORD timeoutMs) {
    SetControlText(dialog_, IDC_SCAN_FOLDER, folder);
    ::SendMessageW(::GetDlgItem(dialog_, IDC_RECURSE), BM_SETCHECK, recurse ? BST_CHECKED : BST_UNCHECKED, 0);
    return Rescan(timeoutMs);
}

void ManagerRun::SelectRows(const std::vector<int>& rows) const {
    for (int row : rows) ListViewSelect(list(), row, true);
}

namespace {

HWND FindMessageBox(const std::vector<HWND>& windows, HWND dialog) {
    for (HWND window : windows) {
        if (window != dialog && ::IsWindowVisible(window) && ClassNameOf(window) == L"#32770" &&
            WindowText(window) == L"Dirshift")
            return window;
    }
    return nullptr;
}

}  // namespace

HWND WaitForThreadMessageBox(DWORD threadId, HWND dialog, DWORD timeoutMs) {
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindMessageBox(ThreadWindows(threadId), dialog)) != nullptr; }, timeoutMs);
    return box;
}

HWND WaitForProcessMessageBox(DWORD processId, HWND dialog, DWORD timeoutMs) {
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindMessageBox(TopLevelWindows(processId), dialog)) != nullptr; }, timeoutMs);
    return box;
}

std::wstring MessageBoxText(HWND box) {
    std::wstring text;
    for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (ClassNameOf(child) != L"Static") continue;
        const std::wstring part = WindowText(child);
        if (part.empty()) continue;
        if (!text.empty()) text += L"\n";
        text += part;
    }
    return text;
}

std::wstring ProgramString(UINT id) {
    wchar_t text[512] = L"";
    ::LoadStringW(::GetModuleHandleW(nullptr), id, text, 512);
    return text;
}

}  // namespace manager_test
