#include "engine/access_scan.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/debug_log.h"
#include "base/text.h"
#include "base/unique_resource.h"

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

// What one listing of a folder found. File names are kept in one buffer, each
// followed by its NUL, so a folder of many files costs one allocation, not one each.
struct FolderEntries {
    std::vector<std::wstring> subFolders;
    std::vector<std::wstring> links;  // junctions and other reparse points, never entered
    std::vector<bool> linkIsFolder;
    std::wstring fileNames;
    std::vector<DWORD> fileAttributes;
    std::vector<std::uint64_t> fileSizes;
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

// The length of the full form of `path`, or of `path` itself when it has none.
size_t FullPathLength(const std::wstring& path) {
    const DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    return length > 0 ? length - 1 : path.size();
}

// One scan of one tree: remembers every folder it has walked.
class AccessScan {
public:
    AccessScan(const std::wstring& root, const std::wstring& mask, AccessScanProgress& progress,
               AccessScanFindings& findings)
        : root_(root),
          fullRootExtra_(FullPathLength(root) - std::min(FullPathLength(root), root.size())),
          mask_(mask),
          allFiles_(mask == L"*" || mask == L"*.*"),
          progress_(progress),
          findings_(findings) {}

    bool ScanFolder(const std::wstring& folder) {
        FolderId id;
        if (!ReadFolderId(folder, id)) return Fail(folder);
        if (!walked_.insert(id).second) return true;  // already tested through another path

        // Listing a folder is what costs most besides the opens (every entry's
        // attributes are read), so one listing serves both passes when every file
        // is to be tested. No listing stays open while deeper levels run.
        FolderEntries entries;
        if (!ListFolder(folder, allFiles_, entries)) return Fail(folder);
        for (size_t i = 0; i < entries.links.size(); ++i) {
            if (!RecordLink(ChildPath(folder, entries.links[i].c_str()), entries.linkIsFolder[i])) return false;
        }
        for (const auto& name : entries.subFolders) {
            const std::wstring child = ChildPath(folder, name.c_str());
            if (!PathFits(child) || !ScanFolder(child)) return false;
        }
        if (!allFiles_) return ScanMatchingFiles(folder);
        const wchar_t* name = entries.fileNames.c_str();
        for (size_t i = 0; i < entries.fileAttributes.size(); ++i) {
            if (!TestFile(ChildPath(folder, name), entries.fileAttributes[i], entries.fileSizes[i])) return false;
            name += std::char_traits<wchar_t>::length(name) + 1;
        }
        return true;
    }

private:
    bool Fail(const std::wstring& path) {
        progress_.OnStopped(path);
        return false;
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
                if (!withFiles) break;
                entries.fileNames.append(entry.cFileName);
                entries.fileNames.push_back(L'\0');
                entries.fileAttributes.push_back(entry.dwFileAttributes);
                entries.fileSizes.push_back(FileSizeOf(entry));
                break;
            }
        } while (::FindNextFileW(listing.get(), &entry));
        return ::GetLastError() == ERROR_NO_MORE_FILES;
    }

    bool ScanMatchingFiles(const std::wstring& folder) {
        WIN32_FIND_DATAW entry;
        UniqueFindHandle listing = OpenListing(ChildPath(folder, mask_.c_str()), entry);
        if (!listing) {
            if (::GetLastError() == ERROR_FILE_NOT_FOUND) return true;  // nothing matches the mask
            return Fail(folder);
        }
        do {
            if (ClassifyEntry(entry) != EntryKind::File) continue;
            if (!TestFile(ChildPath(folder, entry.cFileName), entry.dwFileAttributes, FileSizeOf(entry))) return false;
        } while (::FindNextFileW(listing.get(), &entry));
        if (::GetLastError() != ERROR_NO_MORE_FILES) return Fail(folder);
        return true;
    }

    // Notes how deep the tree goes below its root; false (and the path noted) when
    // the full path reaches MAX_PATH, which the shell's move cannot handle.
    bool PathFits(const std::wstring& path) {
        if (path.size() > root_.size() + 1 + findings_.longestRelativePath.size()) {
            findings_.longestRelativePath.assign(path, root_.size() + 1, std::wstring::npos);
        }
        if (path.size() + fullRootExtra_ < MAX_PATH) return true;
        findings_.pathTooLong = path;
        return Fail(path);
    }

    // A link is recorded, never followed. Reparse points of other kinds (cloud
    // placeholders, deduplicated files, other vendors' tags) cannot be moved safely
    // by anyone but their owner: the scan stops at them.
    bool RecordLink(const std::wstring& path, bool folder) {
        if (!PathFits(path)) return false;
        LinkRecord record;
        record.folder = folder;
        DWORD tag = 0;
        switch (ReadLinkData(path.c_str(), folder, record.data, tag)) {
        case LinkKind::Junction:
        case LinkKind::SymbolicLink:
            break;
        case LinkKind::Other:
        case LinkKind::Unreadable:
            DebugLineF(L"Tressel.Error: %s is a reparse point (tag %X) that cannot be moved.", path.c_str(), tag);
            findings_.foreignReparsePoint = path;
            return Fail(path);
        }
        record.relativePath = path.substr(root_.size() + 1);
        findings_.links.push_back(std::move(record));
        return true;
    }

    bool TestFile(const std::wstring& path, DWORD attributes, std::uint64_t size) {
        if (!PathFits(path)) return false;
        DebugLineF(L"Scanning for access: %s", path.c_str());
        progress_.OnTesting(path);
        // Exactly what the move will need: read and write, while others may share.
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        if (file == INVALID_HANDLE_VALUE || file == nullptr) return Fail(path);
        ::CloseHandle(file);
        if ((attributes & FILE_ATTRIBUTE_SYSTEM) != 0) findings_.systemFiles = true;
        findings_.totalBytes += size;
        return true;
    }

    std::wstring root_;
    size_t fullRootExtra_;  // how much longer the root's full path is than `root_`
    std::wstring mask_;
    bool allFiles_;
    AccessScanProgress& progress_;
    AccessScanFindings& findings_;
    std::unordered_set<FolderId, FolderIdHash> walked_;
};

// What the scan's worker needs, handed to it as its start parameter; the starting
// thread reads the results only after the worker has ended.
struct ScanJob {
    std::wstring folder;
    AccessScanProgress* progress;
    AccessScanFindings findings;
    bool passed = false;
};

DWORD WINAPI ScanJobThread(void* parameter) {
    ScanJob& job = *static_cast<ScanJob*>(parameter);
    job.passed = ScanWholeTree(job.folder, *job.progress, job.findings);
    return job.passed ? 1 : 0;
}

}  // namespace

bool ScanWholeTree(const std::wstring& folder, AccessScanProgress& progress, AccessScanFindings& findings) noexcept {
    try {
        if (!ScanForAccess(folder, L"*", progress, findings)) return false;
        progress.OnPassed();
        return true;
    } catch (...) {
        // Out of memory: the tree could not be checked, so it must not be moved.
        DebugLine(L"Tressel.Error: the access scan ran out of memory.");
        return false;
    }
}

bool ScanForAccess(std::wstring folder, const std::wstring& mask, AccessScanProgress& progress,
                   AccessScanFindings& findings) {
    findings = AccessScanFindings{};
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    // A missing source, or one that is a file, has nothing to test; the relocation
    // checks the source itself right after the scan and tells the user.
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return true;
    AccessScan scan(folder, mask, progress, findings);
    return scan.ScanFolder(folder);
}

AccessScanOutcome RunAccessScan(const std::wstring& folder, AccessScanProgress& progress,
                                AccessScanFindings& findings) {
    auto job = std::make_unique<ScanJob>();
    job->folder = folder;
    job->progress = &progress;
    UniqueHandle worker(::CreateThread(nullptr, 0, ScanJobThread, job.get(), 0, nullptr));
    if (!worker) {
        DebugErrorLine(L"Tressel.Error: the access scan could not be started");
        return AccessScanOutcome::NotStarted;
    }
    ::WaitForSingleObject(worker.get(), INFINITE);
    findings = job->findings;
    return job->passed ? AccessScanOutcome::Passed : AccessScanOutcome::Failed;
}
