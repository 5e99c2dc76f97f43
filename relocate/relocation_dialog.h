// The relocation face: the folder to move, its new backing folder, and OK.
#pragma once

#include <windows.h>

// Dialog procedure of template 129. The initialisation parameter is the start-up
// path (a wide string, possibly empty) that goes into the source field. The dialog
// ends with 0 after a completed relocation and with 2 after Cancel or closing.
INT_PTR CALLBACK RelocationDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
