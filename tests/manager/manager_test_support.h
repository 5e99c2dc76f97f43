// Shared pieces of the junction manager tests: the settings key they clean, the
// manager dialog run on a UI thread of the test process, and the message boxes it
// shows.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/driver/ui_thread.h"

namespace manager_test {

// Deletes HKCU\Software\Dirshift (the recurse setting and the remembered answers
// below it) when created and when destroyed.
class SettingsScope {
public:
    SettingsScope();
    ~SettingsScope();
    SettingsScope(const SettingsScope&) = delete;
    SettingsScope& operator=(const SettingsScope&) = delete;
};

// The bytes of the "Recurse" value, or nothing when it is missing.
std::optional<std::vector<BYTE>> RecurseValueBytes(DWORD* type = nullptr);

// The manager dialog (template 139) on its own UI thread of the test process,
// started with `startupPath` as its creation parameter.
class ManagerRun {
public:
    explicit ManagerRun(const std::wstring& startupPath = L"");
    HWND dialog() const { return dialog_; }
    HWND list() const;
    DWORD threadId() const { return call_->threadId(); }
    bool WaitForReturn(DWORD timeoutMs = 10000) const { return call_->WaitForReturn(timeoutMs); }
    INT_PTR result() const { return call_->result(); }

    // The rows as {virtual folder, backing folder}, in display order.
    std::vector<std::vector<std::wstring>> Rows() const;
    // Puts `folder` in the folder box, sets the recurse box, presses Scan and waits
    // until the scan has ended; false when it did not end in time.
    bool Scan(const std::wstring& folder, bool recurse, DWORD timeoutMs = 30000);
    // Presses Scan (the folder box as it is) and waits for the scan's end.
    bool Rescan(DWORD timeoutMs = 30000);
    // Waits until the status bar reads `text` and the Scan button is back.
    bool WaitForScanEnd(const std::wstring& text, DWORD timeoutMs = 30000) const;
    void SelectRows(const std::vector<int>& rows) const;

private:
    std::wstring startupPath_;
    std::unique_ptr<testing_driver::UiThreadCall> call_;
    HWND dialog_ = nullptr;
};

// A visible message box (#32770 captioned "Dirshift") of thread `threadId` other
// than `dialog`, waited for up to `timeoutMs`; null when none came.
HWND WaitForThreadMessageBox(DWORD threadId, HWND dialog, DWORD timeoutMs = 10000);
// The same among the windows of process `processId`.
HWND WaitForProcessMessageBox(DWORD processId, HWND dialog, DWORD timeoutMs = 10000);
// The texts of the box's static controls, joined by line feeds.
std::wstring MessageBoxText(HWND box);

// The program's string `id` (the test executable links the same resources).
std::wstring ProgramString(UINT id);

}  // namespace manager_test
