// Drives the real dirshift.exe through a relocation as a user does: type the two
// folders, press OK, read and answer each message box in turn.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "tests/driver/app_process.h"

namespace relocation_testing {

constexpr wchar_t kRelocationCaption[] = L"Move folder to different drive and place hard link (junction) ...";

// All the static texts of a message box (its message), joined.
std::wstring BoxText(HWND box);
// The box's check box, or null.
HWND BoxCheckBox(HWND box);
// The label of the button `id` of a box.
std::wstring BoxButtonText(HWND box, int id);

class RelocationSession {
public:
    // Starts the program (the built dirshift.exe, or `exePath`) with "/create",
    // waits for its dialog and types both fields.
    RelocationSession(const std::wstring& source, const std::wstring& target,
                      const std::wstring& workingDirectory = L"", const std::wstring& exePath = L"");

    bool started() const { return dialog_ != nullptr; }
    HWND dialog() const { return dialog_; }
    testing_driver::AppProcess& app() { return *app_; }

    void PressOk();
    // Waits for the next message box, returns its text and presses `button` on it.
    // Nothing when no box came within `timeoutMs`.
    std::optional<std::wstring> Answer(int button, DWORD timeoutMs = 60000);
    // True when no message box shows up within `timeoutMs`.
    bool NoBoxWithin(DWORD timeoutMs);

    // Cancel; the exit code that follows.
    std::optional<DWORD> Cancel();

private:
    std::unique_ptr<testing_driver::AppProcess> app_;
    HWND dialog_ = nullptr;
};

// The target that the mount-point data of `linkPath` stores on disk, read from
// Linux ("\??\M:\x"), or nothing when it carries no mount point.
std::optional<std::wstring> OnDiskJunctionTarget(const std::wstring& linkPath);

// The full path of `path` as Windows forms it.
std::wstring FullPath(const std::wstring& path);

}  // namespace relocation_testing
