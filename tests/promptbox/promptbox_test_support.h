// Shared pieces of the message box tests: the registry key they may use (and
// clean), and a message box call run on a UI thread of the test process.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "promptbox/prompt_box.h"
#include "tests/driver/ui_thread.h"

namespace promptbox_test {

// The tests' own company name: every remembered answer they store lives below
// HKCU\Software\DirshiftPromptBoxTest, which they delete before and after.
constexpr wchar_t kTestCompany[] = L"DirshiftPromptBoxTest";

// Software\DirshiftPromptBoxTest\<this test exe's file name>\PromptBox
std::wstring AnswerKeyPath();

// Deletes the tests' company key when created and when destroyed.
class RegistryScope {
public:
    RegistryScope();
    ~RegistryScope();
    RegistryScope(const RegistryScope&) = delete;
    RegistryScope& operator=(const RegistryScope&) = delete;
};

// The stored answer for that module name and text, read straight from the
// registry; false when there is none.
bool StoredAnswer(const wchar_t* moduleName, const wchar_t* text, DWORD* value);

// PromptBoxDefaults as the program sets them at start, with the tests' company.
void UseProgramDefaults();
// The record's defaults, restored after each test.
void ResetDefaults();

// A PromptBox call on its own UI thread.
class PromptCall {
public:
    PromptCall(HWND owner, std::wstring text, const wchar_t* caption, UINT style);
    explicit PromptCall(std::wstring text, UINT style, const wchar_t* caption = L"Dirshift")
        : PromptCall(nullptr, std::move(text), caption, style) {}

    // The box, or null when none appeared in time.
    HWND WaitForBox(DWORD timeoutMs = 10000) const { return call_->WaitForWindow(L"#32770", timeoutMs); }
    bool WaitForReturn(DWORD timeoutMs = 10000) const { return call_->WaitForReturn(timeoutMs); }
    int result() const { return static_cast<int>(call_->result()); }
    DWORD threadId() const { return call_->threadId(); }

private:
    std::wstring text_;
    std::wstring caption_;
    bool nullCaption_;
    std::unique_ptr<testing_driver::UiThreadCall> call_;
};

// Push buttons and check boxes of a box in window order, as (id, text).
struct ButtonInfo {
    int id;
    std::wstring text;
    bool isDefault;
};
std::vector<ButtonInfo> ButtonsOf(HWND box);

bool IsCloseItemGrayed(HWND box);

// True when the window stays up for `ms` milliseconds.
bool StaysOpen(HWND window, DWORD ms);

}  // namespace promptbox_test
