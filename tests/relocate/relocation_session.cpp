#include "tests/relocate/relocation_session.h"

#include <cstring>
#include <vector>

#include "resources/resource.h"
#include "tests/driver/dialog_driver.h"
#include "tests/driver/host_view.h"

namespace relocation_testing {

using namespace testing_driver;

namespace {

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(parent, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

bool SameText(const std::wstring& a, const wchar_t* b) { return ::lstrcmpiW(a.c_str(), b) == 0; }

}  // namespace

std::wstring BoxText(HWND box) {
    std::wstring text;
    for (HWND child : Children(box)) {
        if (SameText(ClassNameOf(child), L"Static")) text += WindowText(child);
    }
    return text;
}

HWND BoxCheckBox(HWND box) {
    for (HWND child : Children(box)) {
        if (!SameText(ClassNameOf(child), L"Button")) continue;
        const LONG_PTR type = ::GetWindowLongPtrW(child, GWL_STYLE) & BS_TYPEMASK;
        if (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX) return child;
    }
    return nullptr;
}

std::wstring BoxButtonText(HWND box, int id) {
    HWND button = ::GetDlgItem(box, id);
    return button != nullptr ? WindowText(button) : L"<none>";
}

RelocationSession::RelocationSession(const std::wstring& source, const std::wstring& target,
                                     const std::wstring& workingDirectory, const std::wstring& exePath) {
    app_ = exePath.empty() ? AppProcess::StartDirshift(L"/create", workingDirectory)
                           : AppProcess::Start(exePath, L"\"" + exePath + L"\" /create", workingDirectory);
    if (!app_) return;
    dialog_ = app_->WaitForDialog(kRelocationCaption);
    if (dialog_ == nullptr) return;
    SetControlText(dialog_, IDC_SOURCE_PATH, source);
    SetControlText(dialog_, IDC_TARGET_PATH, target);
}

void RelocationSession::PressOk() { PressButton(dialog_, IDOK); }

std::optional<std::wstring> RelocationSession::Answer(int button, DWORD timeoutMs) {
    HWND box = app_->WaitForDialog(L"Dirshift", timeoutMs);
    if (box == nullptr) return std::nullopt;
    const std::wstring text = BoxText(box);
    PressButton(box, button);
    WaitUntil([&] { return !::IsWindow(box) || !::IsWindowVisible(box); }, 10000);
    return text;
}

bool RelocationSession::NoBoxWithin(DWORD timeoutMs) { return app_->WaitForDialog(L"Dirshift", timeoutMs) == nullptr; }

std::optional<DWORD> RelocationSession::Cancel() {
    PressButton(dialog_, IDCANCEL);
    return app_->WaitForExit(20000);
}

std::optional<std::wstring> OnDiskJunctionTarget(const std::wstring& linkPath) {
    const std::optional<Bytes> data = ReadNtfsReparseData(linkPath);
    if (!data || data->size() < 16) return std::nullopt;
    auto u16 = [&](size_t at) { return static_cast<size_t>((*data)[at] | ((*data)[at + 1] << 8)); };
    const std::uint32_t tag = static_cast<std::uint32_t>(u16(0) | (u16(2) << 16));
    if (tag != IO_REPARSE_TAG_MOUNT_POINT) return std::nullopt;
    const size_t offset = u16(8);
    const size_t length = u16(10);
    if (16 + offset + length > data->size()) return std::nullopt;
    std::wstring target(length / 2, L'\0');
    for (size_t i = 0; i < target.size(); ++i) target[i] = static_cast<wchar_t>(u16(16 + offset + 2 * i));
    return target;
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[1024] = L"";
    ::GetFullPathNameW(path.c_str(), 1024, full, nullptr);
    return full;
}

}  // namespace relocation_testing
