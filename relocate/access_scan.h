// The access scan: before a folder is moved, every file of its tree must open for
// reading and writing with full sharing, or the move could strand some of them.
// It runs on a worker thread while the dialog's thread waits for it.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

// The folder that the next scan walks. Written by the dialog's thread before it
// starts the worker; the worker copies it as it starts.
extern std::wstring ScanSourceFolder;

// Set by the worker when a file that passed the test carries the SYSTEM attribute.
// Cleared as each scan starts; read by the dialog once the worker has ended.
extern std::atomic<bool> SystemFilesFound;

// Thread procedure of the scan; its parameter is ignored. Exit code 1 when every
// file of ScanSourceFolder's tree opened for reading and writing (the status bar is
// then left showing "Moving ..."), 0 when one did not or a folder could not be
// listed (the status bar is left showing that file's or folder's path).
DWORD WINAPI AccessScanThread(void* parameter);

// Tests every file of the tree below `folder` whose name matches `mask`, deeper
// folders first. Folders reached through junctions are walked too, but no folder
// is walked twice, so a junction pointing back up the tree cannot make the walk
// endless. A `folder` that is missing or is not a folder passes: there is nothing
// to test, and the caller reports it. False at the first file that does not open,
// or at the first folder that cannot be listed.
bool ScanForAccess(std::wstring folder, const std::wstring& mask);

// Shows the progress texts that the last scan posted to StatusBarWindow, then frees
// them. The worker posts while the dialog's thread is blocked waiting for it, so the
// texts must outlive the worker; call this on the dialog's thread after the worker
// has ended (and before the next scan starts).
void DeliverScanProgress();
