// Process-wide values that the entry sets once and the dialogs read.
#pragma once

#include <windows.h>

#include <atomic>

// The program's own module: where every string, icon and dialog is loaded from.
extern HINSTANCE AppInstance;

// String 103, the title of the program's own message boxes.
constexpr int kAppCaptionLength = 256;
extern wchar_t AppCaption[kAppCaptionLength];

// The status bar of whichever dialog is open. The dialog sets it while it
// initialises; worker threads read it to post or send progress texts.
extern std::atomic<HWND> StatusBarWindow;

// Loads AppInstance and AppCaption; called first thing by the entry, and by tests
// that drive the dialogs inside their own process.
void InitAppGlobals();
