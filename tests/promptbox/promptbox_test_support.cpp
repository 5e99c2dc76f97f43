#include "tests/promptbox/promptbox_test_support.h"

#include <cwchar>

#include "promptbox/remembered_answers.h"
#include "tests/driver/dialog_driver.h"

namespace promptbox_test {

std::wstring AnswerKeyPath() {
    wchar_t path[MAX_PATH * 4] = L"";
    ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    return RememberedAnswerKeyPath(kTestCompany, path);
}

RegistryScope::RegistryScope() { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\DirshiftPromptBoxTest"); }

RegistryScope::~RegistryScope() { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\DirshiftPromptBoxTest"); }

bool StoredAnswer(const wchar_t* moduleName, const wchar_t* text, DWORD* value) {
    const std::wstring name = RememberedAnswerValueName(moduleName, ComputeMessageKey(text));
    DWORD size = sizeof(*value);
    return ::RegGetValueW(HKEY_CURRENT_USER, AnswerKeyPath().c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, value,
                          &size) == ERROR_SUCCESS;
}

void UseProgramDefaults() {
    PromptBoxDefaults = PromptBoxParams{};
    wcscpy_s(PromptBoxDefaults.companyName, kTestCompany);
    PromptBoxDefaults.moduleName = L"dirshift.exe";
    PromptBoxDefaults.options = PB_OPT_NARROW;
    PromptBoxDefaults.stringsInstance = ::GetModuleHandleW(nullptr);
}

void ResetDefaults() { PromptBoxDefaults = PromptBoxParams{}; }

PromptCall::PromptCall(HWND owner, std::wstring text, const wchar_t* caption, UINT style)
    : text_(std::move(text)), caption_(caption != nullptr ? caption : L""), nullCaption_(caption == nullptr) {
    call_ = std::make_unique<testing_driver::UiThreadCall>([this, owner, style]() -> INT_PTR {
        return PromptBox(owner, text_.c_str(), nullCaption_ ? nullptr : caption_.c_str(), style);
    });
}

std::vector<ButtonInfo> ButtonsOf(HWND box) {
    std::vector<ButtonInfo> buttons;
    for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (testing_driver::ClassNameOf(child) != L"Button") continue;
        const LONG_PTR style = ::GetWindowLongPtrW(child, GWL_STYLE);
        buttons.push_back({::GetDlgCtrlID(child), testing_driver::WindowText(child),
                           (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON});
    }
    return buttons;
}

bool IsCloseItemGrayed(HWND box) {
    const UINT state = ::GetMenuState(::GetSystemMenu(box, FALSE), SC_CLOSE, MF_BYCOMMAND);
    return state != static_cast<UINT>(-1) && (state & MF_GRAYED) != 0;
}

bool StaysOpen(HWND window, DWORD ms) {
    return !testing_driver::WaitUntil([window] { return !::IsWindow(window); }, ms);
}

}  // namespace promptbox_test
