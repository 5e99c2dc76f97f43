#include "engine/folder_move.h"

#include <windows.h>

#include "engine/disk_calls.h"
#include "engine/folder_security.h"
#include "base/debug_log.h"
#include "base/text.h"
#include "base/unique_resource.h"
#include "engine/relocation_paths.h"

namespace {

constexpr int kFolderAttempts = 3;
constexpr DWORD kFolderPauseMs = 100;

bool Exists(DWORD attributes) { return attributes != INVALID_FILE_ATTRIBUTES; }

// The attributes of `path`; `known` is false when they could not be read for any
// reason other than the path not existing.
DWORD ReadAttributes(const std::wstring& path, bool& known) {
    const DWORD attributes = disk::Attributes(path);
    known = Exists(attributes) || IsNotFoundError(::GetLastError());
    return attributes;
}

// Two paths naming one folder (through a junction, or another drive letter).
bool SameFolder(const std::wstring& a, const std::wstring& b) {
    BY_HANDLE_FILE_INFORMATION infoA;
    BY_HANDLE_FILE_INFORMATION infoB;
    const auto read = [](const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
        UniqueFileHandle folder(disk::Open(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
        return folder && ::GetFileInformationByHandle(folder.get(), &info) != FALSE;
    };
    if (!read(a, infoA) || !read(b, infoB)) return false;
    return infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber && infoA.nFileIndexHigh == infoB.nFileIndexHigh &&
           infoA.nFileIndexLow == infoB.nFileIndexLow;
}

// The "\\?\" form of `path`'s full path, which the system takes as it is: no
// device names, no trimming of dots and blanks.
std::wstring VerbatimPath(const std::wstring& path) {
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size) return path;
    full.resize(length);
    if (full.compare(0, 2, L"\\\\") == 0) return path;  // UNC and device paths stay as they are
    return L"\\\\?\\" + full;
}

bool IsPlainFolder(DWORD attributes) {
    return Exists(attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool MoveEntry(const std::wstring& from, const std::wstring& to);

// Moves everything `from` holds into the folder `to`, then removes `from`.
bool MergeFolder(const std::wstring& from, const std::wstring& to) {
    if (SameFolder(from, to)) {
        DebugLineF(L"Tressel.Error: %s and %s are one folder; nothing was merged.", from.c_str(), to.c_str());
        return false;
    }
    std::vector<std::wstring> names;
    if (!ListFolderEntries(from, names)) return false;
    bool allMoved = true;
    for (const auto& name : names) {
        if (!MoveEntry(JoinPath(from, name), JoinPath(to, name))) allMoved = false;
    }
    return allMoved && disk::RemoveFolder(from) != FALSE;
}

bool MoveOneFile(const std::wstring& from, const std::wstring& to, DWORD attributes) {
    // A copy between volumes deletes the original afterwards, which a read-only
    // file refuses; the attribute goes back on the moved file.
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) disk::SetAttributes(from, attributes & ~FILE_ATTRIBUTE_READONLY);
    // Between volumes the copy reaches the disk before the original is deleted.
    const bool moved = disk::Move(from, to, MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != FALSE;
    if (readOnly) disk::SetAttributes(moved ? to : from, attributes);
    return moved;
}

bool MoveEntry(const std::wstring& from, const std::wstring& to) {
    bool known = false;
    const DWORD fromAttributes = ReadAttributes(from, known);
    if (!known) {
        DebugErrorLine((L"Tressel.Error: cannot read the attributes of " + from).c_str());
        return false;
    }
    if (!Exists(fromAttributes)) return true;
    const DWORD toAttributes = ReadAttributes(to, known);
    if (!known) {
        DebugErrorLine((L"Tressel.Error: cannot read the attributes of " + to).c_str());
        return false;
    }

    // A link is never moved by its path: Wine moves a junction's target instead, and
    // Windows copies through it between volumes. The caller makes links again.
    if ((fromAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        DebugLineF(L"Tressel.Error: %s is a link and stays where it is", from.c_str());
        return false;
    }
    if (!Exists(toAttributes)) {
        if ((fromAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return MoveOneFile(from, to, fromAttributes);
        if (disk::Move(from, to, 0)) return true;
        // A folder cannot be renamed onto another volume: re-create it and move its
        // content. A junction is never walked into: its target's files are not ours.
        if (!IsPlainFolder(fromAttributes) || !disk::MakeFolder(to)) {
            DebugErrorLine((L"Tressel.Error: could not move back " + from).c_str());
            return false;
        }
        disk::SetAttributes(to, fromAttributes);
        return MergeFolder(from, to);
    }
    if (IsPlainFolder(fromAttributes) && IsPlainFolder(toAttributes)) return MergeFolder(from, to);
    // Two different entries of one name: neither is replaced.
    DebugLineF(L"Tressel.Error: %s already exists; %s stays where it is", to.c_str(), from.c_str());
    return false;
}

}  // namespace

bool ListFolderEntries(const std::wstring& folder, std::vector<std::wstring>& names) {
    names.clear();
    WIN32_FIND_DATAW entry;
    UniqueFindHandle listing(disk::FindFirst(JoinPath(folder, L"*"), entry));
    if (!listing) return ::GetLastError() == ERROR_FILE_NOT_FOUND;  // an empty volume root
    do {
        if (!IsDotEntry(entry.cFileName)) names.emplace_back(entry.cFileName);
    } while (disk::FindNext(listing.get(), entry));
    return ::GetLastError() == ERROR_NO_MORE_FILES;
}

bool FolderIsEmpty(const std::wstring& folder) {
    const DWORD attributes = disk::Attributes(folder);
    if (!Exists(attributes) || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
    std::vector<std::wstring> names;
    return ListFolderEntries(folder, names) && names.empty();
}

bool IsNotFoundError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

NameCheck FirstNameAlsoIn(const std::vector<std::wstring>& names, const std::wstring& folder, std::wstring& name,
                          DWORD& error) {
    const std::wstring verbatimFolder = VerbatimPath(folder);
    for (const auto& candidate : names) {
        if (Exists(disk::Attributes(JoinPath(verbatimFolder, candidate)))) {
            name = candidate;
            return NameCheck::Shared;
        }
        const DWORD lastError = ::GetLastError();
        if (!IsNotFoundError(lastError)) {
            name = candidate;
            error = lastError;
            return NameCheck::Unreadable;
        }
    }
    return NameCheck::NoneShared;
}

bool AllNamesIn(const std::vector<std::wstring>& names, const std::wstring& folder) {
    const std::wstring verbatimFolder = VerbatimPath(folder);
    for (const auto& name : names) {
        if (!Exists(disk::Attributes(JoinPath(verbatimFolder, name)))) return false;
    }
    return true;
}

bool MoveEntriesBack(const std::wstring& from, const std::wstring& to, const std::vector<std::wstring>& names) {
    bool allMoved = true;
    for (const auto& name : names) {
        if (!MoveEntry(JoinPath(from, name), JoinPath(to, name))) allMoved = false;
    }
    return allMoved;
}

bool CopyFolderPermissions(const std::wstring& model, const std::wstring& folder) {
    SecurityBytes sd;
    bool reparsePoint = false;
    if (!ReadPathSecurity(model, sd, reparsePoint) || reparsePoint) return false;
    const SecurityBytes own = ProtectedCopy(sd);
    return !own.empty() && disk::SetSecurity(folder, own);
}

bool MakePlainFolder(const std::wstring& path, const std::wstring& permissionsFrom, const FolderId& keep) {
    for (int attempt = 0; attempt < kFolderAttempts; ++attempt) {
        if (attempt > 0) ::Sleep(kFolderPauseMs);
        DWORD attributes = disk::Attributes(path);
        bool made = false;
        if (!Exists(attributes) && IsNotFoundError(::GetLastError())) {
            if (!disk::MakeFolder(path)) continue;
            made = true;
            attributes = disk::Attributes(path);
        }
        if (IsPlainFolder(attributes)) {
            if (permissionsFrom.empty() || (keep.known() && StillTheSameFolder(path, keep))) return true;
            // One found there (left by a junction that failed) is given them as well
            // where the model can be read; one made here must have them.
            if (CopyFolderPermissions(permissionsFrom, path) || !made) return true;
            continue;
        }
        // A file or a link stands there: no second look changes that.
        if (Exists(attributes)) return false;
    }
    return false;
}
