// The relocation dialog's side of a relocation: the access scan's progress on its
// status bar, and every question and message in the box that the message table
// names for it.
#pragma once

#include <windows.h>

#include "engine/relocation_engine.h"
#include "ui/scan_status.h"

class DialogRelocationReporter : public RelocationObserver {
public:
    // `dialog` owns the boxes that the table gives an owner; it may be null.
    explicit DialogRelocationReporter(HWND dialog) : dialog_(dialog) {}

    AccessScanProgress& ScanProgress() override { return progress_; }
    void OnScanEnded() override;
    bool Confirm(RelocationMessage question, const RelocationFacts& facts) override;
    void Report(RelocationMessage message, const RelocationFacts& facts) override;
    // While files move, Windows is asked to hold off a shutdown or log-off, with
    // the reason shown to the user.
    void OnFilesMoving(bool moving) override;

private:
    // Shows `message` as the table says; the button that closed the box.
    int Show(RelocationMessage message, const RelocationFacts& facts);

    HWND dialog_;
    StatusBarScanProgress progress_;
};

// True while files are on their way between the two folders (set through
// OnFilesMoving); the dialog then refuses to let the session end.
bool FilesMoving();
void SetFilesMoving(bool moving);
