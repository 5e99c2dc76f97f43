#include "engine/access_scan.h"

#include "engine/tree_copy.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/debug_line_queue.h"
#include "base/debug_log.h"
#include "base/text.h"
#include "base/srw_lock.h"
#include "base/unique_resource.h"
#include "base/work_pool.h"

namespace {

// A folder's identity on its volume, the same whichever path (or junction) led to it.
struct FolderId {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
    bool operator==(const FolderId& other) const {
        return volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow;
    }
};

struct FolderIdHash {
    size_t operator()(const FolderId& id) const noexcept {
        const std::uint64_t index = (std::uint64_t{id.indexHigh} << 32) | id.indexLow;
        return std::hash<std::uint64_t>()(index * 31u + id.volume);
    }
};

bool ReadFolderId(const std::wstring& folder, FolderId& id) {
    // No access rights are needed to read a folder's identity; backup semantics
    // open folders, and junctions are followed to the folder they point at.
    UniqueFileHandle handle(::CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle.get(), &info)) return false;
    id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

std::wstring ChildPath(const std::wstring& folder, const wchar_t* name) {
    std::wstring path = folder;
    if (!path.empty()) path += L'\\';
    path += name;
    return path;
}

UniqueFindHandle OpenListing(const std::wstring& pattern, WIN32_FIND_DATAW& entry) {
    return UniqueFindHandle(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                               nullptr, FIND_FIRST_EX_LARGE_FETCH));
}

// Names of files of one folder, each followed by its NUL in one buffer, with
// their attributes and sizes: a batch costs one allocation, not one per file.
struct FileBatch {
    std::wstring names;
    std::vector<DWORD> attributes;
    std::vector<std::uint64_t> sizes;
};

// What one listing of a folder found.
struct FolderEntries {
    std::vector<std::wstring> subFolders;
    std::vector<std::wstring> links;  // junctions and other reparse points, never entered
    std::vector<bool> linkIsFolder;
    std::vector<FileBatch> fileBatches;
};

enum class EntryKind { Skipped, Folder, Link, File };

// How one listed entry takes part in the scan. Any reparse point counts as a link
// here, file or folder: it is examined, never walked or opened through.
EntryKind ClassifyEntry(const WIN32_FIND_DATAW& entry) {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return IsDotEntry(entry.cFileName) ? EntryKind::Skipped : EntryKind::Link;
    }
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return IsDotEntry(entry.cFileName) ? EntryKind::Skipped : EntryKind::Folder;
    }
    return EntryKind::File;
}

std::uint64_t FileSizeOf(const WIN32_FIND_DATAW& entry) {
    return (std::uint64_t{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow;
}

std::wstring HexText(DWORD value) {
    wchar_t text[16];
    ::wsprintfW(text, L"%X", value);
    return text;
}

// The length of the full form of `path`, or of `path` itself when it has none.
size_t FullPathLength(const std::wstring& path) {
    const DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    return length > 0 ? length - 1 : path.size();
}

// A folder of many files is tested by several threads at once, in batches of
// this many files.
constexpr std::size_t kFilesPerBatch = 64;

// One piece of a scan's work: list a folder, test a batch of its files, or test
// the files of a folder that match a mask other than "*".
struct ScanItem {
    enum class Kind { Folder, Files, MatchingFiles };
    Kind kind = Kind::Folder;
    std::wstring folder;
    FileBatch files;  // Files only
};

// Everything a scan found, from every thread's own share. Only the thread whose
// failure was reported holds a failure's path.
void MergeFindings(AccessScanFindings& into, AccessScanFindings& from) {
    into.systemFiles = into.systemFiles || from.systemFiles;
    into.totalBytes += from.totalBytes;
    for (LinkRecord& link : from.links) into.links.push_back(std::move(link));
    if (into.foreignReparsePoint.empty()) into.foreignReparsePoint = from.foreignReparsePoint;
    if (into.pathTooLong.empty()) into.pathTooLong = from.pathTooLong;
    const std::wstring& longest = from.longestRelativePath;
    if (longest.size() > into.longestRelativePath.size() ||
        (longest.size() == into.longestRelativePath.size() && longest < into.longestRelativePath)) {
        into.longestRelativePath = longest;
    }
}

// The threads meet links in an order of their own; the findings list them by path.
void SortLinks(std::vector<LinkRecord>& links) {
    std::sort(links.begin(), links.end(),
              [](const LinkRecord& a, const LinkRecord& b) { return a.relativePath < b.relativePath; });
}

// One scan of one tree on a pool of threads. Each thread lists one folder or
// tests one batch of files at a time; a listing hands the folder's sub-folders
// and file batches to the pool. The pool takes the newest piece first and a
// listing adds its files below its sub-folders, so with one thread the order is
// the depth-first one: deeper folders first, siblings and files in listing order.
//
// The first failure ends the scan: it is reported, the pool stops, and no thread
// reports anything after it. Reports reach `progress` one at a time, whichever
// thread makes them, so a progress need not be safe to call from several threads.
class AccessScan {
public:
    AccessScan(const std::wstring& root, const std::wstring& mask, AccessScanProgress& progress, int threads,
               bool anyLength)
        : root_(root),
          fullRootExtra_(FullPathLength(root) - std::min(FullPathLength(root), root.size())),
          anyLength_(anyLength),
          mask_(mask),
          allFiles_(mask == L"*" || mask == L"*.*"),
          progress_(progress),
          threads_(threads),
          findings_(static_cast<std::size_t>(threads)) {}

    // False at the first failure. Throws std::bad_alloc when memory ran out.
    bool Run(const std::wstring& folder, AccessScanFindings& findings) {
        ScanItem root;
        root.folder = folder;
        pool_.Add(std::move(root));
        const PoolOutcome outcome = pool_.Run(threads_, *this);
        if (outcome == PoolOutcome::Failed) throw std::bad_alloc();
        for (AccessScanFindings& own : findings_) MergeFindings(findings, own);
        SortLinks(findings.links);
        findings.cancelled = cancelled_.load();
        return outcome == PoolOutcome::Finished && !findings.cancelled;
    }

    // The pool's handler: one piece of work on thread `worker`.
    void operator()(const ScanItem& item, int worker) {
        AccessScanFindings& own = findings_[static_cast<std::size_t>(worker)];
        switch (item.kind) {
        case ScanItem::Kind::Folder:
            ScanFolder(item.folder, own);
            break;
        case ScanItem::Kind::Files:
            TestFiles(item.folder, item.files, own);
            break;
        case ScanItem::Kind::MatchingFiles:
            ScanMatchingFiles(item.folder, own);
            break;
        }
    }

private:
    void ScanFolder(const std::wstring& folder, AccessScanFindings& own) {
        if (Cancelled()) return;
        FolderId id;
        if (!ReadFolderId(Reach(folder), id)) {
            Fail(folder);
            return;
        }
        if (!FirstVisit(id)) return;  // already tested through another path

        // Listing a folder is what costs most besides the opens (every entry's
        // attributes are read), so one listing serves both when every file is to
        // be tested. No listing stays open while other pieces run.
        FolderEntries entries;
        if (!ListFolder(Reach(folder), allFiles_, entries)) {
            Fail(folder);
            return;
        }
        for (size_t i = 0; i < entries.links.size(); ++i) {
            if (!RecordLink(ChildPath(folder, entries.links[i].c_str()), entries.linkIsFolder[i], own)) return;
        }
        std::vector<std::wstring> subFolders;
        subFolders.reserve(entries.subFolders.size());
        for (const auto& name : entries.subFolders) {
            subFolders.push_back(ChildPath(folder, name.c_str()));
            if (!PathFits(subFolders.back(), own)) return;
        }
        // Newest first: files below the sub-folders, each in listing order.
        if (allFiles_) {
            for (auto batch = entries.fileBatches.rbegin(); batch != entries.fileBatches.rend(); ++batch) {
                ScanItem files;
                files.kind = ScanItem::Kind::Files;
                files.folder = folder;
                files.files = std::move(*batch);
                pool_.Add(std::move(files));
            }
        } else {
            ScanItem matching;
            matching.kind = ScanItem::Kind::MatchingFiles;
            matching.folder = folder;
            pool_.Add(std::move(matching));
        }
        for (auto path = subFolders.rbegin(); path != subFolders.rend(); ++path) {
            ScanItem sub;
            sub.folder = std::move(*path);
            pool_.Add(std::move(sub));
        }
    }

    // True for the first path that reaches the folder `id`.
    bool FirstVisit(const FolderId& id) {
        SrwExclusiveGuard guard(walkedLock_);
        return walked_.insert(id).second;
    }

    static bool ListFolder(const std::wstring& folder, bool withFiles, FolderEntries& entries) {
        WIN32_FIND_DATAW entry;
        UniqueFindHandle listing = OpenListing(folder + L"\\*.*", entry);
        if (!listing) {
            // Only a volume's empty root answers "no entries" instead of "." and "..".
            return ::GetLastError() == ERROR_FILE_NOT_FOUND;
        }
        do {
            switch (ClassifyEntry(entry)) {
            case EntryKind::Skipped:
                break;
            case EntryKind::Folder:
                entries.subFolders.emplace_back(entry.cFileName);
                break;
            case EntryKind::Link:
                entries.links.emplace_back(entry.cFileName);
                entries.linkIsFolder.push_back((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
                break;
            case EntryKind::File:
                if (withFiles) AddToBatch(entries.fileBatches, entry);
                break;
            }
        } while (::FindNextFileW(listing.get(), &entry));
        return ::GetLastError() == ERROR_NO_MORE_FILES;
    }

    static void AddToBatch(std::vector<FileBatch>& batches, const WIN32_FIND_DATAW& entry) {
        if (batches.empty() || batches.back().attributes.size() == kFilesPerBatch) batches.emplace_back();
        FileBatch& batch = batches.back();
        batch.names.append(entry.cFileName);
        batch.names.push_back(L'\0');
        batch.attributes.push_back(entry.dwFileAttributes);
        batch.sizes.push_back(FileSizeOf(entry));
    }

    void TestFiles(const std::wstring& folder, const FileBatch& batch, AccessScanFindings& own) {
        const wchar_t* name = batch.names.c_str();
        for (size_t i = 0; i < batch.attributes.size(); ++i) {
            if (!TestFile(ChildPath(folder, name), batch.attributes[i], batch.sizes[i], own)) return;
            name += std::char_traits<wchar_t>::length(name) + 1;
        }
    }

    void ScanMatchingFiles(const std::wstring& folder, AccessScanFindings& own) {
        WIN32_FIND_DATAW entry;
        UniqueFindHandle listing = OpenListing(ChildPath(Reach(folder), mask_.c_str()), entry);
        if (!listing) {
            if (::GetLastError() != ERROR_FILE_NOT_FOUND) Fail(folder);  // else nothing matches the mask
            return;
        }
        do {
            if (ClassifyEntry(entry) != EntryKind::File) continue;
            if (!TestFile(ChildPath(folder, entry.cFileName), entry.dwFileAttributes, FileSizeOf(entry), own)) return;
        } while (::FindNextFileW(listing.get(), &entry));
        if (::GetLastError() != ERROR_NO_MORE_FILES) Fail(folder);
    }

    // Notes how deep the tree goes below its root; false (and the path noted) when
    // the full path reaches MAX_PATH, which the shell's move cannot handle, unless
    // paths of any length were asked for. A link must always fit: it is carried
    // by its recorded path.
    bool PathFits(const std::wstring& path, AccessScanFindings& own, bool link = false) {
        if (path.size() > root_.size() + 1 + own.longestRelativePath.size()) {
            own.longestRelativePath.assign(path, root_.size() + 1, std::wstring::npos);
        }
        if ((anyLength_ && !link) || path.size() + fullRootExtra_ < MAX_PATH) return true;
        Fail(path, &own.pathTooLong);
        return false;
    }

    // The form in which the system takes `path`: as it is, or, when it is too long
    // for that, in "\\?\" form (paths of any length were asked for only with a
    // full root).
    std::wstring Reach(const std::wstring& path) const {
        if (!anyLength_ || path.size() + fullRootExtra_ < MAX_PATH) return path;
        return ExtendedLengthPath(path);
    }

    // A link is recorded, never followed. Reparse points of other kinds (cloud
    // placeholders, deduplicated files, other vendors' tags) cannot be moved safely
    // by anyone but their owner: the scan stops at them.
    bool RecordLink(const std::wstring& path, bool folder, AccessScanFindings& own) {
        if (!PathFits(path, own, true)) return false;
        LinkRecord record;
        record.folder = folder;
        DWORD tag = 0;
        switch (ReadLinkData(path.c_str(), folder, record.data, tag)) {
        case LinkKind::Junction:
        case LinkKind::SymbolicLink:
            break;
        case LinkKind::Other:
        case LinkKind::Unreadable:
            lines_.Add(L"Tressel.Error: " + path + L" is a reparse point (tag " + HexText(tag) + L") that cannot be moved.");
            Fail(path, &own.foreignReparsePoint);
            return false;
        }
        record.relativePath = path.substr(root_.size() + 1);
        own.links.push_back(std::move(record));
        return true;
    }

    // False once the scan has stopped (this file failed, or another thread's did).
    bool TestFile(const std::wstring& path, DWORD attributes, std::uint64_t size, AccessScanFindings& own) {
        if (Cancelled()) return false;
        if (!PathFits(path, own)) return false;
        if (!ReportTesting(path)) return false;
        // Exactly what the move will need: read and write, while others may share.
        HANDLE file = ::CreateFileW(Reach(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        const bool opened = file != INVALID_HANDLE_VALUE && file != nullptr;
        if (opened) ::CloseHandle(file);
        if (!ReportTested(path, opened)) return false;
        if ((attributes & FILE_ATTRIBUTE_SYSTEM) != 0) own.systemFiles = true;
        own.totalBytes += size;
        progress_.OnFilePassed(size);
        return true;
    }

    // The user asked the scan to stop: nothing failed, the pool stops.
    bool Cancelled() {
        if (cancelled_.load()) return true;
        if (!progress_.StopRequested()) return false;
        cancelled_ = true;
        pool_.Stop();
        return true;
    }

    // ---- reports: progress one at a time, nothing after the failure ----------

    // Only the progress is held here, never the debug lines: a thread about to test
    // a file must not wait for other threads' lines.
    bool ReportTesting(const std::wstring& path) {
        SrwExclusiveGuard guard(progressLock_);
        if (failed_) return false;
        progress_.OnTesting(path);
        return true;
    }

    // The debug line names a file once its test is done, so the failing file's
    // line is the last the scan writes. Lines of files that passed may be queued by
    // several threads at once; the failure waits for them and shuts out the ones
    // after it. The queue writes them in that order. False once the scan has stopped.
    bool ReportTested(const std::wstring& path, bool opened) {
        if (opened) {
            SrwSharedGuard guard(reportLock_);
            if (failed_) return false;
            lines_.Add(kTestedLine + path);
            return true;
        }
        {
            SrwExclusiveGuard lines(reportLock_);
            SrwExclusiveGuard guard(progressLock_);
            if (failed_) return false;
            lines_.Add(kTestedLine + path);
            failed_ = true;
            progress_.OnStopped(path);
        }
        pool_.Stop();
        return false;
    }

    // Reports `path` unless another failure was reported first, and stops the pool.
    // The reported failure alone also lands in `finding`, when one is given.
    void Fail(const std::wstring& path, std::wstring* finding = nullptr) {
        {
            SrwExclusiveGuard lines(reportLock_);
            SrwExclusiveGuard guard(progressLock_);
            if (failed_) return;
            failed_ = true;
            if (finding != nullptr) *finding = path;
            progress_.OnStopped(path);
        }
        pool_.Stop();
    }

    static constexpr const wchar_t* kTestedLine = L"Scanning for access: ";

    std::wstring root_;
    size_t fullRootExtra_;  // how much longer the root's full path is than `root_`
    bool anyLength_;        // paths of MAX_PATH characters and more are tested, not refused
    std::wstring mask_;
    bool allFiles_;
    AccessScanProgress& progress_;
    int threads_;
    WorkPool<ScanItem> pool_;
    std::vector<AccessScanFindings> findings_;  // one per thread, merged at the end

    // Taken in this order. reportLock_ orders the debug lines: shared for the lines
    // of files that passed, exclusive for the failure. progressLock_ makes the
    // progress hear one call at a time.
    SRWLOCK reportLock_ = SRWLOCK_INIT;
    SRWLOCK progressLock_ = SRWLOCK_INIT;
    // Written with both locks held exclusively; read under either.
    bool failed_ = false;

    std::atomic<bool> cancelled_{false};
    SRWLOCK walkedLock_ = SRWLOCK_INIT;
    std::unordered_set<FolderId, FolderIdHash> walked_;  // guarded by walkedLock_

    // A line per file tested, written by a thread of its own: under Wine each write
    // is a round trip to the server, as long as a tenth of a file's test. Declared
    // last, so that it is destroyed first and every line is written before the scan
    // returns.
    DebugLineQueue lines_;
};

// What the scan's worker needs, handed to it as its start parameter; the starting
// thread reads the results only after the worker has ended.
struct ScanJob {
    std::wstring folder;
    bool anyLength = false;
    AccessScanProgress* progress;
    AccessScanFindings findings;
    bool passed = false;
};

DWORD WINAPI ScanJobThread(void* parameter) {
    ScanJob& job = *static_cast<ScanJob*>(parameter);
    job.passed = ScanWholeTree(job.folder, *job.progress, job.findings, job.anyLength);
    return job.passed ? 1 : 0;
}

}  // namespace

bool ScanWholeTree(const std::wstring& folder, AccessScanProgress& progress, AccessScanFindings& findings,
                   bool anyLength) noexcept {
    try {
        if (!ScanForAccess(folder, L"*", progress, findings, 0, anyLength)) return false;
        progress.OnPassed();
        return true;
    } catch (...) {
        // Out of memory: the tree could not be checked, so it must not be moved.
        DebugLine(L"Tressel.Error: the access scan ran out of memory.");
        return false;
    }
}

bool ScanForAccess(std::wstring folder, const std::wstring& mask, AccessScanProgress& progress,
                   AccessScanFindings& findings, int threads, bool anyLength) {
    findings = AccessScanFindings{};
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    // A missing source, or one that is a file, has nothing to test; the relocation
    // checks the source itself right after the scan and tells the user.
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return true;
    if (threads <= 0) threads = PoolThreadCount();
    if (threads > kMaxPoolThreads) threads = kMaxPoolThreads;
    AccessScan scan(folder, mask, progress, threads, anyLength);
    return scan.Run(folder, findings);
}

AccessScanOutcome RunAccessScan(const std::wstring& folder, AccessScanProgress& progress,
                                AccessScanFindings& findings, bool anyLength) {
    auto job = std::make_unique<ScanJob>();
    job->folder = folder;
    job->anyLength = anyLength;
    job->progress = &progress;
    UniqueHandle worker(::CreateThread(nullptr, 0, ScanJobThread, job.get(), 0, nullptr));
    if (!worker) {
        DebugErrorLine(L"Tressel.Error: the access scan could not be started");
        return AccessScanOutcome::NotStarted;
    }
    progress.WaitForWorker(worker.get());
    findings = job->findings;
    // A stop asked for just as the last file passed still stops: nothing has moved.
    if (progress.StopRequested()) findings.cancelled = true;
    if (job->passed && !findings.cancelled) return AccessScanOutcome::Passed;
    return findings.cancelled ? AccessScanOutcome::Cancelled : AccessScanOutcome::Failed;
}
