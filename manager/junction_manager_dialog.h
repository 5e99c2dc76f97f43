// The manager face: find junctions in a folder tree and remove the selected ones.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

// Posted by the dialog to itself: clear the list and scan the folder box's folder.
constexpr UINT WM_STARTSCAN = WM_USER + 9;

// The running scan's abort event (manual reset), or null while no scan runs. The
// dialog creates it before it starts the worker and closes it once the worker has
// reported its end; the dialog signals it to stop the scan, the worker's visitor
// only tests it.
extern std::atomic<HANDLE> ScanAbortEvent;

// Dialog procedure of template 139. The initialisation parameter is the start-up
// path (a folder named on the command line, or empty): it fills the folder box and
// is scanned at once. The dialog ends with the id of the button that closed it
// (1 or 2).
INT_PTR CALLBACK JunctionManagerDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The scan worker: walks the folder of its request (a ScanRequest the dialog
// allocated and the thread owns) with a small pool of threads, which hand each
// junction, with its state, to the rows the dialog lists a few times a second; it
// ends after every thread of its walk has ended.
DWORD WINAPI JunctionScanThread(void* request);

// The walk's visitor: `context` is the scan's shared rows. Adds each found reparse
// point, without "\??\" on either path and with its state, and returns false
// once the scan is to stop.
// Called by any thread of the walk, several at once.
bool OnJunctionFound(std::uintptr_t context, const wchar_t* path, const wchar_t* target, DWORD tag);
