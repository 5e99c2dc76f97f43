// The manager face: find junctions in a folder tree and remove the selected ones.
#pragma once

#include <windows.h>

// Dialog procedure of template 139. The initialisation parameter is the start-up
// path. The dialog ends with the id of the button that closed it (1 or 2).
INT_PTR CALLBACK JunctionManagerDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
