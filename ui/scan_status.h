// The access scan as the relocation dialog runs it: a worker thread that takes its
// folder from ScanSourceFolder and shows each file it tests on the dialog's status
// bar (StatusBarWindow), posting, since the dialog's thread waits for it.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "engine/access_scan.h"

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

// ScanForAccess reporting to the status bar and to SystemFilesFound.
bool ScanForAccess(std::wstring folder, const std::wstring& mask);

// Posts a scan's progress to StatusBarWindow: the path being tested (thinned), the
// failing path, or "Moving ..." once every file passed. The texts stay owned here
// until DeliverScanProgress has shown them.
class StatusBarScanProgress : public AccessScanProgress {
public:
    void OnTesting(const std::wstring& path) override;
    void OnStopped(const std::wstring& path) override;
    void OnPassed() override;
};

// Shows the progress texts that the last scan posted to StatusBarWindow, then frees
// them. The worker posts while the dialog's thread is blocked waiting for it, so the
// texts must outlive the worker; call this on the dialog's thread after the worker
// has ended (and before the next scan starts).
void DeliverScanProgress();
