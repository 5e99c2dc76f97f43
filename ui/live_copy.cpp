#include "ui/live_copy.h"

#include <algorithm>
#include <cwchar>

#include "resources/resource.h"
#include "ui/dialog_support.h"

namespace {

// Often enough to look alive, rarely enough to cost the copy nothing.
constexpr DWORD kRefreshMs = 100;
// A rate over less than this says little.
constexpr ULONGLONG kRateAfterMs = 1000;

std::atomic<bool> CopyWaiting{false};
std::atomic<bool> CancelRequested{false};

std::wstring Plural(std::uint64_t count, const wchar_t* one, const wchar_t* many) {
    return GroupedDigits(count) + (count == 1 ? one : many);
}

}  // namespace

std::wstring FormatByteSize(std::uint64_t bytes) {
    if (bytes < 1024) return Plural(bytes, L" byte", L" bytes");
    static const wchar_t* const kUnits[] = {L"KB", L"MB", L"GB", L"TB", L"PB"};
    double value = static_cast<double>(bytes) / 1024.0;
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    wchar_t text[32];
    std::swprintf(text, std::size(text), L"%.1f %ls", value, kUnits[unit]);
    return text;
}

std::wstring FormatTimeLeft(std::uint64_t seconds) {
    if (seconds == 0) seconds = 1;  // something is left, or no time would be shown
    if (seconds < 60) return L"about " + std::to_wstring(seconds) + L" s left";
    const std::uint64_t minutes = (seconds + 30) / 60;
    if (minutes < 60) return L"about " + std::to_wstring(minutes) + L" min left";
    std::wstring text = L"about " + std::to_wstring(minutes / 60) + L" h";
    if (minutes % 60 != 0) text += L" " + std::to_wstring(minutes % 60) + L" min";
    return text + L" left";
}

std::wstring FormatCopyProgress(const TreeCopyProgress& progress, ULONGLONG elapsedMs) {
    std::wstring text = progress.verifying ? L"Checking the copy: " : L"Copying: ";
    text += GroupedDigits(progress.filesDone) + L" of " + Plural(progress.filesTotal, L" file", L" files");
    text += L", " + FormatByteSize(progress.bytesDone) + L" of " + FormatByteSize(progress.bytesTotal);
    if (elapsedMs >= kRateAfterMs && progress.bytesDone > 0) {
        const double seconds = static_cast<double>(elapsedMs) / 1000.0;
        const double bytesPerSecond = static_cast<double>(progress.bytesDone) / seconds;
        text += L", " + FormatByteSize(static_cast<std::uint64_t>(bytesPerSecond)) + L"/s";
        // Small files cost their count more than their bytes: whichever of the
        // two rates says longer is nearer the truth.
        double left = 0;
        if (progress.bytesTotal > progress.bytesDone) {
            left = static_cast<double>(progress.bytesTotal - progress.bytesDone) / bytesPerSecond;
        }
        if (progress.filesDone > 0 && progress.filesTotal > progress.filesDone) {
            const double filesPerSecond = static_cast<double>(progress.filesDone) / seconds;
            left = std::max(left, static_cast<double>(progress.filesTotal - progress.filesDone) / filesPerSecond);
        }
        if (progress.bytesTotal > progress.bytesDone || progress.filesTotal > progress.filesDone) {
            text += L", " + FormatTimeLeft(static_cast<std::uint64_t>(left + 0.5));
        }
    }
    return text;
}

bool DialogCopyRunning() { return CopyWaiting.load(); }

void CancelDialogCopy() {
    if (CopyWaiting.load()) CancelRequested.store(true);
}

void LiveCopyProgress::OnProgress(const TreeCopyProgress& progress) {
    SrwExclusiveGuard guard(lock_);
    latest_ = progress;
    reported_ = true;
}

void LiveCopyProgress::Show(ULONGLONG now) {
    TreeCopyProgress progress;
    bool reported = false;
    {
        SrwExclusiveGuard guard(lock_);
        progress = latest_;
        reported = reported_;
    }
    // Each stage has its own rate: the check reads what the copy wrote.
    if (progress.verifying != verifyingShown_) {
        verifyingShown_ = progress.verifying;
        stageStart_ = now;
    }
    const std::wstring text = CancelRequested.load() ? std::wstring(kCopyCancellingText)
                              : reported             ? FormatCopyProgress(progress, now - stageStart_)
                                                     : std::wstring(kCopyListingText);
    SetStatusText(::GetDlgItem(dialog_, IDC_STATUS_BAR), text.c_str());
}

void LiveCopyProgress::Wait(HANDLE worker, std::atomic<bool>& cancel) {
    CancelRequested = false;
    if (dialog_ == nullptr || !::IsWindow(dialog_)) {
        ::WaitForSingleObject(worker, INFINITE);
        return;
    }
    bool quit = false;
    WPARAM quitCode = 0;
    stageStart_ = ::GetTickCount64();
    verifyingShown_ = false;
    {
        SrwExclusiveGuard guard(lock_);
        reported_ = false;
    }
    CopyWaiting = true;
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
                    // Handed on to the loop that owns it once the copy has stopped.
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
            if (CancelRequested.load()) cancel.store(true);
            const ULONGLONG now = ::GetTickCount64();
            if (now - lastShown >= kRefreshMs) {
                Show(now);
                lastShown = now;
            }
        }
        CopyWaiting = false;
    }
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
}

void LiveCopyProgress::OnSwapping(bool swapping) {
    if (dialog_ == nullptr || !::IsWindow(dialog_)) return;
    ::EnableWindow(::GetDlgItem(dialog_, IDCANCEL), swapping ? FALSE : TRUE);
    if (swapping) SetStatusText(::GetDlgItem(dialog_, IDC_STATUS_BAR), kSwappingText);
}
