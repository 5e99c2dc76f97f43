// The access scan: before a folder is moved, every file of its tree must open for
// reading and writing with full sharing, or the move could strand some of them.
// It touches no window: it reports what it is doing through AccessScanProgress.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "junction/link_data.h"

// Where a scan reports. The calls come from any of the scan's threads, but
// never two at once, and none after OnStopped.
class AccessScanProgress {
public:
    virtual ~AccessScanProgress() = default;
    // About to test the file `path`.
    virtual void OnTesting(const std::wstring& path) = 0;
    // The scan stopped at `path`: a file that did not open, or a folder that could
    // not be listed.
    virtual void OnStopped(const std::wstring& path) = 0;
    // Every file passed.
    virtual void OnPassed() = 0;
    // The file just tested passed; it holds `bytes`. This and StopRequested may be
    // called from several of the scan's threads at once.
    virtual void OnFilePassed(std::uint64_t /*bytes*/) {}
    // Asked before each folder and each file: true stops the scan there, with
    // nothing failed (AccessScanFindings::cancelled).
    virtual bool StopRequested() { return false; }
    // Called by RunAccessScan on the starting thread: returns once the scan's
    // worker has ended. A dialog keeps answering meanwhile by pumping its messages.
    virtual void WaitForWorker(HANDLE worker) { ::WaitForSingleObject(worker, INFINITE); }
};

// A junction or symbolic link inside the scanned tree, as found there.
struct LinkRecord {
    std::wstring relativePath;  // below the scanned folder: "sub\\link"
    bool folder = true;         // a folder link (junction, directory link) or a file link
    ReparseBytes data;          // its reparse data, byte for byte
};

// What a scan noticed besides passing or failing.
struct AccessScanFindings {
    bool systemFiles = false;         // a file that passed carries the SYSTEM attribute
    std::uint64_t totalBytes = 0;     // the sizes of the files tested, links not counted
    std::vector<LinkRecord> links;    // every link met, none of them entered
    std::wstring foreignReparsePoint; // stopped at a reparse point that is no link (or unreadable)
    std::wstring pathTooLong;         // stopped at a path of MAX_PATH characters or more
    std::wstring longestRelativePath; // the longest path below the scanned folder ("a\\b\\c.txt")
    bool cancelled = false;           // stopped because StopRequested said so
};

// Tests every file of the tree below `folder` whose name matches `mask`, on a pool
// of `threads` threads (0: PoolThreadCount()) that list folders and open files at
// once. Junctions and symbolic links are recorded with their reparse data and
// never entered: what they point at is not part of the tree (and old profile
// junctions refuse to be listed anyway). A reparse point of any other kind stops
// the scan, as does a full path of MAX_PATH characters or more. A `folder` that is
// missing or is not a folder passes: there is nothing to test, and the caller
// reports it. False at the first failure found: a file that does not open, a
// folder that cannot be listed, a path too long, a foreign reparse point; when
// several would fail, which one is found first depends on the threads' timing.
// With one thread the order is fixed: deeper folders first, then each folder's
// files in listing order. Links are listed in the order of their paths. Every
// thread of the scan has ended when it returns. Throws std::bad_alloc when memory
// runs out.
// With `anyLength` (`folder` then a full path), paths of MAX_PATH characters or
// more are tested like any other (for a copy, which takes them), and only a link
// at such a path stops the scan.
[[nodiscard]] bool ScanForAccess(std::wstring folder, const std::wstring& mask, AccessScanProgress& progress,
                                 AccessScanFindings& findings, int threads = 0, bool anyLength = false);

// Every file of `folder`'s tree, on the calling thread; `progress` hears OnPassed
// when all passed. Never throws: running out of memory fails the scan.
[[nodiscard]] bool ScanWholeTree(const std::wstring& folder, AccessScanProgress& progress,
                                 AccessScanFindings& findings, bool anyLength = false) noexcept;

enum class AccessScanOutcome { Passed, Failed, NotStarted, Cancelled };

// Scans `folder`'s whole tree on a worker thread of its own and waits for it
// (progress.WaitForWorker); the worker reports to `progress` meanwhile.
[[nodiscard]] AccessScanOutcome RunAccessScan(const std::wstring& folder, AccessScanProgress& progress,
                                              AccessScanFindings& findings, bool anyLength = false);
