#include "engine/tree_delete.h"

#include <cstddef>
#include <memory>
#include <vector>

#include "base/text.h"
#include "base/unique_resource.h"
#include "engine/disk_calls.h"
#include "engine/folder_move.h"
#include "engine/relocation_paths.h"
#include "engine/tree_copy.h"

namespace {

constexpr DWORD kListingBufferBytes = 64 * 1024;

struct Entry {
    std::wstring name;
    bool folder = false;
};

// A folder held open without delete sharing: nobody can rename it, delete it or
// put a link in its place while its entries are deleted by name below it.
UniqueFileHandle OpenFolderHeld(const std::wstring& path) {
    return UniqueFileHandle(
        disk::Open(path, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                   FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
}

// The entry itself (a link is not followed), opened to be deleted.
UniqueFileHandle OpenEntry(const std::wstring& path) {
    return UniqueFileHandle(disk::Open(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
}

// The names in the folder behind `folder`, listed through that handle, so that
// they are the held folder's and no other's.
bool ListHeldFolder(HANDLE folder, std::vector<Entry>& entries) {
    std::unique_ptr<BYTE[]> buffer(new BYTE[kListingBufferBytes]);
    bool restart = true;
    for (;;) {
        if (!disk::ListOpenFolder(folder, restart, buffer.get(), kListingBufferBytes)) {
            return ::GetLastError() == ERROR_NO_MORE_FILES;
        }
        restart = false;
        std::size_t offset = 0;
        for (;;) {
            if (offset + sizeof(FILE_ID_BOTH_DIR_INFO) > kListingBufferBytes) return false;
            const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.get() + offset);
            const std::size_t nameOffset = offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
            if (offset + nameOffset + info->FileNameLength > kListingBufferBytes) return false;
            std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (!IsDotEntry(name.c_str())) {
                const bool folder = (info->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                    (info->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
                entries.push_back({std::move(name), folder});
            }
            if (info->NextEntryOffset == 0) break;
            offset += info->NextEntryOffset;
        }
    }
}

bool Info(HANDLE entry, BY_HANDLE_FILE_INFORMATION& info) { return ::GetFileInformationByHandle(entry, &info) != FALSE; }

// Marks the entry behind `entry` for deletion as its handle closes; a read-only
// one loses that attribute first.
bool DeleteByHandle(HANDLE entry, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        !disk::SetAttributesOf(entry, attributes & ~FILE_ATTRIBUTE_READONLY)) {
        return false;
    }
    return disk::DeleteOnClose(entry);
}

// Whether `copy` holds what the original `info` was: a file of the same size and
// last-write time, or a link for a link.
bool CopyStandsFor(const std::wstring& copy, const BY_HANDLE_FILE_INFORMATION& info) {
    WIN32_FILE_ATTRIBUTE_DATA copied;
    if (!disk::ReadFileData(copy, copied)) return false;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return (copied.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }
    return (copied.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
           copied.nFileSizeHigh == info.nFileSizeHigh && copied.nFileSizeLow == info.nFileSizeLow &&
           copied.ftLastWriteTime.dwLowDateTime == info.ftLastWriteTime.dwLowDateTime &&
           copied.ftLastWriteTime.dwHighDateTime == info.ftLastWriteTime.dwHighDateTime;
}

// Only "not found" says that an entry is gone.
bool Gone(const std::wstring& path) {
    return disk::Attributes(path) == INVALID_FILE_ATTRIBUTES && IsNotFoundError(::GetLastError());
}

// One folder being emptied: its handle, its place, and the entries still to do.
struct Frame {
    UniqueFileHandle handle;
    std::wstring path;    // "\\?\" form
    std::wstring copy;    // its copy's path, "\\?\" form
    std::wstring shown;   // as the caller named it
    DWORD attributes = 0;
    std::vector<Entry> entries;
    std::size_t next = 0;
    bool whole = true;    // every entry went
};

class TreeDeletion {
public:
    explicit TreeDeletion(std::wstring& left) : left_(left) {}

    bool Run(Frame root) {
        frames_.push_back(std::move(root));
        if (!ListHeldFolder(frames_.back().handle.get(), frames_.back().entries)) Stayed(frames_.back().shown);
        while (!frames_.empty()) {
            Frame& frame = frames_.back();
            if (frame.next == frame.entries.size()) {
                CloseFolder();
                continue;
            }
            const Entry entry = frame.entries[frame.next++];
            const std::wstring path = frame.path + L"\\" + entry.name;
            const std::wstring copy = frame.copy + L"\\" + entry.name;
            const std::wstring shown = frame.shown + L"\\" + entry.name;
            if (entry.folder) {
                EnterFolder(path, copy, shown);
            } else {
                DeleteLeaf(path, copy, shown);
            }
        }
        return whole_;
    }

private:
    void Stayed(const std::wstring& shown) {
        if (left_.empty()) left_ = shown;
        whole_ = false;
        if (!frames_.empty()) frames_.back().whole = false;
    }

    void DeleteLeaf(const std::wstring& path, const std::wstring& copy, const std::wstring& shown) {
        UniqueFileHandle entry = OpenEntry(path);
        BY_HANDLE_FILE_INFORMATION info;
        if (!entry) {
            if (!IsNotFoundError(::GetLastError())) Stayed(shown);
            return;
        }
        if (!Info(entry.get(), info)) return Stayed(shown);
        // A plain folder that took the entry's place since it was listed is
        // entered like any other.
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            entry.reset();
            return EnterFolder(path, copy, shown);
        }
        if (!CopyStandsFor(copy, info)) return Stayed(shown);
        if (DeleteByHandle(entry.get(), info.dwFileAttributes)) return;
        // A deletion reported as failed may have happened all the same.
        entry.reset();
        if (!Gone(path)) Stayed(shown);
    }

    void EnterFolder(const std::wstring& path, const std::wstring& copy, const std::wstring& shown) {
        Frame frame;
        frame.handle = OpenFolderHeld(path);
        frame.path = path;
        frame.copy = copy;
        frame.shown = shown;
        BY_HANDLE_FILE_INFORMATION info;
        if (!frame.handle) {
            if (!IsNotFoundError(::GetLastError())) Stayed(shown);
            return;
        }
        if (!Info(frame.handle.get(), info)) return Stayed(shown);
        // A link put in a folder's place is deleted as a link, never entered.
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            frame.handle.reset();
            return DeleteLeaf(path, copy, shown);
        }
        frame.attributes = info.dwFileAttributes;
        if (!ListHeldFolder(frame.handle.get(), frame.entries)) {
            Stayed(shown);
            return;
        }
        frames_.push_back(std::move(frame));
    }

    // Every entry of the innermost folder is dealt with: it goes when they all went.
    void CloseFolder() {
        Frame frame = std::move(frames_.back());
        frames_.pop_back();
        if (!frame.whole) return Stayed(frame.shown);
        const bool deleted = DeleteByHandle(frame.handle.get(), frame.attributes);
        frame.handle.reset();
        if (!deleted && !Gone(frame.path)) Stayed(frame.shown);
    }

    std::wstring& left_;
    std::vector<Frame> frames_;
    bool whole_ = true;
};

}  // namespace

TreeDeleteResult DeleteCopiedOriginals(const std::wstring& path, const FolderId& id, const std::wstring& copyRoot,
                                       std::wstring& left) {
    left.clear();
    Frame root;
    root.path = ExtendedLengthPath(path);
    root.copy = ExtendedLengthPath(copyRoot);
    root.shown = path;
    root.handle = OpenFolderHeld(root.path);
    if (!root.handle) {
        if (IsNotFoundError(::GetLastError())) return TreeDeleteResult::Deleted;
        left = path;
        return TreeDeleteResult::PartlyLeft;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!Info(root.handle.get(), info)) {
        left = path;
        return TreeDeleteResult::PartlyLeft;
    }
    if (IdOf(info) != id ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != FILE_ATTRIBUTE_DIRECTORY) {
        return TreeDeleteResult::NotTheFolder;
    }
    root.attributes = info.dwFileAttributes;
    try {
        return TreeDeletion(left).Run(std::move(root)) ? TreeDeleteResult::Deleted : TreeDeleteResult::PartlyLeft;
    } catch (...) {
        if (left.empty()) left = path;
        return TreeDeleteResult::PartlyLeft;
    }
}
