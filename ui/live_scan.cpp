#include "ui/live_scan.h"

#include <vector>

#include "resources/resource.h"
#include "ui/dialog_support.h"

namespace {

// The status bar changes at most this often: often enough to look alive, rarely
// enough to cost the scan nothing.
constexpr DWORD kRefreshMs = 50;

std::atomic<bool> ScanWaiting{false};
std::atomic<bool> CancelRequested{false};

}  // namespace

std::wstring FormatScanProgress(std::uint64_t files, std::uint64_t bytes, const std::wstring& path) {
    std::wstring text = L"Scanning: " + GroupedDigits(files) + (files == 1 ? L" file tested (" : L" files tested (") +
                        GroupedDigits(bytes) + L" bytes)";
    if (!path.empty()) text += L" - " + path;
    return text;
}

bool DialogScanRunning() { return ScanWaiting.load(); }

void CancelDialogScan() {
    if (ScanWaiting.load()) CancelRequested.store(true);
}

void LiveScanProgress::OnTesting(const std::wstring& path) {
    SrwExclusiveGuard guard(lock_);
    current_ = path;
}

void LiveScanProgress::OnStopped(const std::wstring& path) {
    SrwExclusiveGuard guard(lock_);
    closingText_ = path;
}

void LiveScanProgress::OnPassed() {
    SrwExclusiveGuard guard(lock_);
    closingText_ = passedText_;
}

void LiveScanProgress::OnFilePassed(std::uint64_t bytes) {
    files_.fetch_add(1, std::memory_order_relaxed);
    bytes_.fetch_add(bytes, std::memory_order_relaxed);
}

bool LiveScanProgress::StopRequested() { return CancelRequested.load(std::memory_order_relaxed); }

void LiveScanProgress::ShowProgress() {
    std::wstring path;
    {
        SrwExclusiveGuard guard(lock_);
        path = current_;
    }
    const std::wstring text = FormatScanProgress(files_.load(), bytes_.load(), path);
    SetStatusText(::GetDlgItem(dialog_, IDC_STATUS_BAR), text.c_str());
}

void LiveScanProgress::ShowClosingText() {
    std::wstring closing;
    {
        SrwExclusiveGuard guard(lock_);
        closing = closingText_;
    }
    if (CancelRequested.load()) closing = kScanCancelledText;
    if (!closing.empty()) SetStatusText(::GetDlgItem(dialog_, IDC_STATUS_BAR), closing.c_str());
}

void LiveScanProgress::WaitForWorker(HANDLE worker) {
    files_ = 0;
    bytes_ = 0;
    {
        SrwExclusiveGuard guard(lock_);
        current_.clear();
        closingText_.clear();
    }
    CancelRequested = false;
    if (dialog_ == nullptr || !::IsWindow(dialog_)) {
        ::WaitForSingleObject(worker, INFINITE);
        return;
    }

    bool quit = false;
    WPARAM quitCode = 0;
    ScanWaiting = true;
    {
        ControlsHeld held(dialog_);
        ULONGLONG lastShown = 0;
        for (;;) {
            const DWORD woken = ::MsgWaitForMultipleObjectsEx(1, &worker, kRefreshMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            if (woken == WAIT_OBJECT_0) break;
            if (woken == WAIT_FAILED) {
                ::WaitForSingleObject(worker, INFINITE);
                break;
            }
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_QUIT) {
                    // Handed on to the loop that owns it once the scan has stopped.
                    quit = true;
                    quitCode = message.wParam;
                    CancelRequested = true;
                    continue;
                }
                if (!::IsDialogMessageW(dialog_, &message)) {
                    ::TranslateMessage(&message);
                    ::DispatchMessageW(&message);
                }
            }
            const ULONGLONG now = ::GetTickCount64();
            if (now - lastShown >= kRefreshMs) {
                ShowProgress();
                lastShown = now;
            }
        }
        ScanWaiting = false;
        // The closing text replaces the progress before the controls come back, so
        // that the dialog never shows a scan running with its fields enabled.
        ShowClosingText();
    }
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
}
