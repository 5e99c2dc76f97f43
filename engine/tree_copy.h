// Copies a folder's entries to a folder on another drive and proves the copy
// before anyone relies on it: every file is copied, flushed to the disk, then
// compared with its original (size, last-write time and attributes always; every
// byte when asked). The originals are only ever read.
//
// Paths of any length are copied: the copier works in "\\?\" form throughout.
// Links are not copied: the caller names the ones it makes itself, and any other
// reparse point met in the tree fails the copy rather than being followed or
// copied as a plain folder.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TreeCopyProgress {
    std::uint64_t bytesDone = 0;
    std::uint64_t bytesTotal = 0;
    std::uint32_t filesDone = 0;
    std::uint32_t filesTotal = 0;
    bool verifying = false;  // the copy is done; these figures count the check
};

struct TreeCopyRequest {
    std::wstring source;               // a full path, a folder
    std::wstring target;               // a full path, an existing folder on another drive
    std::vector<std::wstring> names;   // the entries of `source` to copy (files or folders)
    // Links below `source` ("sub\\link") that are left out: the caller makes them
    // in the target from their recorded data. Only a reparse point is left out.
    std::vector<std::wstring> links;
    bool compareContents = false;      // every byte compared, not only size and time
    int threads = 0;                   // 0: DefaultCopyThreads()
    // Set by any thread to stop the copy: it ends as soon as each file being copied
    // has noticed, with Cancelled.
    const std::atomic<bool>* cancel = nullptr;
    // Called from the copy's threads, at most ten times a second and once at the
    // end of each stage; never at the same time from two threads.
    std::function<void(const TreeCopyProgress&)> progress;
};

enum class TreeCopyResult {
    Copied,     // every file is in the target, flushed and found equal to its original
    Cancelled,  // stopped by `cancel`
    Failed,     // see `path` and `error`
};

enum class TreeCopyFault {
    None,
    SourceUnreadable,  // listing or reading an original failed
    TargetWrite,       // making a folder or writing a file in the target failed
    SourceChanged,     // an original changed while it was copied
    CopyDiffers,       // a copy is not equal to its original
    LinkInside,        // a reparse point in the tree
};

struct TreeCopyOutcome {
    TreeCopyResult result = TreeCopyResult::Failed;
    TreeCopyFault fault = TreeCopyFault::None;
    std::wstring path;  // the entry the fault is about, in the form the caller gave
    DWORD error = ERROR_SUCCESS;
    TreeCopyProgress totals;
};

// Copies request.names from request.source into request.target. Entries already
// at their names in the target are never overwritten: the copy fails there. On
// any result but Copied, what was made in the target stays for the caller to
// remove with RemoveCopiedEntries.
TreeCopyOutcome CopyTree(const TreeCopyRequest& request);

// Removes `names` (and all below them) from `folder`: the copy a copy made there.
// A link found in it (put there by someone else meanwhile) is removed as a link,
// never followed. Read-only files go too. Returns false, with the first entry that
// stayed in `left`, when anything could not be removed.
bool RemoveCopiedEntries(const std::wstring& folder, const std::vector<std::wstring>& names, std::wstring& left);

// The threads a copy uses when the request leaves it open: enough that small files
// overlap their opens and each one's wait on the disk.
int DefaultCopyThreads();

// True when `records`, FILE_STREAM_INFO records as the system returns them for a
// file, name only its unnamed data stream ("::$DATA"). Anything else (a named
// stream, no stream, a record that runs past `size`) is false.
bool HoldsOnlyUnnamedStream(const void* records, std::size_t size);

// "\\?\C:\x" or "\\?\UNC\server\share\x" for a full path, which then has no length
// limit; a path already in that form stays as it is.
std::wstring ExtendedLengthPath(const std::wstring& fullPath);
