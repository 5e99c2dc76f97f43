#include "ui/scan_status.h"

#include <commctrl.h>

#include <deque>
#include <string>

#include "base/srw_lock.h"
#include "ui/app_globals.h"

std::wstring ScanSourceFolder;
std::atomic<bool> SystemFilesFound{false};

namespace {

constexpr wchar_t kMovingText[] = L"Moving ...";

// The dialog's thread reads nothing while it waits for the worker, so every text
// posted during a scan queues up at once. Posting the latest path at most this
// often, and never more than kMaxQueuedTexts of them, keeps the queue far below the
// platform's limit of 10,000 posted messages and the memory flat for any tree; the
// closing text (the failing path or "Moving ...") is always posted.
constexpr ULONGLONG kProgressIntervalMs = 50;
constexpr size_t kMaxQueuedTexts = 200;

// Owns the texts whose messages are still queued for the status bar. Texts are
// added by the worker and released by the dialog's thread after it has shown them.
class ProgressTexts {
public:
    // Posts `text` unless the last post is too recent or too many are queued.
    void Post(const std::wstring& text, bool closing) {
        HWND statusBar = StatusBarWindow.load();
        if (statusBar == nullptr) return;
        const ULONGLONG now = ::GetTickCount64();
        SrwExclusiveGuard guard(lock_);
        if (!closing && (texts_.size() >= kMaxQueuedTexts || now - lastPost_ < kProgressIntervalMs)) return;
        texts_.push_back(text);  // a deque never moves the elements it already holds
        if (::PostMessageW(statusBar, SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(texts_.back().c_str()))) {
            lastPost_ = now;
        } else {
            texts_.pop_back();  // nothing will read it
        }
    }

    void DeliverAndRelease() {
        HWND statusBar = StatusBarWindow.load();
        MSG message;
        while (statusBar != nullptr && ::PeekMessageW(&message, statusBar, SB_SETTEXTW, SB_SETTEXTW, PM_REMOVE)) {
            ::DispatchMessageW(&message);
        }
        SrwExclusiveGuard guard(lock_);
        texts_.clear();
        lastPost_ = 0;
    }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::deque<std::wstring> texts_;
    ULONGLONG lastPost_ = 0;
};

ProgressTexts QueuedProgress;

}  // namespace

void StatusBarScanProgress::OnTesting(const std::wstring& path) { QueuedProgress.Post(path, false); }
void StatusBarScanProgress::OnStopped(const std::wstring& path) { QueuedProgress.Post(path, true); }
void StatusBarScanProgress::OnPassed() { QueuedProgress.Post(kMovingText, true); }

bool ScanForAccess(std::wstring folder, const std::wstring& mask) {
    StatusBarScanProgress progress;
    AccessScanFindings findings;
    const bool passed = ScanForAccess(std::move(folder), mask, progress, findings);
    if (findings.systemFiles) SystemFilesFound = true;
    return passed;
}

DWORD WINAPI AccessScanThread(void* /*parameter*/) {
    SystemFilesFound = false;
    StatusBarScanProgress progress;
    AccessScanFindings findings;
    const bool passed = ScanWholeTree(ScanSourceFolder, progress, findings);
    SystemFilesFound = findings.systemFiles;
    return passed ? 1 : 0;
}

void DeliverScanProgress() { QueuedProgress.DeliverAndRelease(); }
