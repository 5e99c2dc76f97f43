// Pieces that both faces of the program share: the window icon, the status bar
// and the shell's folder browser.
#pragma once

#include <windows.h>

#include <string>

// Sets icon 138 as the dialog's big and small icon.
void SetDialogIcons(HWND dialog);

// Creates the dialog's status bar (id 4883, text "Status") in simple mode and
// publishes it as StatusBarWindow. Returns the status bar, or null.
HWND CreateSimpleStatusBar(HWND dialog);

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
