// Pieces that both faces of the program share: the window icon, the status bar,
// following the display scale, and the shell's folder browser.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Sets icon 138 as the dialog's big and small icon, at the sizes the dialog's DPI
// asks for.
void SetDialogIcons(HWND dialog);

// Creates the dialog's status bar (id 4883, text "Status") in simple mode, in the
// status font of the dialog's DPI, and publishes it as StatusBarWindow. Returns the
// status bar, or null.
HWND CreateSimpleStatusBar(HWND dialog);

// The DPI that the dialog's icons and status bar were last sized for.
UINT DialogDpi(HWND dialog);

// WM_DPICHANGED (the dialog went to a monitor of another scale): moves and resizes
// the dialog to the suggested rectangle, and sizes its icons and status bar for
// `newDpi`. The dialog manager re-lays out the template's controls itself. Returns
// the DPI the dialog had before, for what the dialog sizes in pixels on its own.
UINT OnDialogDpiChanged(HWND dialog, UINT newDpi, const RECT& suggested);

// WM_SIZE: keeps the status bar along the dialog's bottom edge, whoever resized
// the dialog (the dialog manager does when the DPI changes).
void FitStatusBar(HWND dialog);

// WM_DESTROY: frees the icons and the font that the two calls above made.
void ReleaseDialogResources(HWND dialog);

// Sets the status bar's simple text; safe to call from a worker thread that the
// dialog's thread is not waiting for.
void SetStatusText(HWND statusBar, const wchar_t* text);

// Shows the shell's folder browser (no owner, rooted at the desktop) and on success
// copies the picked folder's file-system path into `path`. False when the user
// cancelled or the pick has no file-system path; `path` is then unchanged.
bool BrowseForFolder(const wchar_t* title, UINT flags, wchar_t (&path)[MAX_PATH]);

// Reads a control's whole text. False when it does not fit `capacity` characters
// (terminator included): a path that would be cut is never used.
bool ReadControlText(HWND dialog, int controlId, wchar_t* buffer, int capacity);

// A control's whole text, however long.
std::wstring ReadWholeControlText(HWND dialog, int controlId);

// Disables every control of the dialog but Cancel and the status bar for one
// scope (while a worker runs and the dialog keeps answering), and gives back
// exactly those it disabled, and the focus.
class ControlsHeld {
public:
    explicit ControlsHeld(HWND dialog);
    ~ControlsHeld();
    ControlsHeld(const ControlsHeld&) = delete;
    ControlsHeld& operator=(const ControlsHeld&) = delete;

private:
    HWND dialog_;
    HWND focus_;
    std::vector<HWND> disabled_;
};

// "1,234,567": a number the user can read at a glance.
std::wstring GroupedDigits(unsigned long long number);
