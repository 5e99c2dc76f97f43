// Runs the access scan worker as the relocation runs it: on its own thread, with a
// status bar on the calling thread that takes the worker's posts only after the
// worker has ended.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace relocation_testing {

struct ScanResult {
    DWORD exitCode = 99;
    std::wstring status;               // the status bar's text afterwards
    bool systemFiles = false;          // SystemFilesFound afterwards
    size_t queuedTexts = 0;            // texts queued when the worker ended (with countQueued)
    std::vector<std::wstring> tested;  // the files tested, in order, from the debug lines
};

// With `countQueued` the queued status texts are counted (and shown) here before
// the program's own delivery runs.
ScanResult RunScan(const std::wstring& folder, bool countQueued = false);

// The scans started while it lives use `threads` threads.
class ScanThreadsScope {
public:
    explicit ScanThreadsScope(int threads);
    ~ScanThreadsScope();
    ScanThreadsScope(const ScanThreadsScope&) = delete;
    ScanThreadsScope& operator=(const ScanThreadsScope&) = delete;
};

// The thread counts every scan test runs with: the ordered walk and pools.
constexpr int kScanThreadCounts[] = {1, 2, 4};

}  // namespace relocation_testing
