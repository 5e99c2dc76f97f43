// The relocation dialog's side of a relocation: the access scan's progress on its
// status bar, and every question and message in the box that the message table
// names for it.
#pragma once

#include <windows.h>

#include "engine/relocation_engine.h"
#include "ui/live_copy.h"
#include "ui/live_scan.h"

class DialogRelocationReporter : public RelocationObserver {
public:
    // `dialog` owns the boxes that the table gives an owner; it may be null.
    // `scanPassedText` stays on its status bar once every file passed the scan.
    explicit DialogRelocationReporter(HWND dialog, const wchar_t* scanPassedText = kScanPassedMovingText)
        : dialog_(dialog), progress_(dialog, scanPassedText), copy_(dialog) {}

    AccessScanProgress& ScanProgress() override { return progress_; }
    void OnScanEnded() override;
    bool Confirm(RelocationMessage question, const RelocationFacts& facts) override;
    void Report(RelocationMessage message, const RelocationFacts& facts) override;
    // While files move, Windows is asked to hold off a shutdown or log-off, with
    // the reason shown to the user.
    void OnFilesMoving(bool moving) override;
    // The copy between drives on the status bar, with Cancel.
    void OnCopyProgress(const TreeCopyProgress& progress) override { copy_.OnProgress(progress); }
    void WaitForCopy(HANDLE worker, std::atomic<bool>& cancel) override { copy_.Wait(worker, cancel); }
    void OnSwapping(bool swapping) override { copy_.OnSwapping(swapping); }

private:
    // Shows `message` as the table says; the button that closed the box.
    int Show(RelocationMessage message, const RelocationFacts& facts);

    HWND dialog_;
    LiveScanProgress progress_;
    LiveCopyProgress copy_;
};

// True while files are on their way between the two folders (set through
// OnFilesMoving); the dialog then refuses to let the session end.
bool FilesMoving();
void SetFilesMoving(bool moving);
