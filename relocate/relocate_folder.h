// The relocation command behind OK: the dialog's two fields handed to the
// relocation engine, which reports through the dialog.
#pragma once

#include <windows.h>

// Relocates the folder named in the dialog's source field to its destination field.
// Ends the dialog with 0 after a completed relocation; otherwise it stays open, and
// the files are either all back in the source folder or the user is told where.
void RelocateFolder(HWND dialog);

// True while a relocation runs on the dialog's thread (its message boxes and the
// shell's progress window keep the dialog's messages flowing): a second command
// then waits for none and is ignored.
bool RelocationRunning();
