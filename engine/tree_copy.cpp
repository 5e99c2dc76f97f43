#include "engine/tree_copy.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "base/srw_lock.h"
#include "base/text.h"
#include "base/unique_resource.h"
#include "base/work_pool.h"
#include "engine/disk_calls.h"
#include "engine/relocation_paths.h"
#include "junction/junction.h"

namespace {

constexpr ULONGLONG kProgressIntervalMs = 100;  // at most ten reports a second
constexpr DWORD kCompareChunk = 1u << 20;
constexpr int kDefaultCopyThreads = 4;

// What the originals looked like when they were listed: a copy is only as good as
// its match with these.
struct PlannedFile {
    std::wstring relative;
    std::uint64_t size = 0;
    FILETIME creation = {};
    FILETIME lastWrite = {};
    DWORD attributes = 0;
};

struct PlannedFolder {
    std::wstring relative;
    FILETIME creation = {};
    FILETIME lastWrite = {};
    DWORD attributes = 0;
};

// Attributes that travel with a copy; of these, the ones that change how programs
// treat a file must match after it (the archive bit is the system's to set).
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr DWORD kVerifiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

std::uint64_t SizeOf(DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; }

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Shared by the copy's threads: the first fault stops the rest, and progress is
// reported by whichever thread finds the interval over.
class CopyRun {
public:
    explicit CopyRun(const TreeCopyRequest& request) : request_(request) {}

    bool Cancelled() const { return request_.cancel != nullptr && request_.cancel->load(); }
    bool Stopping() const { return Cancelled() || failed_.load(); }

    void Fail(TreeCopyFault fault, const std::wstring& path, DWORD error) {
        SrwExclusiveGuard guard(faultLock_);
        if (failed_.load()) return;
        fault_ = fault;
        faultPath_ = path;
        faultError_ = error;
        failed_.store(true);
    }

    bool failed() const { return failed_.load(); }
    TreeCopyFault fault() const { return fault_; }
    const std::wstring& faultPath() const { return faultPath_; }
    DWORD faultError() const { return faultError_; }

    void SetTotals(std::uint64_t bytes, std::uint32_t files) {
        bytesTotal_ = bytes;
        filesTotal_ = files;
    }
    void StartStage(bool verifying) {
        verifying_.store(verifying);
        bytesDone_.store(0);
        filesDone_.store(0);
        Report(true);
    }
    void AddBytes(std::uint64_t bytes) {
        bytesDone_ += bytes;
        Report(false);
    }
    void FileDone() {
        ++filesDone_;
        Report(false);
    }

    TreeCopyProgress Snapshot() const {
        TreeCopyProgress progress;
        progress.bytesDone = bytesDone_.load();
        progress.bytesTotal = bytesTotal_;
        progress.filesDone = filesDone_.load();
        progress.filesTotal = filesTotal_;
        progress.verifying = verifying_.load();
        return progress;
    }

    // A report that finds another being made is simply skipped: the next one
    // carries the figures on.
    void Report(bool force) {
        if (!request_.progress) return;
        if (!::TryAcquireSRWLockExclusive(&reportLock_)) return;
        const ULONGLONG now = ::GetTickCount64();
        if (force || now - lastReport_ >= kProgressIntervalMs) {
            lastReport_ = now;
            try {
                request_.progress(Snapshot());
            } catch (...) {
                // A report that could not be shown stops nothing.
            }
        }
        ::ReleaseSRWLockExclusive(&reportLock_);
    }

private:
    const TreeCopyRequest& request_;
    std::atomic<bool> failed_{false};
    SRWLOCK faultLock_ = SRWLOCK_INIT;
    TreeCopyFault fault_ = TreeCopyFault::None;
    std::wstring faultPath_;
    DWORD faultError_ = ERROR_SUCCESS;
    std::uint64_t bytesTotal_ = 0;
    std::uint32_t filesTotal_ = 0;
    std::atomic<std::uint64_t> bytesDone_{0};
    std::atomic<std::uint32_t> filesDone_{0};
    std::atomic<bool> verifying_{false};
    SRWLOCK reportLock_ = SRWLOCK_INIT;
    ULONGLONG lastReport_ = 0;
};

// Lists `request.names` and everything below them, folders before what they
// hold. False (with the run's fault set) on a link or an unreadable folder.
bool PlanTree(const TreeCopyRequest& request, const std::wstring& source, CopyRun& run,
              std::vector<PlannedFolder>& folders, std::vector<PlannedFile>& files) {
    std::unordered_set<std::wstring> wanted(request.names.begin(), request.names.end());
    const std::unordered_set<std::wstring> links(request.links.begin(), request.links.end());
    std::size_t seen = 0;
    std::vector<std::wstring> pending{std::wstring()};
    bool top = true;
    while (!pending.empty()) {
        if (run.Cancelled()) return false;
        const std::wstring relative = std::move(pending.back());
        pending.pop_back();
        WIN32_FIND_DATAW entry;
        UniqueFindHandle listing(disk::FindFirstQuick(JoinPath(source, relative + (relative.empty() ? L"*" : L"\\*")), entry));
        if (!listing) {
            run.Fail(TreeCopyFault::SourceUnreadable, relative.empty() ? request.source : JoinPath(request.source, relative), ::GetLastError());
            return false;
        }
        do {
            if (IsDotEntry(entry.cFileName)) continue;
            const std::wstring child = relative.empty() ? std::wstring(entry.cFileName)
                                                        : relative + L"\\" + entry.cFileName;
            if (top && wanted.count(entry.cFileName) == 0) continue;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                if (links.count(child) != 0) {
                    seen += top ? 1 : 0;
                    continue;
                }
                run.Fail(TreeCopyFault::LinkInside, JoinPath(request.source, child), ERROR_SUCCESS);
                return false;
            }
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                folders.push_back({child, entry.ftCreationTime, entry.ftLastWriteTime, entry.dwFileAttributes});
                pending.push_back(child);
            } else {
                files.push_back({child, SizeOf(entry.nFileSizeHigh, entry.nFileSizeLow), entry.ftCreationTime,
                                 entry.ftLastWriteTime, entry.dwFileAttributes});
            }
        } while (disk::FindNext(listing.get(), entry));
        const DWORD error = ::GetLastError();
        if (error != ERROR_NO_MORE_FILES) {
            run.Fail(TreeCopyFault::SourceUnreadable, relative.empty() ? request.source : JoinPath(request.source, relative),
                     error);
            return false;
        }
        top = false;
    }
    // Every name asked for must have been there: one that vanished is not copied.
    for (const PlannedFolder& folder : folders) seen += folder.relative.find(L'\\') == std::wstring::npos ? 1 : 0;
    for (const PlannedFile& file : files) seen += file.relative.find(L'\\') == std::wstring::npos ? 1 : 0;
    if (seen != wanted.size()) {
        run.Fail(TreeCopyFault::SourceUnreadable, request.source, ERROR_FILE_NOT_FOUND);
        return false;
    }
    return true;
}

bool MakeFolders(const std::wstring& target, const std::wstring& shownTarget, const std::vector<PlannedFolder>& folders,
                 CopyRun& run) {
    for (const PlannedFolder& folder : folders) {
        if (run.Cancelled()) return false;
        if (!disk::MakeFolder(JoinPath(target, folder.relative))) {
            run.Fail(TreeCopyFault::TargetWrite, JoinPath(shownTarget, folder.relative), ::GetLastError());
            return false;
        }
    }
    return true;
}

// Folder times and attributes last: every file written into a folder changes its
// last-write time, and a read-only folder would refuse nothing but is set last all
// the same, as the originals are.
bool FinishFolders(const std::wstring& target, const std::wstring& shownTarget,
                   const std::vector<PlannedFolder>& folders, CopyRun& run) {
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        const std::wstring path = JoinPath(target, folder->relative);
        UniqueFileHandle handle(disk::Open(path, FILE_WRITE_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
        if (!handle || !disk::SetTimes(handle.get(), folder->creation, folder->lastWrite) ||
            !disk::SetAttributes(path, folder->attributes & kKeptAttributes)) {
            run.Fail(TreeCopyFault::TargetWrite, JoinPath(shownTarget, folder->relative), ::GetLastError());
            return false;
        }
    }
    return true;
}

struct CopyContext {
    CopyRun* run;
    std::uint64_t reported = 0;
    const PlannedFile* file = nullptr;
    bool flush = false;
    // Done through the copy's own handle as it is written, which saves opening
    // every copy again afterwards (each open costs a round trip on some hosts).
    bool timesSet = false;
    bool flushed = false;
};

DWORD CALLBACK CopyProgressRoutine(LARGE_INTEGER total, LARGE_INTEGER transferred, LARGE_INTEGER /*streamSize*/,
                                   LARGE_INTEGER /*streamTransferred*/, DWORD stream, DWORD reason,
                                   HANDLE /*source*/, HANDLE destination, LPVOID data) {
    auto* context = static_cast<CopyContext*>(data);
    const bool handle = destination != nullptr && destination != INVALID_HANDLE_VALUE;
    // The creation time, which a copy does not carry; the last-write time is the
    // copy's own to set once the data is written.
    if (handle && reason == CALLBACK_STREAM_SWITCH && stream == 1 && !context->timesSet) {
        context->timesSet = disk::SetTimes(destination, context->file->creation, context->file->lastWrite);
    }
    const auto done = static_cast<std::uint64_t>(transferred.QuadPart);
    if (done > context->reported) {
        context->run->AddBytes(done - context->reported);
        context->reported = done;
    }
    if (handle && context->flush && !context->flushed && total.QuadPart > 0 && transferred.QuadPart == total.QuadPart) {
        context->flushed = disk::Flush(destination);
    }
    return context->run->Stopping() ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

// Opens a copied file for writing, even when it is read-only (the attribute is
// taken off for the moment and put back by the caller's next step).
UniqueFileHandle OpenCopyForWriting(const std::wstring& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        (void)disk::SetAttributes(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    return UniqueFileHandle(disk::Open(path, GENERIC_WRITE, 0, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT));
}

struct CopySettings {
    bool flushEach = false;              // no volume handle flushes the whole target at the end
    bool namedStreamsPossible = true;   // the source's file system can give a file named streams
};

// Whether files on the volume of `fullPath` can have named streams; when unknown,
// they are taken to.
bool NamedStreamsPossible(const std::wstring& fullPath) {
    wchar_t volume[MAX_PATH];
    DWORD flags = 0;
    if (!::GetVolumePathNameW(fullPath.c_str(), volume, MAX_PATH) ||
        !::GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
        return true;
    }
    return (flags & FILE_NAMED_STREAMS) != 0;
}

bool ReadWhole(HANDLE file, BYTE* buffer, DWORD wanted, DWORD& got) {
    got = 0;
    while (got < wanted) {
        DWORD read = 0;
        if (!disk::Read(file, buffer + got, wanted - got, read)) return false;
        if (read == 0) break;
        got += read;
    }
    return true;
}

constexpr DWORD kSmallFileLimit = 256u * 1024u;  // one read and one write of the copy's buffer

enum class SmallCopy { Copied, Stopped, NeedsSystemCopy };

// True when the original open as `file` has nothing but its data to copy: no
// named stream (which only CopyFileExW carries) where the volume can hold one.
bool OnlyDataToCopy(HANDLE file, bool namedStreamsPossible) {
    if (!namedStreamsPossible) return true;
    alignas(8) BYTE records[1024] = {};  // the system returns no count: nothing past its records is left unset
    if (!::GetFileInformationByHandleEx(file, FileStreamInfo, records, sizeof records)) return false;
    return HoldsOnlyUnnamedStream(records, sizeof records);
}

// A small file copied through two handles of our own: one open on each side, the
// data in one read and one write, the times set through the copy's handle. Many
// small files cost their opens more than their bytes, and CopyFileExW looks at
// each file again and allocates a buffer for each. NeedsSystemCopy, before
// anything is made, for a file that has more than its data.
SmallCopy CopySmallFile(const std::wstring& from, const std::wstring& to, const std::wstring& shownFrom,
                        const std::wstring& shownTo, const PlannedFile& file, const CopySettings& settings,
                        BYTE* buffer, CopyRun& run) {
    UniqueFileHandle original(disk::Open(from, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT));
    if (!original) {
        run.Fail(TreeCopyFault::SourceUnreadable, shownFrom, ::GetLastError());
        return SmallCopy::Stopped;
    }
    if (!OnlyDataToCopy(original.get(), settings.namedStreamsPossible)) return SmallCopy::NeedsSystemCopy;
    // Made with the original's attributes, as CopyFileExW makes a copy: a read-only
    // copy is still written through the handle that created it.
    UniqueFileHandle copy(disk::Open(to, GENERIC_WRITE, 0, CREATE_NEW, file.attributes & kKeptAttributes));
    if (!copy) {
        run.Fail(TreeCopyFault::TargetWrite, shownTo, ::GetLastError());
        return SmallCopy::Stopped;
    }
    for (;;) {
        if (run.Stopping()) return SmallCopy::Stopped;
        DWORD read = 0;
        if (!ReadWhole(original.get(), buffer, kSmallFileLimit, read)) {
            run.Fail(TreeCopyFault::SourceUnreadable, shownFrom, ::GetLastError());
            return SmallCopy::Stopped;
        }
        if (read == 0) break;  // a file that grew meanwhile is caught by the check
        DWORD written = 0;
        if (!disk::Write(copy.get(), buffer, read, written)) {
            run.Fail(TreeCopyFault::TargetWrite, shownTo, ::GetLastError());
            return SmallCopy::Stopped;
        }
        if (written != read) {  // a write cut short is a full disk by another name
            run.Fail(TreeCopyFault::TargetWrite, shownTo, ERROR_HANDLE_DISK_FULL);
            return SmallCopy::Stopped;
        }
        run.AddBytes(read);
    }
    if (!disk::SetTimes(copy.get(), file.creation, file.lastWrite) || (settings.flushEach && !disk::Flush(copy.get()))) {
        run.Fail(TreeCopyFault::TargetWrite, shownTo, ::GetLastError());
        return SmallCopy::Stopped;
    }
    return SmallCopy::Copied;
}

// Copies one file, gives it the original's creation time (which a copy does not
// carry) and flushes it to the disk when asked.
void CopyOneFile(const std::wstring& source, const std::wstring& target, const std::wstring& shownSource,
                 const std::wstring& shownTarget, const PlannedFile& file, const CopySettings& settings, BYTE* buffer,
                 CopyRun& run) {
    if (run.Stopping()) return;
    const std::wstring from = JoinPath(source, file.relative);
    const std::wstring to = JoinPath(target, file.relative);
    const bool flush = settings.flushEach;
    if (file.size < kSmallFileLimit && (file.attributes & FILE_ATTRIBUTE_ENCRYPTED) == 0) {
        const SmallCopy done = CopySmallFile(from, to, JoinPath(shownSource, file.relative),
                                             JoinPath(shownTarget, file.relative), file, settings, buffer, run);
        if (done == SmallCopy::Copied) run.FileDone();
        if (done != SmallCopy::NeedsSystemCopy) return;
    }
    CopyContext context{&run};
    context.file = &file;
    context.flush = flush;
    if (!disk::Copy(from, to, CopyProgressRoutine, &context, COPY_FILE_FAIL_IF_EXISTS)) {
        const DWORD error = ::GetLastError();
        if (run.Stopping()) return;
        // Which side failed decides what the user is told: a full or missing
        // destination is not a damaged original.
        const bool sourceReadable = ::GetFileAttributesW(from.c_str()) != INVALID_FILE_ATTRIBUTES;
        run.Fail(sourceReadable ? TreeCopyFault::TargetWrite : TreeCopyFault::SourceUnreadable,
                 sourceReadable ? JoinPath(shownTarget, file.relative) : JoinPath(shownSource, file.relative), error);
        return;
    }
    if (file.size > context.reported) run.AddBytes(file.size - context.reported);
    // What the copy's own handle could not take is done on a handle of its own.
    if (context.timesSet && (!flush || context.flushed || file.size == 0)) {
        run.FileDone();
        return;
    }
    {
        UniqueFileHandle handle = OpenCopyForWriting(to, file.attributes);
        bool written = static_cast<bool>(handle) && disk::SetTimes(handle.get(), file.creation, file.lastWrite);
        if (written && flush) written = disk::Flush(handle.get());
        const DWORD error = ::GetLastError();
        handle.reset();
        if ((file.attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
            !disk::SetAttributes(to, file.attributes & kKeptAttributes) && written) {
            run.Fail(TreeCopyFault::TargetWrite, JoinPath(shownTarget, file.relative), ::GetLastError());
            return;
        }
        if (!written) {
            run.Fail(TreeCopyFault::TargetWrite, JoinPath(shownTarget, file.relative), error);
            return;
        }
    }
    run.FileDone();
}

struct CompareBuffers {
    std::unique_ptr<BYTE[]> original{new BYTE[kCompareChunk]};
    std::unique_ptr<BYTE[]> copy{new BYTE[kCompareChunk]};
};

// Every byte of the copy against the original. A read that fails is a fault of
// the side it failed on.
void CompareContents(const std::wstring& from, const std::wstring& to, const std::wstring& shownFrom,
                     const std::wstring& shownTo, CompareBuffers& buffers, CopyRun& run) {
    UniqueFileHandle original(disk::Open(from, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT));
    if (!original) {
        run.Fail(TreeCopyFault::SourceUnreadable, shownFrom, ::GetLastError());
        return;
    }
    UniqueFileHandle copy(disk::Open(to, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                     FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT));
    if (!copy) {
        run.Fail(TreeCopyFault::CopyDiffers, shownTo, ::GetLastError());
        return;
    }
    for (;;) {
        if (run.Stopping()) return;
        DWORD originalRead = 0;
        DWORD copyRead = 0;
        if (!ReadWhole(original.get(), buffers.original.get(), kCompareChunk, originalRead)) {
            run.Fail(TreeCopyFault::SourceUnreadable, shownFrom, ::GetLastError());
            return;
        }
        if (!ReadWhole(copy.get(), buffers.copy.get(), kCompareChunk, copyRead)) {
            run.Fail(TreeCopyFault::CopyDiffers, shownTo, ::GetLastError());
            return;
        }
        if (originalRead != copyRead ||
            std::memcmp(buffers.original.get(), buffers.copy.get(), originalRead) != 0) {
            run.Fail(TreeCopyFault::CopyDiffers, shownTo, ERROR_SUCCESS);
            return;
        }
        if (originalRead == 0) return;
        run.AddBytes(originalRead);
    }
}

// What a listing says of each file of one folder.
struct ListedFile {
    std::uint64_t size = 0;
    FILETIME lastWrite = {};
    DWORD attributes = 0;
};
using FolderListing = std::unordered_map<std::wstring, ListedFile>;

// The entries of `folder` as one listing gives them; false when it cannot be
// listed to its end.
bool ListFolder(const std::wstring& folder, FolderListing& listing) {
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(disk::FindFirstQuick(folder + L"\\*", entry));
    if (!find) return false;
    do {
        if (IsDotEntry(entry.cFileName)) continue;
        listing[entry.cFileName] = {SizeOf(entry.nFileSizeHigh, entry.nFileSizeLow), entry.ftLastWriteTime,
                                    entry.dwFileAttributes};
    } while (disk::FindNext(find.get(), entry));
    return ::GetLastError() == ERROR_NO_MORE_FILES;
}

std::wstring NameOf(const std::wstring& relative) {
    const size_t slash = relative.find_last_of(L'\\');
    return slash == std::wstring::npos ? relative : relative.substr(slash + 1);
}

std::wstring ParentOf(const std::wstring& relative) {
    const size_t slash = relative.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : relative.substr(0, slash);
}

// The files of one folder, checked against two listings (the original's folder
// and the copy's) rather than two looks each: the originals must still be what was
// copied, and each copy must match its original. With `countDone`, each file
// checked counts as done (no byte comparison follows).
void VerifyFolder(const std::wstring& source, const std::wstring& target, const std::wstring& shownSource,
                  const std::wstring& shownTarget, const std::wstring& folder, const std::vector<std::size_t>& indexes,
                  const std::vector<PlannedFile>& files, bool countDone, CopyRun& run) {
    if (run.Stopping()) return;
    FolderListing originals;
    FolderListing copies;
    const auto inside = [&](const std::wstring& root) { return folder.empty() ? root : JoinPath(root, folder); };
    if (!ListFolder(inside(source), originals)) {
        run.Fail(TreeCopyFault::SourceUnreadable, inside(shownSource), ::GetLastError());
        return;
    }
    if (!ListFolder(inside(target), copies)) {
        run.Fail(TreeCopyFault::CopyDiffers, inside(shownTarget), ::GetLastError());
        return;
    }
    for (const std::size_t index : indexes) {
        if (run.Stopping()) return;
        const PlannedFile& file = files[index];
        const std::wstring name = NameOf(file.relative);
        const auto original = originals.find(name);
        if (original == originals.end() || original->second.size != file.size ||
            !SameTime(original->second.lastWrite, file.lastWrite)) {
            run.Fail(TreeCopyFault::SourceChanged, JoinPath(shownSource, file.relative), ERROR_SUCCESS);
            return;
        }
        const auto copy = copies.find(name);
        if (copy == copies.end() || copy->second.size != file.size || !SameTime(copy->second.lastWrite, file.lastWrite) ||
            (copy->second.attributes & (kVerifiedAttributes | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
                (file.attributes & kVerifiedAttributes)) {
            run.Fail(TreeCopyFault::CopyDiffers, JoinPath(shownTarget, file.relative), ERROR_SUCCESS);
            return;
        }
        if (countDone) {
            run.AddBytes(file.size);
            run.FileDone();
        }
    }
}

// Every byte of one copy against its original.
void CompareOneFile(const std::wstring& source, const std::wstring& target, const std::wstring& shownSource,
                    const std::wstring& shownTarget, const PlannedFile& file, CompareBuffers& buffers, CopyRun& run) {
    if (run.Stopping()) return;
    CompareContents(JoinPath(source, file.relative), JoinPath(target, file.relative),
                    JoinPath(shownSource, file.relative), JoinPath(shownTarget, file.relative), buffers, run);
    if (!run.Stopping()) run.FileDone();
}

// A handle on the target's whole volume that can be flushed (an administrator's,
// on a drive with a letter), tried once with a flush; empty when each file must be
// flushed instead.
UniqueFileHandle FlushableVolumeOf(const std::wstring& fullTarget) {
    wchar_t volume[MAX_PATH];
    if (!::GetVolumePathNameW(fullTarget.c_str(), volume, MAX_PATH)) return UniqueFileHandle();
    const std::wstring root = volume;
    if (root.size() != 3 || root[1] != L':') return UniqueFileHandle();  // a mounted folder: file by file
    const std::wstring device = L"\\\\.\\" + root.substr(0, 2);
    UniqueFileHandle handle(::CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (handle && !::FlushFileBuffers(handle.get())) handle.reset();
    return handle;
}

int CopyThreads(int asked) {
    if (asked > 0) return std::min(asked, kMaxPoolThreads);
    return DefaultCopyThreads();
}

}  // namespace

bool HoldsOnlyUnnamedStream(const void* records, std::size_t size) {
    static constexpr wchar_t kUnnamedData[] = L"::$DATA";
    constexpr std::size_t kNameOffset = offsetof(FILE_STREAM_INFO, StreamName);
    const auto* bytes = static_cast<const BYTE*>(records);
    std::size_t offset = 0;
    int streams = 0;
    for (;;) {
        if (size < kNameOffset || offset > size - kNameOffset) return false;
        FILE_STREAM_INFO header;
        std::memcpy(&header, bytes + offset, kNameOffset);
        const std::size_t nameBytes = header.StreamNameLength;
        if (nameBytes % sizeof(wchar_t) != 0 || nameBytes > size - offset - kNameOffset) return false;
        std::wstring name(nameBytes / sizeof(wchar_t), L'\0');
        std::memcpy(&name[0], bytes + offset + kNameOffset, nameBytes);
        if (name != kUnnamedData || ++streams > 1) return false;
        if (header.NextEntryOffset == 0) return true;
        if (header.NextEntryOffset > size - offset) return false;
        offset += header.NextEntryOffset;
    }
}

int DefaultCopyThreads() { return kDefaultCopyThreads; }

std::wstring ExtendedLengthPath(const std::wstring& fullPath) {
    if (fullPath.compare(0, 4, L"\\\\?\\") == 0) return fullPath;
    if (fullPath.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + fullPath.substr(2);
    std::wstring path = fullPath;
    // "C:" alone would name the drive's current folder; its root is meant.
    if (path.size() == 2 && path[1] == L':') path += L'\\';
    return L"\\\\?\\" + path;
}

TreeCopyOutcome CopyTree(const TreeCopyRequest& request) {
    TreeCopyOutcome outcome;
    CopyRun run(request);
    try {
        const std::wstring source = ExtendedLengthPath(request.source);
        const std::wstring target = ExtendedLengthPath(request.target);
        std::vector<PlannedFolder> folders;
        std::vector<PlannedFile> files;
        std::uint64_t bytes = 0;
        bool planned = PlanTree(request, source, run, folders, files);
        if (planned) {
            for (const PlannedFile& file : files) bytes += file.size;
            run.SetTotals(bytes, static_cast<std::uint32_t>(files.size()));
            run.StartStage(false);
            planned = MakeFolders(target, request.target, folders, run);
        }
        UniqueFileHandle volume;
        if (planned) volume = FlushableVolumeOf(request.target);
        const bool flushEach = !volume;
        if (planned) {
            // Large files first: the small ones then fill the threads' last gaps.
            std::vector<std::size_t> order(files.size());
            for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
            std::stable_sort(order.begin(), order.end(),
                             [&](std::size_t a, std::size_t b) { return files[a].size > files[b].size; });
            WorkPool<std::size_t> pool;
            for (auto i = order.rbegin(); i != order.rend(); ++i) pool.Add(*i);  // taken from the back
            std::vector<std::unique_ptr<BYTE[]>> buffers(static_cast<std::size_t>(CopyThreads(request.threads)));
            for (auto& buffer : buffers) buffer.reset(new BYTE[kSmallFileLimit]);
            const CopySettings settings{flushEach, NamedStreamsPossible(request.source)};
            auto copyOne = [&](std::size_t index, int worker) {
                CopyOneFile(source, target, request.source, request.target, files[index], settings,
                            buffers[static_cast<std::size_t>(worker)].get(), run);
                if (run.Stopping()) pool.Stop();
            };
            if (pool.Run(CopyThreads(request.threads), copyOne) == PoolOutcome::Failed && !run.failed()) {
                run.Fail(TreeCopyFault::TargetWrite, request.target, ERROR_NOT_ENOUGH_MEMORY);
            }
        }
        if (planned && !run.Stopping()) {
            // Written through the volume's cache so far: on the disk before anything
            // relies on the copy.
            if (!flushEach && !disk::Flush(volume.get())) {
                run.Fail(TreeCopyFault::TargetWrite, request.target, ::GetLastError());
            }
        }
        if (planned && !run.Stopping()) FinishFolders(target, request.target, folders, run);
        if (planned && !run.Stopping()) {
            run.SetTotals(bytes, static_cast<std::uint32_t>(files.size()));
            run.StartStage(true);
            const int threads = CopyThreads(request.threads);
            std::vector<std::unique_ptr<CompareBuffers>> buffers(static_cast<std::size_t>(threads));
            if (request.compareContents) {
                for (auto& b : buffers) b = std::make_unique<CompareBuffers>();
            }
            // Sizes, times and attributes folder by folder, then (when asked)
            // every byte file by file.
            std::vector<std::wstring> folderNames;
            std::unordered_map<std::wstring, std::vector<std::size_t>> byFolder;
            for (std::size_t i = 0; i < files.size(); ++i) {
                auto& indexes = byFolder[ParentOf(files[i].relative)];
                if (indexes.empty()) folderNames.push_back(ParentOf(files[i].relative));
                indexes.push_back(i);
            }
            WorkPool<std::size_t> folderPool;
            for (std::size_t i = folderNames.size(); i-- > 0;) folderPool.Add(i);
            auto verifyFolder = [&](std::size_t index, int /*worker*/) {
                VerifyFolder(source, target, request.source, request.target, folderNames[index],
                             byFolder[folderNames[index]], files, !request.compareContents, run);
                if (run.Stopping()) folderPool.Stop();
            };
            if (folderPool.Run(threads, verifyFolder) == PoolOutcome::Failed && !run.failed()) {
                run.Fail(TreeCopyFault::CopyDiffers, request.target, ERROR_NOT_ENOUGH_MEMORY);
            }
            if (request.compareContents && !run.Stopping()) {
                WorkPool<std::size_t> pool;
                for (std::size_t i = files.size(); i-- > 0;) pool.Add(i);
                auto compareOne = [&](std::size_t index, int worker) {
                    CompareOneFile(source, target, request.source, request.target, files[index],
                                   *buffers[static_cast<std::size_t>(worker)], run);
                    if (run.Stopping()) pool.Stop();
                };
                if (pool.Run(threads, compareOne) == PoolOutcome::Failed && !run.failed()) {
                    run.Fail(TreeCopyFault::CopyDiffers, request.target, ERROR_NOT_ENOUGH_MEMORY);
                }
            }
        }
        run.Report(true);
    } catch (...) {
        run.Fail(TreeCopyFault::TargetWrite, request.target, ERROR_NOT_ENOUGH_MEMORY);
    }
    outcome.totals = run.Snapshot();
    if (run.failed()) {
        outcome.result = TreeCopyResult::Failed;
        outcome.fault = run.fault();
        outcome.path = run.faultPath();
        outcome.error = run.faultError();
    } else if (run.Cancelled()) {
        outcome.result = TreeCopyResult::Cancelled;
    } else {
        outcome.result = TreeCopyResult::Copied;
    }
    return outcome;
}

namespace {

// Removes one entry that is not a plain folder: a file, or a link of any kind,
// which goes itself without its target being entered.
bool RemoveLeaf(const std::wstring& path, const std::wstring& shown, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return disk::Delete(path);
    // The junction library also knows the links that only show as such on some hosts.
    return disk::RemoveJunction(shown.size() < MAX_PATH ? shown : path) || disk::RemoveFolder(path);
}

// Removes `path` and what is below it, deepest first, without recursion: a tree
// made on another system may be deeper than any stack. Read-only entries lose the
// attribute first. `left` receives the first entry that stayed.
bool RemoveEntry(const std::wstring& path, const std::wstring& shown, std::wstring& left) {
    struct Pending {
        std::wstring path;
        std::wstring shown;
        bool listed;
    };
    std::vector<Pending> pending{{path, shown, false}};
    bool whole = true;
    const auto stayed = [&](const std::wstring& name) {
        if (left.empty()) left = name;
        whole = false;
    };
    while (!pending.empty()) {
        if (pending.back().listed) {
            // Everything below has been dealt with: the folder goes if it is empty.
            if (!disk::RemoveFolder(pending.back().path)) stayed(pending.back().shown);
            pending.pop_back();
            continue;
        }
        const Pending entry = pending.back();
        const DWORD attributes = disk::Attributes(entry.path);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) stayed(entry.shown);
            pending.pop_back();
            continue;
        }
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            (void)disk::SetAttributes(entry.path, attributes & ~FILE_ATTRIBUTE_READONLY);
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            if (!RemoveLeaf(entry.path, entry.shown, attributes)) stayed(entry.shown);
            pending.pop_back();
            continue;
        }
        pending.back().listed = true;
        WIN32_FIND_DATAW found;
        UniqueFindHandle listing(disk::FindFirstQuick(entry.path + L"\\*", found));
        if (!listing) continue;  // the folder's removal will tell
        do {
            if (IsDotEntry(found.cFileName)) continue;
            pending.push_back({entry.path + L"\\" + found.cFileName, entry.shown + L"\\" + found.cFileName, false});
        } while (disk::FindNext(listing.get(), found));
    }
    return whole;
}

}  // namespace

bool RemoveCopiedEntries(const std::wstring& folder, const std::vector<std::wstring>& names, std::wstring& left) {
    left.clear();
    const std::wstring base = ExtendedLengthPath(folder);
    bool whole = true;
    for (const std::wstring& name : names) {
        if (!RemoveEntry(JoinPath(base, name), JoinPath(folder, name), left)) whole = false;
    }
    return whole;
}
