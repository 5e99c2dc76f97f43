// The copy between drives as a dialog shows it while the dialog keeps answering:
// the dialog's thread pumps its messages while the copy's worker runs, the status
// bar shows files, bytes, rate and time left a few times a second, and Cancel
// (Esc, the close box) stops the copy. Every control but Cancel is disabled
// meanwhile, and Cancel too while the source is swapped for the junction.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "base/srw_lock.h"
#include "engine/tree_copy.h"

// "Copying: 12 of 40 files, 1.2 MB of 3.0 MB, 2.0 MB/s, about 1 s left", or
// "Checking the copy: ..." once the copy is being proven. The rate and the time
// left are given once `elapsedMs` of this stage say something; the time left is
// the longer of what the bytes and the files still to do take at their rates.
std::wstring FormatCopyProgress(const TreeCopyProgress& progress, ULONGLONG elapsedMs);

// "512 bytes", "1.5 KB", "12.0 MB", "3.2 GB": a size at a glance (1 KB = 1,024 bytes).
std::wstring FormatByteSize(std::uint64_t bytes);

// "about 5 s left", "about 3 min left", "about 2 h 5 min left"; never less than a second.
std::wstring FormatTimeLeft(std::uint64_t seconds);

// Shown until the copy has listed what it copies.
constexpr wchar_t kCopyListingText[] = L"Copying: listing the files ...";
// Shown while a cancelled copy is removed.
constexpr wchar_t kCopyCancellingText[] = L"Cancelling: removing what was copied ...";
// Shown while the source is swapped for the junction.
constexpr wchar_t kSwappingText[] = L"Putting the junction in place ...";

// True while a dialog's thread waits for a copy: the dialog's Cancel then stops
// the copy, and its other commands are not run.
bool DialogCopyRunning();
// Stops the running copy; nothing when none runs.
void CancelDialogCopy();

class LiveCopyProgress {
public:
    // `dialog` shows the progress on its status bar (IDC_STATUS_BAR); null: the
    // wait only waits.
    explicit LiveCopyProgress(HWND dialog) : dialog_(dialog) {}

    // From the copy's threads.
    void OnProgress(const TreeCopyProgress& progress);
    // Returns once `worker` has ended; sets `cancel` when the user cancels.
    void Wait(HANDLE worker, std::atomic<bool>& cancel);
    // Cancel is off while the source is swapped.
    void OnSwapping(bool swapping);

private:
    void Show(ULONGLONG now);

    HWND dialog_;
    SRWLOCK lock_ = SRWLOCK_INIT;
    TreeCopyProgress latest_;  // under lock_
    bool reported_ = false;    // under lock_: the copy has given its first figures
    bool verifyingShown_ = false;
    ULONGLONG stageStart_ = 0;
};
