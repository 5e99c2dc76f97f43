// The access scan as a dialog shows it while the dialog keeps answering: the
// dialog's thread pumps its messages while the worker scans, the status bar shows
// the files tested, their bytes and the current path a few times a second, and
// Cancel (Esc, the close box) stops the scan. Every control but Cancel is
// disabled meanwhile.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "base/srw_lock.h"
#include "engine/access_scan.h"

// "Scanning: 1,234 files tested (56,789,012 bytes) - N:\Games\a.dat".
std::wstring FormatScanProgress(std::uint64_t files, std::uint64_t bytes, const std::wstring& path);

// Shown when every file passed and the move follows at once.
constexpr wchar_t kScanPassedMovingText[] = L"Moving ...";
// Shown when every file passed and a question comes before anything moves.
constexpr wchar_t kScanPassedAskingText[] = L"Every file passed the check.";

// Shown when the user stopped the scan.
constexpr wchar_t kScanCancelledText[] = L"Scan cancelled: nothing was changed.";

// True while a dialog's thread waits for a scan (pumping its messages): the
// dialog's Cancel then stops the scan instead of closing the dialog, and its other
// commands are not run.
bool DialogScanRunning();
// Stops the running scan at its next file; nothing when none runs.
void CancelDialogScan();

class LiveScanProgress : public AccessScanProgress {
public:
    // `dialog` is the dialog whose status bar (IDC_STATUS_BAR) shows the progress;
    // null: the wait only waits. `passedText` stays there once every file passed.
    explicit LiveScanProgress(HWND dialog, const wchar_t* passedText = kScanPassedMovingText)
        : dialog_(dialog), passedText_(passedText) {}

    void OnTesting(const std::wstring& path) override;
    void OnStopped(const std::wstring& path) override;
    void OnPassed() override;
    void OnFilePassed(std::uint64_t bytes) override;
    bool StopRequested() override;
    void WaitForWorker(HANDLE worker) override;

private:
    void ShowProgress();
    void ShowClosingText();

    HWND dialog_;
    const wchar_t* passedText_;
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::wstring current_;     // the file being tested; under lock_
    std::wstring closingText_;  // set once the scan ends; under lock_
    std::atomic<std::uint64_t> files_{0};
    std::atomic<std::uint64_t> bytes_{0};
};
